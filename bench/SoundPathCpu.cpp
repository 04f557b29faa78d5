// The sound path on its own, as the recorder runs it: the default output's loopback read by the audio branch,
// resampled and encoded to AAC through a media session into a sink that only counts the packets. Prints the
// packets, the seconds of sound they cover and the CPU time used.
//   sound-path-cpu SECONDS

#include "Capture/AudioCapturePipeline.h"
#include "Capture/CaptureOptions.h"
#include "CpuTime.h"
#include "Media/MediaSource.h"
#include "Util/HResultCheck.h"
#include <mfapi.h>
#include <mfidl.h>
#include <propidl.h>
#include <pyx/CaptureClock.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 2 || std::atoi(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: sound-path-cpu SECONDS\n");
        return 2;
    }
    const int seconds = std::atoi(argv[1]);
    ThrowIfFailed(MFStartup(MF_VERSION, MFSTARTUP_FULL), "MFStartup( MF_VERSION, MFSTARTUP_FULL )");
    std::atomic<std::uint64_t> packets{0};
    std::atomic<std::int64_t> covered{0};
    {
        CaptureOptions options;
        AudioCapturePipeline audio(
            options,
            [&](REFGUID, DWORD, LONGLONG, LONGLONG duration, const BYTE*, DWORD, IMFAttributes*) {
                ++packets;
                covered += duration;
            },
            0);
        IMFMediaType* types[] = {audio.MediaType()};
        ComPtr<MediaSource> source;
        ThrowIfFailed(MediaSource::CreateInstance(MediaSourceType::Server, 1, types, &source),
                      "MediaSource::CreateInstance( MediaSourceType::Server, 1, types, &source )");
        ComPtr<IMFTopology> topology;
        ThrowIfFailed(MFCreateTopology(&topology), "MFCreateTopology( &topology )");
        audio.AddToTopology(topology.Get(), source.Get());
        ComPtr<IMFMediaSession> session;
        ThrowIfFailed(MFCreateMediaSession(nullptr, &session), "MFCreateMediaSession( nullptr, &session )");
        ThrowIfFailed(session->SetTopology(0, topology.Get()), "session->SetTopology( 0, topology.Get() )");
        PROPVARIANT start;
        PropVariantInit(&start);
        ThrowIfFailed(session->Start(&GUID_NULL, &start), "session->Start( &GUID_NULL, &start )");
        audio.Start(pyx::CaptureTime().count());

        const double before = CpuSeconds();
        const auto began = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double cpu = CpuSeconds() - before;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        std::printf("packets: %llu\nsound covered (s): %.2f\nwall (s): %.2f\nCPU user+sys (s): %.3f\n"
                    "CPU, share of one core: %.4f\n",
                    static_cast<unsigned long long>(packets.load()), double(covered.load()) / 1e7, wall, cpu,
                    cpu / wall);
        audio.Stop();
        LogIfFailed(source->Shutdown(), "source->Shutdown()");
        LogIfFailed(session->Shutdown(), "session->Shutdown()");
    }
    MFShutdown();
    return 0;
}
