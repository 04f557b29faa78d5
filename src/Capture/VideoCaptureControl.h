#pragma once
// The operations through which the recorder drives a video capture: construct for (monitor, window), set a
// frame observer, start into the ring from a base time, read the output types and the device, stop.

#include <d3d11.h>
#include <mfobjects.h>
#include <winuser.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class RingFile;

// Called for every captured frame on the capture's threads; the texture is valid only during the call.
using FrameObserver = std::function<void(ID3D11Device* device, ID3D11Texture2D* texture)>;

// Why a started capture cannot go on as it is; the recorder then replaces it with a new one.
enum class CaptureInterruption {
    None,
    SizeChanged, // the captured window or monitor changed its size
    Failed,      // the media session failed, or the capture source ended by itself
};

// Where a capture's packets sit on the capture clock: one written packet's time on the ring's timeline (90
// kHz ticks) and the capture-clock time it was captured at. The capture's other ring times are measured from
// it.
struct RingClockAnchor {
    std::uint32_t ringTime = 0;
    std::int64_t captureNs = 0;
};

struct EncoderDescription {
    std::string name;
    bool hardware = false;
};

// What a capture wrote, for the recording's metadata file.
struct CaptureReport {
    std::optional<RingClockAnchor> anchor; // none while nothing was written
    EncoderDescription videoEncoder;
    std::optional<EncoderDescription> audioEncoder; // none without audio
    std::uint64_t framesRepeated = 0;               // pictures delivered again because nothing new arrived
    std::uint64_t framesDropped = 0;                // pictures replaced before the encoder took them
};

class IVideoCapture {
public:
    virtual ~IVideoCapture() = default;

    // Replaces any earlier observer; allowed before Start.
    virtual void SetFrameObserver(FrameObserver observer) = 0;
    // Starts capturing; encoded packets go to `ring` with their times continuing from `baseTime` (0: no
    // base).
    virtual void Start(RingFile* ring, std::uint32_t baseTime) = 0;
    virtual ComPtr<IMFMediaType> VideoOutputType() const = 0;
    virtual ComPtr<IMFMediaType> AudioOutputType() const = 0;
    virtual ID3D11Device* Device() const = 0;
    // The first interruption since Start; safe on any thread.
    virtual CaptureInterruption Interruption() const = 0;
    // What was written so far; also after Stop.
    virtual CaptureReport Report() const = 0;
    // Stops for good: no observer call and no ring write happens after it returns. `latestEndTime` (may be
    // null) receives the largest packet end time written to the ring, 0 when none.
    virtual void Stop(std::uint32_t* latestEndTime) = 0;
};

// What the audio branch records: the output's whole mix, what one process tree plays, or nothing at all.
enum class AudioCaptureMode { System, Application, None };

struct AudioChoice {
    AudioCaptureMode mode = AudioCaptureMode::System;
    std::uint32_t processId = 0; // the root of the tree recorded in Application mode
};

// The encoded frame size of a recording. Its first capture chooses it (0 x 0: not chosen yet); every later
// capture is encoded at it, its picture fitted inside, so that one recording has one frame size.
struct FrameSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// What the command line chose for every capture of a recording.
struct CaptureChoices {
    AudioChoice audio;
    bool includeCustomCodecs = false; // look for the codec library's encoders before the platform's
};

// Builds the capture of a window, or of the monitor when the window is null; throws std::exception.
using VideoCaptureFactory =
    std::function<std::unique_ptr<IVideoCapture>(HMONITOR monitor, HWND window, FrameSize frameSize)>;
// The same, with the command line's choices.
using ChosenCaptureFactory = std::function<std::unique_ptr<IVideoCapture>(
    HMONITOR monitor, HWND window, FrameSize frameSize, const CaptureChoices& choices)>;
