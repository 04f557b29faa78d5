#include "RemoveRingFiles.h"

#include "RingPaths.h"

#include <system_error>
#include <vector>

namespace {

// The kinds of failure that mean nothing is there: no such entry, a path component that is not a directory,
// or a name too long to exist.
bool IsNotFound(const std::error_code& error) {
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory ||
           error == std::errc::filename_too_long;
}

bool Exists(const std::filesystem::path& path) {
    std::error_code error;
    // The entry itself is tested, not what a symbolic link names: it is the entry that remove() deletes.
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    if (error && !IsNotFound(error)) {
        throw std::filesystem::filesystem_error("exists", path, error);
    }
    return !error && std::filesystem::exists(status);
}

} // namespace

bool RemoveRingFiles(const std::wstring& name) {
    std::vector<std::filesystem::path> paths;
    for (unsigned segment = 0; segment < RingSegmentCount; ++segment) {
        paths.push_back(RingDataPath(name, segment));
        paths.push_back(RingIndexPath(name, segment));
    }
    paths.push_back(RingClockPath(name));
    bool allGone = true;
    for (const std::filesystem::path& path : paths) {
        if (!Exists(path)) {
            continue;
        }
        std::error_code error;
        std::filesystem::remove(path, error);
        if (error && !IsNotFound(error)) {
            throw std::filesystem::filesystem_error("remove", path, error);
        }
        allGone = allGone && !Exists(path);
    }
    return allGone;
}
