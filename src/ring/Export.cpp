#include "Export.h"

#include "Mp4Writer.h"
#include "RingFile.h"
#include "RingReplay.h"

#include "Util/HResultCheck.h"
#include "Util/Logger.h"

#include <memory>

namespace {

// Holds one platform start-up for the duration of the export, also when the writer's creation throws.
class PlatformStartup {
public:
    PlatformStartup()
        : m_started(SUCCEEDED(LogIfFailed(MFStartup(MF_VERSION, MFSTARTUP_FULL),
                                          "MFStartup( MF_VERSION, MFSTARTUP_FULL )"))) {}
    ~PlatformStartup() {
        if (m_started)
            LogIfFailed(MFShutdown(), "MFShutdown()");
    }
    PlatformStartup(const PlatformStartup&) = delete;
    PlatformStartup& operator=(const PlatformStartup&) = delete;

private:
    bool m_started;
};

} // namespace

void Export(const std::wstring& ringName, const std::wstring& outputName, IMFMediaType* videoType,
            IMFMediaType* audioType) {
    PlatformStartup startup;
    const std::wstring path = outputName + L".mp4";
    Mp4Writer writer(path, videoType, audioType, nullptr, nullptr, nullptr, true);
    writer.BeginWriting();

    LogDebug("reading the ringfile...");
    auto ring = std::make_unique<RingFile>();
    if (ring->OpenForRead(ringName)) {
        LogError("unable to read the ringfile");
    } else {
        const int count = ReplayRing(*ring, writer);
        LogDebug("%d packets in the ringfile", count);
        writer.Finalize();
        ring->Close();
    }
    ring.reset();
}
