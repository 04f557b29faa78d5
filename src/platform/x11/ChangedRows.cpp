#include "ChangedRows.h"

#include <algorithm>

namespace x11 {

namespace {

RowSpan Union(RowSpan a, RowSpan b) {
    if (a.Empty())
        return b;
    if (b.Empty())
        return a;
    return RowSpan{std::min(a.top, b.top), std::max(a.bottom, b.bottom)};
}

} // namespace

void ChangedRows::Add(RowSpan rows) {
    for (auto& [picture, owed] : m_owed)
        owed = Union(owed, rows);
}

void ChangedRows::AddAll() { Add(RowSpan{0, Whole}); }

RowSpan ChangedRows::ToRewrite(const std::byte* picture, bool kept) const {
    const auto known = m_owed.find(picture);
    if (!kept || known == m_owed.end())
        return RowSpan{0, Whole};
    return known->second;
}

void ChangedRows::Written(const std::byte* picture, RowSpan overlay) {
    if (m_owed.size() >= MaxPictures && m_owed.find(picture) == m_owed.end())
        m_owed.clear();
    m_owed[picture] = overlay;
}

void ChangedRows::Forget(const std::byte* picture) { m_owed.erase(picture); }

} // namespace x11
