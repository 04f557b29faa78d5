#include "RingRecordCheck.h"

#include <cstring>

namespace {

constexpr uint64_t HeaderSize = sizeof(RingPacketHeader);

bool KnownFlags(uint32_t flags) {
    const uint32_t kind = flags & ~RingFlagKeyFrame;
    return kind == 0 || kind == (static_cast<uint32_t>(RingStreamKind::Audio) | RingFlagAudio);
}

// The distance between two times on the wrapping 32-bit timeline, whichever comes first.
uint32_t Distance(uint32_t a, uint32_t b) {
    const uint32_t forward = a - b;
    const uint32_t backward = b - a;
    return forward < backward ? forward : backward;
}

bool ReadHeader(const RingMapping& data, uint64_t offset, RingPacketHeader& header) {
    if (offset > data.Size() || data.Size() - offset < HeaderSize)
        return false;
    std::memcpy(&header, data.Data() + offset, HeaderSize);
    return true;
}

} // namespace

std::string RingDamage::Describe() const {
    std::string text;
    if (skippedStretches != 0)
        text = std::to_string(skippedStretches) + " damaged stretch" + (skippedStretches == 1 ? "" : "es") +
               " (" + std::to_string(skippedBytes) + " bytes) skipped";
    if (ignoredIndexEntries != 0) {
        if (!text.empty())
            text += ", ";
        text += std::to_string(ignoredIndexEntries) + " index entr" +
                (ignoredIndexEntries == 1 ? "y" : "ies") + " ignored";
    }
    if (malformedPictures != 0) {
        if (!text.empty())
            text += ", ";
        text += std::to_string(malformedPictures) + " picture" + (malformedPictures == 1 ? "" : "s") +
                " with malformed parameter sets left out";
    }
    return text;
}

void RingRecordCheck::Reset() {
    m_damage = {};
    m_hasTime = false;
    m_lastTime = 0;
}

bool RingRecordCheck::Fits(const RingMapping& data, uint64_t offset, RingPacketHeader& header) const {
    return ReadHeader(data, offset, header) && header.size <= data.Size() - offset - HeaderSize;
}

bool RingRecordCheck::Usable(const RingPacketHeader& header) const {
    return KnownFlags(header.flags) && header.duration <= MaxStepTicks &&
           (!m_hasTime || Distance(header.timestamp, m_lastTime) <= MaxStepTicks);
}

// The record after a candidate must look like one too (or the file must end there): a match inside a
// payload is rarely followed by a second one.
bool RingRecordCheck::SuccessorUsable(const RingMapping& data, uint64_t offset,
                                      const RingPacketHeader& header) const {
    const uint64_t next = offset + HeaderSize + header.size;
    if (next == data.Size())
        return true;
    RingPacketHeader successor;
    return ReadHeader(data, next, successor) && KnownFlags(successor.flags) &&
           Distance(successor.timestamp, header.timestamp) <= MaxStepTicks;
}

void RingRecordCheck::Skip(uint64_t bytes) {
    ++m_damage.skippedStretches;
    m_damage.skippedBytes += bytes;
}

bool RingRecordCheck::Find(const RingMapping& data, uint64_t& offset, bool lastPlayed,
                           const std::function<bool(uint64_t)>& indexed, RingPacketHeader& header) {
    const uint64_t size = data.Size();
    if (offset >= size)
        return false;
    RingPacketHeader record;
    // Damage is skipped up to the next offset that holds a usable record followed by another one.
    for (uint64_t candidate = offset; candidate < size; ++candidate) {
        if (!Fits(data, candidate, record))
            continue;
        // An encoder never makes an empty packet, so an empty record found by searching is a chance match.
        const bool found =
            candidate == offset || (record.size != 0 && SuccessorUsable(data, candidate, record));
        if (indexed(candidate) || (Usable(record) && found)) {
            if (candidate != offset)
                Skip(candidate - offset);
            offset = candidate;
            header = record;
            m_hasTime = true;
            m_lastTime = record.timestamp;
            return true;
        }
    }
    // Nothing readable follows. A last record that was being written when the writer stopped is no damage.
    const bool cutOff =
        !ReadHeader(data, offset, record) || (Usable(record) && record.size > size - offset - HeaderSize);
    if (!(lastPlayed && cutOff))
        Skip(size - offset);
    offset = size;
    return false;
}
