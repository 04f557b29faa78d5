#include "RingRecovery.h"

#include "CaptureLog.h"
#include "ClockNotes.h"
#include "ExitStatus.h"
#include "RecordingMetadata.h"
#include "Util/HResultCheck.h"
#include "Util/Logger.h"
#include "platform/files/NameLock.h"
#include "ring/Export.h"
#include "ring/RemoveRingFiles.h"
#include "ring/RingMediaTypes.h"
#include "ring/RingPaths.h"
#include "ring/RingSurvey.h"
#include <mfapi.h>
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

int Fail(const std::string& message, int status = ExitSaveFailed) {
    std::fprintf(stderr, "pyx-video: %s\n", message.c_str());
    return status;
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

// The captures and the recorded process as the recorder noted them beside the ring; none for a ring whose
// recorder kept no notes, or notes that cannot be read, which are then passed over with a warning.
struct ClockNotes {
    CaptureLog log;
    std::uint32_t pid = 0;
};

std::optional<ClockNotes> LoadClockNotes(const std::wstring& name) {
    std::string error;
    const std::optional<std::string> text = ReadClockNotes(name, error);
    ClockNotes notes;
    if (text && CaptureLog::Parse(*text, notes.log, notes.pid))
        return notes;
    if (text)
        error = RingClockPath(name).string() + " are not clock notes of this recorder";
    if (!error.empty())
        std::fprintf(stderr, "pyx-video: %s; NAME.json gets no picture times\n", error.c_str());
    return std::nullopt;
}

// NAME.json of an export. Without the recorder's clock notes only what the pictures themselves say is filled
// in: the ring holds neither the capture clock's times nor the recorded process or the encoders' names.
void WriteExportMetadata(const std::wstring& name, IMFMediaType* videoType, const ExportResult& result,
                         const std::string& error) {
    RecordingMetadata metadata;
    metadata.recorderVersion = RecorderVersion();
    metadata.saveReason = "export";
    if (videoType != nullptr)
        LogIfFailed(MFGetAttributeSize(videoType, MF_MT_FRAME_SIZE, &metadata.width, &metadata.height),
                    "MFGetAttributeSize( videoType, MF_MT_FRAME_SIZE, &width, &height )");
    if (const std::optional<ClockNotes> notes = LoadClockNotes(name)) {
        metadata.pid = notes->pid;
        if (result.pictures)
            notes->log.Describe(*result.pictures, metadata);
    }
    SetExportResult(result, metadata);
    if (!error.empty())
        metadata.error = error;
    try {
        WriteRecordingMetadata(name, metadata);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pyx-video: %s\n", e.what());
    }
}

int Recover(const std::wstring& name) {
    const std::string shownName = WideToUtf8(name);
    std::string error;
    const std::optional<RingSurvey> survey = SurveyRing(name, error);
    if (!survey)
        return Fail("unable to read the ring files of " + shownName + ": " + error);
    if (!survey->keyFrame)
        return Fail("no readable video key frame in the ring files of " + shownName);

    ExportResult result;
    ComPtr<IMFMediaType> videoType;
    try {
        videoType = CreateVideoTypeFromKeyFrame(*survey->keyFrame);
        ComPtr<IMFMediaType> audioType = survey->audioPackets > 0 ? CreateRecordedAudioType() : nullptr;
        result = Export(name, name, videoType.Get(), audioType.Get());
    } catch (const std::exception& e) {
        const std::string failure = "export of " + shownName + " failed: " + e.what();
        WriteExportMetadata(name, videoType.Get(), result, failure);
        return Fail(failure);
    }
    WriteExportMetadata(name, videoType.Get(), result, {});
    const std::string finalPath = shownName + ".mp4";
    switch (result.outcome) {
    case ExportResult::Outcome::Failed:
        return Fail(result.failure + "; the ring files are kept");
    case ExportResult::Outcome::Empty:
        return Fail("export of " + shownName + " failed; the ring files are kept");
    case ExportResult::Outcome::Partial:
        return Fail("the ring files of " + shownName + " are damaged: " + result.damage.Describe() + "; " +
                        (result.failure.empty() ? "the rest is in " + finalPath : result.failure) +
                        ", and the ring files are kept",
                    ExitPartialExport);
    case ExportResult::Outcome::Written:
        break;
    }
    try {
        RemoveRingFiles(name);
    } catch (const std::exception& e) {
        return Fail("wrote " + finalPath + " but could not remove the ring files: " + e.what());
    }
    std::printf("%s: %d packets (%zu video and %zu audio in the ring)\n", finalPath.c_str(), result.packets,
                survey->videoPackets, survey->audioPackets);
    return ExitSaved;
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
    if (name.empty() || argc > (std::string_view(argv[1]) == Command ? 3 : 2))
        return Fail("usage: pyx-video --export NAME", ExitBadCommandLine);
    const std::unique_ptr<Logger> logger = EnsureLogger();
    // A recorder still writing NAME, or another export of it, owns the ring files.
    std::unique_ptr<NameLock> lock;
    std::string lockError;
    const std::wstring wideName = Utf8ToWide(name);
    const NameLock::Result locked = NameLock::Acquire(RingLockPath(wideName).native(), lock, lockError);
    int exitCode;
    if (locked == NameLock::Result::InUse)
        exitCode = Fail(lockError + "; nothing was touched", ExitNameInUse);
    else if (locked == NameLock::Result::Failed)
        exitCode = Fail(lockError);
    else
        exitCode = Recover(wideName);
    lock.reset();
    if (logger)
        Logger::Register(nullptr);
    return exitCode;
}
