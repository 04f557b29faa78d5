#pragma once
// Where the segments of the ring named NAME live: parent(NAME) / (stem(NAME) + i) + extension(NAME) for the
// data file of segment i, and the same with ".idx" for its index file.

#include <filesystem>
#include <string>

// The ring's segments, numbered from 0: the writer fills one while the other keeps the history before it.
constexpr unsigned RingSegmentCount = 2;

std::filesystem::path RingDataPath(const std::wstring& name, unsigned segment);
std::filesystem::path RingIndexPath(const std::wstring& name, unsigned segment);
// The lock file of the recording NAME: parent(NAME) / (stem(NAME) + ".lock"), no longer than an index file's
// name, so it fits wherever the ring fits.
std::filesystem::path RingLockPath(const std::wstring& name);

// Where the recorder notes the capture clock beside the ring: parent(NAME) / (stem(NAME) + ".clk"), no longer
// than an index file's name either.
std::filesystem::path RingClockPath(const std::wstring& name);

// The wide form that CreateFileW takes.
std::wstring RingPathToWide(const std::filesystem::path& path);
