#pragma once
// Reading a media source's or stream's events in tests, and a started two-stream source.

#include "SessionTestSupport.h"

// The next event of the generator, waiting up to `timeout`; null when none came.
ComPtr<IMFMediaEvent> NextEvent(IMFMediaEventGenerator* generator,
                                std::chrono::milliseconds timeout = 2000ms);
MediaEventType TypeOf(IMFMediaEvent* event);
HRESULT StatusOf(IMFMediaEvent* event);
// The IUnknown value of an event, or null.
ComPtr<IUnknown> ValueOf(IMFMediaEvent* event);
// The object's reference count.
ULONG References(IUnknown* object);

// A video (60 frames/s) and an audio (48000 Hz) stream, started with all streams selected.
struct StartedSource {
    explicit StartedSource(MediaSourceType type = MediaSourceType::Server);
    ~StartedSource();

    ComPtr<MediaSource> source;
    ComPtr<MediaStream> video;
    ComPtr<MediaStream> audio;
    bool started = false;
};
