#pragma once
// The mapped views of this process, by base address, so that a view can be unmapped with its length.

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>

class ViewRegistry {
public:
    static ViewRegistry& Instance();

    void Add(const void* base, std::size_t length);
    // Removes the view that starts at base and returns its length; nothing for an unknown address.
    std::optional<std::size_t> Take(const void* base);

private:
    std::mutex m_mutex;
    std::map<const void*, std::size_t> m_views;
};
