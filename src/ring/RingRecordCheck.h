#pragma once
// Tells readable records of a ring data file from damage: a record must carry a known stream kind, fit in
// its file, and lie close in time to the record played before it (compared across the 32-bit wrap). Damage
// is skipped to the next record that passes, whose successor passes too, and counted.

#include "RingDamage.h"
#include "RingMapping.h"
#include "RingPacketHeader.h"

#include <cstdint>
#include <functional>

class RingRecordCheck {
public:
    // Farther apart than this, two neighbouring records cannot both be right: captures continue the
    // timeline where the previous one ended, so a real recording has no gaps of this size.
    static constexpr uint32_t MaxStepTicks = 60 * RingTicksPerSecond;

    // Forgets the damage counted and the time reference.
    void Reset();

    // The next usable record at or after `offset` of `data`: true with its header and `offset` at it, or
    // false when the file has none left. `indexed` tells whether the index vouches for a key frame at an
    // offset (such a record also resets the time reference). A record cut off at the end of the file is the
    // mark of a writer that was stopped, not damage, when `lastPlayed` (no other segment is played after it).
    bool Find(const RingMapping& data, uint64_t& offset, bool lastPlayed,
              const std::function<bool(uint64_t)>& indexed, RingPacketHeader& header);

    const RingDamage& Damage() const { return m_damage; }
    void CountIgnoredIndexEntries(uint64_t count) { m_damage.ignoredIndexEntries += count; }

private:
    bool Fits(const RingMapping& data, uint64_t offset, RingPacketHeader& header) const;
    bool Usable(const RingPacketHeader& header) const;
    bool SuccessorUsable(const RingMapping& data, uint64_t offset, const RingPacketHeader& header) const;
    void Skip(uint64_t bytes);

    RingDamage m_damage;
    bool m_hasTime = false;
    uint32_t m_lastTime = 0;
};
