#pragma once
// Files created new: a fresh name beside the final one (O_EXCL), renamed over the final name once it is
// ready, so a link or another user's file at the final path is replaced, never written through, and a reader
// never sees it half-written. The fresh names are short, so they fit wherever the final name fits.

#include <handleapi.h>

#include <filesystem>
#include <string>

// A name for a new file in the folder of `path`, ending in `suffix`; nothing is created.
std::filesystem::path FreshPathBeside(const std::filesystem::path& path, const std::string& suffix);

// Creates a new file for writing at a fresh name beside `path` and gives its handle and name; null with
// `error` in words when no file could be created.
HANDLE CreateFreshFile(const std::filesystem::path& path, const std::string& suffix,
                       std::filesystem::path& fresh, std::string& error);

// Creates a new empty file that replaces whatever is at `path` and returns its write handle (shared for
// reading); null with `error` in words, naming the path, when it cannot.
HANDLE CreateReplacingFile(const std::filesystem::path& path, std::string& error);

// Writes `text` as the whole of a new file that replaces whatever is at `path`; false with `error` in words,
// naming the path, when it cannot (nothing is then left behind).
bool WriteWholeFile(const std::filesystem::path& path, const std::string& suffix, const std::string& text,
                    std::string& error);

// Renames `fresh` over `path`; false with `error` in words, naming the path, when it cannot.
bool ReplaceWithFresh(const std::filesystem::path& fresh, const std::filesystem::path& path,
                      std::string& error);
