#include "ViewRegistry.h"

ViewRegistry& ViewRegistry::Instance() {
    static ViewRegistry registry;
    return registry;
}

void ViewRegistry::Add(const void* base, std::size_t length) {
    std::lock_guard lock(m_mutex);
    m_views[base] = length;
}

std::optional<std::size_t> ViewRegistry::Take(const void* base) {
    std::lock_guard lock(m_mutex);
    const auto it = m_views.find(base);
    if (it == m_views.end())
        return std::nullopt;
    const std::size_t length = it->second;
    m_views.erase(it);
    return length;
}
