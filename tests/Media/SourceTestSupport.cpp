#include "SourceTestSupport.h"

#include <mferror.h>

#include <thread>

ComPtr<IMFMediaEvent> NextEvent(IMFMediaEventGenerator* generator, std::chrono::milliseconds timeout) {
    ComPtr<IMFMediaEvent> event;
    WaitUntil([&] { return generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event) != MF_E_NO_EVENTS_AVAILABLE; },
              timeout);
    return event;
}

MediaEventType TypeOf(IMFMediaEvent* event) {
    MediaEventType type = MEUnknown;
    event->GetType(&type);
    return type;
}

HRESULT StatusOf(IMFMediaEvent* event) {
    HRESULT status = E_UNEXPECTED;
    event->GetStatus(&status);
    return status;
}

ComPtr<IUnknown> ValueOf(IMFMediaEvent* event) {
    PROPVARIANT value;
    PropVariantInit(&value);
    ComPtr<IUnknown> unknown;
    if (SUCCEEDED(event->GetValue(&value)) && value.vt == VT_UNKNOWN)
        unknown = value.punkVal;
    PropVariantClear(&value);
    return unknown;
}

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

StartedSource::StartedSource(MediaSourceType type) {
    ComPtr<IMFMediaType> videoType = VideoType();
    ComPtr<IMFMediaType> audioType = AudioType();
    IMFMediaType* types[] = {videoType.Get(), audioType.Get()};
    ComPtr<IMFPresentationDescriptor> presentation;
    PROPVARIANT start;
    PropVariantInit(&start);
    if (FAILED(MediaSource::CreateInstance(type, 2, types, &source)) ||
        FAILED(source->GetStream(0, &video)) || FAILED(source->GetStream(1, &audio)) ||
        FAILED(source->CreatePresentationDescriptor(&presentation)) ||
        FAILED(source->Start(presentation.Get(), &GUID_NULL, &start)))
        return;
    // Two new streams, then the source; each stream has its own started event.
    for (int i = 0; i < 3; ++i)
        if (!NextEvent(source.Get()))
            return;
    started = NextEvent(video.Get()) && NextEvent(audio.Get());
}

StartedSource::~StartedSource() {
    if (source)
        source->Shutdown();
}
