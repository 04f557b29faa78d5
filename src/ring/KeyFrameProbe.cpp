#include "KeyFrameProbe.h"

#include "AnnexB.h"
#include "BitReader.h"
#include "HevcParameterSets.h"

#include <algorithm>

namespace {

using Units = std::vector<std::span<const std::uint8_t>>;

constexpr int H264Sps = 7;
constexpr int H264Pps = 8;
constexpr int HevcVps = 32;
constexpr int HevcSps = 33;
constexpr int HevcPps = 34;

int H264Type(std::span<const std::uint8_t> unit) { return unit[0] & 0x1F; }

// HEVC's two-byte header: forbidden bit clear, layer 0, temporal id plus one never 0. Units of H.264 rarely
// satisfy all three, so this also tells the codecs apart.
bool IsHevcHeader(std::span<const std::uint8_t> unit) {
    return unit.size() >= 2 && (unit[0] & 0x80) == 0 && (((unit[0] & 1) << 5) | (unit[1] >> 3)) == 0 &&
           (unit[1] & 7) != 0;
}

int HevcType(std::span<const std::uint8_t> unit) { return (unit[0] >> 1) & 0x3F; }

bool IsHevcParameterSet(std::span<const std::uint8_t> unit) {
    const int type = HevcType(unit);
    return type == HevcVps || type == HevcSps || type == HevcPps;
}

// Whether every parameter set unit of an HEVC access unit is sound.
bool HevcParameterSetsSound(const Units& units) {
    return std::all_of(units.begin(), units.end(),
                       [](auto unit) { return !IsHevcParameterSet(unit) || IsSoundHevcParameterSet(unit); });
}

void SkipScalingList(BitReader& bits, int size) {
    int last = 8;
    int next = 8;
    for (int i = 0; i < size && next != 0; ++i) {
        next = (last + bits.SignedGolomb() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

bool ParseH264Size(std::span<const std::uint8_t> sps, KeyFrameInfo& info) {
    const std::vector<std::uint8_t> raw = UnescapeNalUnit(sps.subspan(1));
    BitReader bits(raw);
    const std::uint32_t profile = bits.Bits(8);
    bits.Skip(16); // constraint flags, level
    bits.UnsignedGolomb();
    std::uint32_t chromaFormat = 1;
    bool separateColourPlanes = false;
    static constexpr std::uint32_t HighProfiles[] = {100, 110, 122, 244, 44,  83, 86,
                                                     118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(HighProfiles), std::end(HighProfiles), profile) != std::end(HighProfiles)) {
        chromaFormat = bits.UnsignedGolomb();
        if (chromaFormat == 3)
            separateColourPlanes = bits.Flag();
        bits.UnsignedGolomb(); // luma bit depth
        bits.UnsignedGolomb(); // chroma bit depth
        bits.Skip(1);
        if (bits.Flag()) {
            const int lists = chromaFormat == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i)
                if (bits.Flag())
                    SkipScalingList(bits, i < 6 ? 16 : 64);
        }
    }
    bits.UnsignedGolomb(); // log2_max_frame_num_minus4
    const std::uint32_t pocType = bits.UnsignedGolomb();
    if (pocType == 0) {
        bits.UnsignedGolomb();
    } else if (pocType == 1) {
        bits.Skip(1);
        bits.SignedGolomb();
        bits.SignedGolomb();
        const std::uint32_t cycle = bits.UnsignedGolomb();
        for (std::uint32_t i = 0; i < cycle && !bits.Overrun(); ++i)
            bits.SignedGolomb();
    }
    bits.UnsignedGolomb(); // max_num_ref_frames
    bits.Skip(1);
    const std::uint32_t widthInMbs = bits.UnsignedGolomb() + 1;
    const std::uint32_t heightInMapUnits = bits.UnsignedGolomb() + 1;
    const bool frameMbsOnly = bits.Flag();
    if (!frameMbsOnly)
        bits.Skip(1);
    bits.Skip(1);
    std::uint32_t crop[4] = {0, 0, 0, 0}; // left, right, top, bottom
    if (bits.Flag())
        for (std::uint32_t& side : crop)
            side = bits.UnsignedGolomb();
    if (bits.Overrun())
        return false;
    const bool monochrome = chromaFormat == 0 || separateColourPlanes;
    const std::uint32_t cropUnitX = monochrome ? 1 : (chromaFormat == 3 ? 1 : 2);
    const std::uint32_t cropUnitY = (monochrome ? 1 : (chromaFormat == 1 ? 2 : 1)) * (frameMbsOnly ? 1 : 2);
    const std::uint64_t width = std::uint64_t(widthInMbs) * 16;
    const std::uint64_t height = std::uint64_t(heightInMapUnits) * 16 * (frameMbsOnly ? 1 : 2);
    const std::uint64_t cropX = std::uint64_t(cropUnitX) * (crop[0] + crop[1]);
    const std::uint64_t cropY = std::uint64_t(cropUnitY) * (crop[2] + crop[3]);
    if (cropX >= width || cropY >= height)
        return false;
    info.width = static_cast<std::uint32_t>(width - cropX);
    info.height = static_cast<std::uint32_t>(height - cropY);
    return true;
}

bool ParseHevcSize(std::span<const std::uint8_t> sps, KeyFrameInfo& info) {
    const std::vector<std::uint8_t> raw = UnescapeNalUnit(sps.subspan(2));
    BitReader bits(raw);
    bits.Skip(4); // video parameter set id
    const std::uint32_t maxSubLayersMinus1 = bits.Bits(3);
    bits.Skip(1);
    if (maxSubLayersMinus1 > 6)
        return false;
    SkipHevcProfileTierLevel(bits, maxSubLayersMinus1);
    bits.UnsignedGolomb(); // sequence parameter set id
    const std::uint32_t chromaFormat = bits.UnsignedGolomb();
    bool separateColourPlanes = false;
    if (chromaFormat == 3)
        separateColourPlanes = bits.Flag();
    const std::uint32_t width = bits.UnsignedGolomb();
    const std::uint32_t height = bits.UnsignedGolomb();
    std::uint32_t window[4] = {0, 0, 0, 0}; // left, right, top, bottom
    if (bits.Flag())
        for (std::uint32_t& side : window)
            side = bits.UnsignedGolomb();
    if (bits.Overrun())
        return false;
    const bool subsampled = chromaFormat != 0 && !separateColourPlanes;
    const std::uint64_t unitX = subsampled && chromaFormat != 3 ? 2 : 1;
    const std::uint64_t unitY = subsampled && chromaFormat == 1 ? 2 : 1;
    const std::uint64_t cropX = unitX * (std::uint64_t(window[0]) + window[1]);
    const std::uint64_t cropY = unitY * (std::uint64_t(window[2]) + window[3]);
    if (cropX >= width || cropY >= height)
        return false;
    info.width = static_cast<std::uint32_t>(width - cropX);
    info.height = static_cast<std::uint32_t>(height - cropY);
    return true;
}

// Appends the units whose type is in `types`, in stream order, each behind a 4-byte start code; null when one
// of the types is missing.
template <class TypeOf>
std::optional<std::vector<std::uint8_t>>
CollectParameterSets(const Units& units, std::initializer_list<int> types, TypeOf typeOf,
                     std::span<const std::uint8_t>* sps, int spsType) {
    std::vector<std::uint8_t> sets;
    for (const int type : types) {
        auto it = std::find_if(units.begin(), units.end(), [&](auto unit) { return typeOf(unit) == type; });
        if (it == units.end())
            return std::nullopt;
    }
    for (const auto& unit : units) {
        const int type = typeOf(unit);
        if (std::find(types.begin(), types.end(), type) == types.end())
            continue;
        if (type == spsType && sps->empty())
            *sps = unit;
        static constexpr std::uint8_t StartCode[] = {0, 0, 0, 1};
        sets.insert(sets.end(), std::begin(StartCode), std::end(StartCode));
        sets.insert(sets.end(), unit.begin(), unit.end());
    }
    return sets;
}

} // namespace

std::optional<KeyFrameInfo> ProbeKeyFrame(std::span<const std::uint8_t> accessUnit) {
    const Units units = SplitAnnexB(accessUnit);
    if (units.empty())
        return std::nullopt;
    KeyFrameInfo info;
    std::span<const std::uint8_t> sps;
    if (std::all_of(units.begin(), units.end(), IsHevcHeader)) {
        auto sets = CollectParameterSets(units, {HevcVps, HevcSps, HevcPps}, HevcType, &sps, HevcSps);
        if (sets && ParseHevcSize(sps, info) && HevcParameterSetsSound(units)) {
            info.codec = VideoCodec::Hevc;
            info.parameterSets = std::move(*sets);
            return info;
        }
        return std::nullopt;
    }
    auto sets = CollectParameterSets(units, {H264Sps, H264Pps}, H264Type, &sps, H264Sps);
    if (sets && ParseH264Size(sps, info)) {
        info.codec = VideoCodec::H264;
        info.parameterSets = std::move(*sets);
        return info;
    }
    return std::nullopt;
}

bool HasMalformedHevcParameterSets(std::span<const std::uint8_t> accessUnit) {
    const Units units = SplitAnnexB(accessUnit);
    return !units.empty() && std::all_of(units.begin(), units.end(), IsHevcHeader) &&
           std::any_of(units.begin(), units.end(), IsHevcParameterSet) && !HevcParameterSetsSound(units);
}
