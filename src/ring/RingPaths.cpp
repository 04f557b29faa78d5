#include "RingPaths.h"

#include <stringapiset.h>

namespace {

// Decomposed on the UTF-8 form, the same bytes the file API opens, so no locale takes part.
std::filesystem::path SegmentPath(const std::wstring& name, unsigned segment, bool index) {
    const std::filesystem::path base(WideToUtf8(name));
    std::string fileName = base.stem().native() + std::to_string(segment);
    fileName += index ? std::string(".idx") : base.extension().native();
    return base.parent_path() / fileName;
}

} // namespace

std::filesystem::path RingDataPath(const std::wstring& name, unsigned segment) {
    return SegmentPath(name, segment, false);
}

std::filesystem::path RingIndexPath(const std::wstring& name, unsigned segment) {
    return SegmentPath(name, segment, true);
}

namespace {

std::filesystem::path BesideRing(const std::wstring& name, const char* extension) {
    const std::filesystem::path base(WideToUtf8(name));
    return base.parent_path() / (base.stem().native() + extension);
}

} // namespace

std::filesystem::path RingLockPath(const std::wstring& name) { return BesideRing(name, ".lock"); }

std::filesystem::path RingClockPath(const std::wstring& name) { return BesideRing(name, ".clk"); }

std::wstring RingPathToWide(const std::filesystem::path& path) { return Utf8ToWide(path.native()); }
