#pragma once
// The end of one topology branch: a sample grabber sink over the branch's output type, whose samples go to a
// function object. The topology's output node holds the stream sink.

#include "Media/GenericGrabberSinkCallback.h"

class SinkNodeHolder {
public:
    // Throws ComException when the sink cannot be made.
    SinkNodeHolder(IMFMediaType* mediaType, bool ignoreClock);

    void SetSinkFunction(GenericGrabberSinkCallback::Function function);

    IMFMediaType* MediaType() const { return m_mediaType.Get(); }
    IMFStreamSink* StreamSink() const { return m_sinkNode.Get(); }

private:
    ComPtr<IMFMediaType> m_mediaType;
    ComPtr<GenericGrabberSinkCallback> m_sinkCallback;
    ComPtr<IMFStreamSink> m_sinkNode;
};
