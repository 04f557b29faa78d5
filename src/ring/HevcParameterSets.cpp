#include "HevcParameterSets.h"

#include "AnnexB.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int VpsType = 32;
constexpr int SpsType = 33;
constexpr int PpsType = 34;
constexpr std::uint32_t MaxSubLayersMinus1 = 6;
constexpr std::uint32_t MaxSpsId = 15;
constexpr std::uint32_t MaxPpsId = 63;
constexpr std::uint32_t MaxBitDepthMinus8 = 8;
constexpr std::uint32_t MaxPocLsbBits = 16;
constexpr std::uint32_t MaxShortTermSets = 64;
constexpr std::uint32_t MaxReferencePictures = 16;
constexpr std::uint32_t MaxLongTermPictures = 32;

void SkipScalingListData(BitReader& bits) {
    for (int size = 0; size < 4; ++size) {
        for (int matrix = 0; matrix < 6; matrix += size == 3 ? 3 : 1) {
            if (!bits.Flag()) {
                bits.UnsignedGolomb(); // scaling_list_pred_matrix_id_delta
                continue;
            }
            if (size > 1)
                bits.SignedGolomb(); // scaling_list_dc_coef_minus8
            const int coefficients = std::min(64, 1 << (4 + (size << 1)));
            for (int i = 0; i < coefficients && !bits.Overrun(); ++i)
                bits.SignedGolomb();
        }
    }
}

// st_ref_pic_set( index ) of an SPS; `deltaPocs` holds each earlier set's picture count.
bool SkipShortTermSet(BitReader& bits, std::uint32_t index, std::vector<std::uint32_t>& deltaPocs) {
    if (index != 0 && bits.Flag()) { // predicted from the set before
        bits.Skip(1);                // delta_rps_sign
        bits.UnsignedGolomb();       // abs_delta_rps_minus1
        std::uint32_t count = 0;
        for (std::uint32_t j = 0; j <= deltaPocs[index - 1] && !bits.Overrun(); ++j) {
            const bool used = bits.Flag();
            if (used || bits.Flag())
                ++count;
        }
        deltaPocs[index] = count;
        return count <= 2 * MaxReferencePictures;
    }
    const std::uint32_t negative = bits.UnsignedGolomb();
    const std::uint32_t positive = bits.UnsignedGolomb();
    if (negative > MaxReferencePictures || positive > MaxReferencePictures)
        return false;
    for (std::uint32_t i = 0; i < negative + positive; ++i) {
        bits.UnsignedGolomb(); // delta_poc_s0/s1_minus1
        bits.Skip(1);          // used_by_curr_pic_s0/s1_flag
    }
    deltaPocs[index] = negative + positive;
    return true;
}

bool CheckVps(BitReader& bits) {
    bits.Skip(12); // id, base layer flags, max layers
    const std::uint32_t maxSubLayersMinus1 = bits.Bits(3);
    if (maxSubLayersMinus1 > MaxSubLayersMinus1)
        return false;
    bits.Skip(17); // temporal id nesting, reserved 0xffff
    SkipHevcProfileTierLevel(bits, maxSubLayersMinus1);
    return !bits.Overrun();
}

bool CheckSps(BitReader& bits) {
    bits.Skip(4); // video parameter set id
    const std::uint32_t maxSubLayersMinus1 = bits.Bits(3);
    if (maxSubLayersMinus1 > MaxSubLayersMinus1)
        return false;
    bits.Skip(1); // temporal id nesting
    SkipHevcProfileTierLevel(bits, maxSubLayersMinus1);
    if (bits.UnsignedGolomb() > MaxSpsId)
        return false;
    const std::uint32_t chromaFormat = bits.UnsignedGolomb();
    if (chromaFormat > 3)
        return false;
    if (chromaFormat == 3)
        bits.Skip(1); // separate colour planes
    const std::uint32_t width = bits.UnsignedGolomb();
    const std::uint32_t height = bits.UnsignedGolomb();
    if (width == 0 || height == 0)
        return false;
    if (bits.Flag()) // conformance window
        for (int side = 0; side < 4; ++side)
            bits.UnsignedGolomb();
    if (bits.UnsignedGolomb() > MaxBitDepthMinus8 || bits.UnsignedGolomb() > MaxBitDepthMinus8)
        return false;
    const std::uint32_t pocLsbBits = bits.UnsignedGolomb() + 4;
    if (pocLsbBits > MaxPocLsbBits)
        return false;
    for (std::uint32_t i = bits.Flag() ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i)
        for (int field = 0; field < 3; ++field) // picture buffering, reordering, latency
            bits.UnsignedGolomb();
    for (int field = 0; field < 6; ++field) // coding and transform block sizes and depths
        bits.UnsignedGolomb();
    if (bits.Flag() && bits.Flag()) // scaling lists enabled and sent
        SkipScalingListData(bits);
    bits.Skip(2);      // asymmetric motion partitions, sample adaptive offset
    if (bits.Flag()) { // PCM
        bits.Skip(8);
        bits.UnsignedGolomb();
        bits.UnsignedGolomb();
        bits.Skip(1);
    }
    const std::uint32_t shortTermSets = bits.UnsignedGolomb();
    if (shortTermSets > MaxShortTermSets)
        return false;
    std::vector<std::uint32_t> deltaPocs(shortTermSets);
    for (std::uint32_t i = 0; i < shortTermSets && !bits.Overrun(); ++i)
        if (!SkipShortTermSet(bits, i, deltaPocs))
            return false;
    if (bits.Flag()) { // long-term pictures
        const std::uint32_t longTermPictures = bits.UnsignedGolomb();
        if (longTermPictures > MaxLongTermPictures)
            return false;
        for (std::uint32_t i = 0; i < longTermPictures; ++i)
            bits.Skip(pocLsbBits + 1); // their order count bits, used by the current picture
    }
    bits.Skip(3); // temporal motion vector prediction, strong intra smoothing, VUI present
    return !bits.Overrun();
}

bool CheckPps(BitReader& bits) {
    if (bits.UnsignedGolomb() > MaxPpsId || bits.UnsignedGolomb() > MaxSpsId)
        return false;
    bits.Skip(7);          // dependent slices, output flag, extra slice header bits, sign hiding, CABAC init
    bits.UnsignedGolomb(); // reference indexes, list 0
    bits.UnsignedGolomb(); // list 1
    bits.SignedGolomb();   // initial QP
    bits.Skip(2);          // constrained intra prediction, transform skip
    if (bits.Flag())       // QP deltas
        bits.UnsignedGolomb();
    bits.SignedGolomb(); // Cb and Cr QP offsets
    bits.SignedGolomb();
    bits.Skip(6); // slice QP offsets, weighted prediction, bypass, tiles, wavefronts
    return !bits.Overrun();
}

} // namespace

void SkipHevcProfileTierLevel(BitReader& bits, std::uint32_t maxSubLayersMinus1) {
    bits.Skip(88); // general profile space, tier, profile, compatibility and constraint flags
    bits.Skip(8);  // general level
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = bits.Flag();
        levelPresent[i] = bits.Flag();
    }
    if (maxSubLayersMinus1 > 0)
        bits.Skip(2 * (8 - maxSubLayersMinus1));
    for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i])
            bits.Skip(88);
        if (levelPresent[i])
            bits.Skip(8);
    }
}

bool IsSoundHevcParameterSet(std::span<const std::uint8_t> unit) {
    if (unit.size() < 3)
        return false;
    const std::vector<std::uint8_t> raw = UnescapeNalUnit(unit.subspan(2));
    BitReader bits(raw);
    switch ((unit[0] >> 1) & 0x3F) {
    case VpsType:
        return CheckVps(bits);
    case SpsType:
        return CheckSps(bits);
    case PpsType:
        return CheckPps(bits);
    default:
        return false;
    }
}
