#pragma once
// What each descriptor handed out as a handle is, so that waiting, resetting and closing treat it right.
// Descriptors missing from the table (inherited from the parent) are treated as manual-reset events.

#include <minwindef.h>

#include <mutex>
#include <optional>
#include <unordered_map>

enum class HandleKind { Event, Process, File, Mapping };

struct HandleEntry {
    HandleKind kind = HandleKind::Event;
    bool manualReset = true;
    ULONGLONG mappingSize = 0;
};

class HandleTable {
public:
    static HandleTable& Instance();

    // Moves the descriptor off 0 (the null handle), records it and returns its handle; on failure closes
    // the descriptor, sets the last error and returns null.
    HANDLE Register(int fd, const HandleEntry& entry);
    std::optional<HandleEntry> Find(int fd) const;
    // The descriptor behind a handle of the given kind, or -1 with ERROR_INVALID_HANDLE. Descriptors missing
    // from the table pass when allowUnregistered.
    int Lookup(HANDLE handle, HandleKind kind, bool allowUnregistered) const;
    void Remove(int fd);

private:
    mutable std::mutex m_mutex;
    std::unordered_map<int, HandleEntry> m_entries;
};
