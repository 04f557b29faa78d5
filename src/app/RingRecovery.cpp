#include "RingRecovery.h"

#include "Util/Logger.h"
#include "ring/Export.h"
#include "ring/RemoveRingFiles.h"
#include "ring/RingMediaTypes.h"
#include "ring/RingSurvey.h"
#include <stringapiset.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view Command = "--export";

int Fail(const std::string& message) {
    std::fprintf(stderr, "pyx-video: %s\n", message.c_str());
    return 1;
}

// The export logs through the process logger; without one its error lines would be lost.
std::unique_ptr<Logger> EnsureLogger() {
    if (Logger::Instance() != nullptr)
        return nullptr;
    auto logger = std::make_unique<Logger>();
    logger->SetMinimumLevel(Logger::Info);
    Logger::Register(logger.get());
    return logger;
}

int Recover(const std::wstring& name) {
    const std::string shownName = WideToUtf8(name);
    const std::optional<RingSurvey> survey = SurveyRing(name);
    if (!survey)
        return Fail("unable to read the ring files of " + shownName);
    if (!survey->keyFrame)
        return Fail("no readable video key frame in the ring files of " + shownName);

    // Written under a temporary name first, so a failed export leaves an existing NAME.mp4 alone.
    const std::wstring partialName = name + L".export";
    const std::filesystem::path partialPath = WideToUtf8(partialName + L".mp4");
    const std::filesystem::path finalPath = WideToUtf8(name + L".mp4");
    std::error_code error;
    try {
        ComPtr<IMFMediaType> videoType = CreateVideoTypeFromKeyFrame(*survey->keyFrame);
        ComPtr<IMFMediaType> audioType = survey->audioPackets > 0 ? CreateRecordedAudioType() : nullptr;
        Export(name, partialName, videoType.Get(), audioType.Get());
    } catch (const std::exception& e) {
        std::filesystem::remove(partialPath, error);
        return Fail("export of " + shownName + " failed: " + e.what());
    }
    const std::uintmax_t size = std::filesystem::file_size(partialPath, error);
    if (error || size == 0) {
        std::filesystem::remove(partialPath, error);
        return Fail("export of " + shownName + " failed; the ring files are kept");
    }
    std::filesystem::rename(partialPath, finalPath, error);
    if (error) {
        std::filesystem::remove(partialPath, error);
        return Fail("unable to write " + finalPath.string() + ": " + error.message());
    }
    try {
        RemoveRingFiles(name);
    } catch (const std::exception& e) {
        return Fail("wrote " + finalPath.string() + " but could not remove the ring files: " + e.what());
    }
    std::printf("%s: %ju bytes, %zu video and %zu audio packets\n", finalPath.c_str(), size,
                survey->videoPackets, survey->audioPackets);
    return 0;
}

} // namespace

bool IsRingRecoveryCommand(int argc, const char* const argv[]) {
    if (argc < 2)
        return false;
    const std::string_view first = argv[1];
    return first == Command ||
           (first.starts_with(Command) && first.size() > Command.size() && first[Command.size()] == '=');
}

int RunRingRecovery(int argc, const char* const argv[]) {
    std::string_view name;
    if (argc >= 2 && std::string_view(argv[1]) == Command) {
        if (argc >= 3)
            name = argv[2];
    } else if (argc >= 2) {
        name = std::string_view(argv[1]).substr(Command.size() + 1);
    }
    if (name.empty())
        return Fail("usage: pyx-video --export NAME");
    const std::unique_ptr<Logger> logger = EnsureLogger();
    const int exitCode = Recover(Utf8ToWide(name));
    if (logger)
        Logger::Register(nullptr);
    return exitCode;
}
