#pragma once
// Which rows of each picture a window source writes into changed since it last wrote there, so that a grab
// rewrites only those; the rest still holds the same pixels. Pictures are told apart by their memory. One
// the bookkeeping does not know, or whose content is unknown, is rewritten whole.

#include "FrameTarget.h"

#include <cstdint>
#include <unordered_map>

namespace x11 {

class ChangedRows {
public:
    static constexpr std::uint32_t Whole = UINT32_MAX;

    // These rows changed for every picture.
    void Add(RowSpan rows);
    // Everything changed (a resize, a map, a change that cannot be placed).
    void AddAll();
    // The rows to rewrite in `picture`, {0, Whole} for all of them; `kept` is false when the picture lost
    // what was last written into it.
    RowSpan ToRewrite(const std::byte* picture, bool kept) const;
    // After a write into `picture` succeeded: nothing is owed but the rows drawn over the content (the
    // pointer), which the next write must restore.
    void Written(const std::byte* picture, RowSpan overlay);
    // A write failed half-way: the picture is rewritten whole next time.
    void Forget(const std::byte* picture);

private:
    // A pool hands out a few pictures; more means old ones went away, and whole grabs are always safe.
    static constexpr std::size_t MaxPictures = 8;
    std::unordered_map<const std::byte*, RowSpan> m_owed;
};

} // namespace x11
