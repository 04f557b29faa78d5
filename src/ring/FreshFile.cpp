#include "FreshFile.h"

#include "RingPaths.h"

#include "Util/ErrorText.h"
#include <fileapi.h>

#include <mutex>
#include <random>

namespace {

constexpr int CreateAttempts = 16;

std::string RandomName() {
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::lock_guard lock(mutex);
    std::uniform_int_distribution<int> pick(0, sizeof(Letters) - 2);
    std::string name = ".pyx-";
    for (int i = 0; i < 10; ++i)
        name += Letters[pick(generator)];
    return name;
}

} // namespace

std::filesystem::path FreshPathBeside(const std::filesystem::path& path, const std::string& suffix) {
    return path.parent_path() / (RandomName() + suffix);
}

HANDLE CreateFreshFile(const std::filesystem::path& path, const std::string& suffix,
                       std::filesystem::path& fresh, std::string& error) {
    DWORD lastError = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < CreateAttempts && lastError == ERROR_FILE_EXISTS; ++attempt) {
        fresh = FreshPathBeside(path, suffix);
        const HANDLE file = CreateFileW(RingPathToWide(fresh).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE && file != nullptr)
            return file;
        lastError = GetLastError();
    }
    error = "unable to create a file beside " + path.string() + ": " + Win32ErrorText(lastError);
    return nullptr;
}

bool ReplaceWithFresh(const std::filesystem::path& fresh, const std::filesystem::path& path,
                      std::string& error) {
    std::error_code renameError;
    std::filesystem::rename(fresh, path, renameError);
    if (!renameError)
        return true;
    error = "unable to write " + path.string() + ": " + ErrorText(renameError);
    std::error_code ignored;
    std::filesystem::remove(fresh, ignored);
    return false;
}

HANDLE CreateReplacingFile(const std::filesystem::path& path, std::string& error) {
    std::filesystem::path fresh;
    const HANDLE file = CreateFreshFile(path, ".tmp", fresh, error);
    if (file == nullptr)
        return nullptr;
    if (!ReplaceWithFresh(fresh, path, error)) {
        CloseHandle(file);
        return nullptr;
    }
    return file;
}

bool WriteWholeFile(const std::filesystem::path& path, const std::string& suffix, const std::string& text,
                    std::string& error) {
    std::filesystem::path fresh;
    const HANDLE file = CreateFreshFile(path, suffix, fresh, error);
    if (file == nullptr)
        return false;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (!wrote || written != text.size()) {
        std::error_code ignored;
        std::filesystem::remove(fresh, ignored);
        error = "unable to write " + path.string();
        return false;
    }
    return ReplaceWithFresh(fresh, path, error);
}
