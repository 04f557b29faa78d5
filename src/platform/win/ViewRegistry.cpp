#include "ViewRegistry.h"

#include <algorithm>

ViewRegistry& ViewRegistry::Instance() {
    static ViewRegistry registry;
    return registry;
}

void ViewRegistry::Add(const void* base, std::size_t length, FileIdentity file) {
    std::lock_guard lock(m_mutex);
    m_views[base] = {length, file};
}

std::optional<std::size_t> ViewRegistry::Take(const void* base) {
    std::lock_guard lock(m_mutex);
    const auto it = m_views.find(base);
    if (it == m_views.end())
        return std::nullopt;
    const std::size_t length = it->second.length;
    m_views.erase(it);
    return length;
}

bool ViewRegistry::IsMapped(FileIdentity file) {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_views.begin(), m_views.end(), [&](const auto& view) {
        return view.second.file.device == file.device && view.second.file.inode == file.inode;
    });
}
