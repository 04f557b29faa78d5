#include "SinkNodeHolder.h"

#include "Util/HResultCheck.h"

SinkNodeHolder::SinkNodeHolder(IMFMediaType* mediaType, bool ignoreClock) : m_mediaType(mediaType) {
    ComPtr<IMFActivate> activate;
    ComPtr<IMFMediaSink> mediaSink;
    ThrowIfFailed(GenericGrabberSinkCallback::Create(mediaType, ignoreClock, activate.GetAddressOf(),
                                                     m_sinkCallback.GetAddressOf()),
                  "GenericGrabberSinkCallback::Create( mediaType, ignoreClock, activate.GetAddressOf(), "
                  "m_sinkCallback.GetAddressOf())");
    ThrowIfFailed(activate->ActivateObject(IID_PPV_ARGS(mediaSink.GetAddressOf())),
                  "activate->ActivateObject( IID_PPV_ARGS( mediaSink.GetAddressOf() ) )");
    ThrowIfFailed(mediaSink->GetStreamSinkByIndex(0, m_sinkNode.GetAddressOf()),
                  "mediaSink->GetStreamSinkByIndex( 0, m_sinkNode.GetAddressOf() )");
}

void SinkNodeHolder::SetSinkFunction(GenericGrabberSinkCallback::Function function) {
    m_sinkCallback->SetFunction(std::move(function));
}
