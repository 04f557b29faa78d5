#pragma once
// The mapped views of this process, by base address, so that a view can be unmapped with its length and a
// mapped file is not cut under its views.

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <sys/types.h>

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};

class ViewRegistry {
public:
    static ViewRegistry& Instance();

    void Add(const void* base, std::size_t length, FileIdentity file);
    // Removes the view that starts at base and returns its length; nothing for an unknown address.
    std::optional<std::size_t> Take(const void* base);
    bool IsMapped(FileIdentity file);

private:
    struct View {
        std::size_t length;
        FileIdentity file;
    };

    std::mutex m_mutex;
    std::map<const void*, View> m_views;
};
