#include "MediaTypeFormat.h"
#include "platform/av/Mp4Muxer.h"
#include <mfapi.h>
#include <mferror.h>
#include <mfreadwrite.h>
#include <stringapiset.h>
#include <wrl/implements.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <vector>

namespace {

HRESULT FromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:
    case EISDIR:
        return E_ACCESSDENIED;
    case ENOSPC:
    case EDQUOT:
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case ENOMEM:
        return E_OUTOFMEMORY;
    default:
        return E_FAIL;
    }
}

// `systemError` is the errno behind an I/O failure.
HRESULT FromMuxResult(av::MuxResult result, int systemError) {
    switch (result) {
    case av::MuxResult::Ok:
        return S_OK;
    case av::MuxResult::InvalidArgument:
        return E_INVALIDARG;
    case av::MuxResult::InvalidState:
        return MF_E_INVALIDREQUEST;
    case av::MuxResult::UnsupportedFormat:
        return MF_E_INVALIDMEDIATYPE;
    case av::MuxResult::NoPackets:
        return MF_E_SINK_NO_SAMPLES_PROCESSED;
    case av::MuxResult::NoCodecConfig:
        return MF_E_INVALID_FORMAT;
    case av::MuxResult::OutOfMemory:
        return E_OUTOFMEMORY;
    case av::MuxResult::Unavailable:
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    case av::MuxResult::IoError:
        break;
    }
    return FromErrno(systemError);
}

bool HasMp4Extension(std::wstring_view path) {
    constexpr std::wstring_view Extension = L".mp4";
    if (path.size() <= Extension.size())
        return false;
    return std::equal(Extension.begin(), Extension.end(), path.end() - Extension.size(),
                      [](wchar_t a, wchar_t b) { return std::wint_t(a) == std::towlower(std::wint_t(b)); });
}

// Streams are added while configuring; BeginWriting fixes them; Finalize ends the writer for good.
class MfSinkWriter final : public ComObject<IMFSinkWriter> {
public:
    explicit MfSinkWriter(std::unique_ptr<av::Mp4Muxer> muxer) : m_muxer(std::move(muxer)) {}

    HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* pTargetMediaType, DWORD* pdwStreamIndex) override {
        if (pTargetMediaType == nullptr || pdwStreamIndex == nullptr)
            return E_POINTER;
        return NoThrow([&] {
            std::lock_guard lock(m_mutex);
            if (m_state != State::Configuring)
                return MF_E_INVALIDREQUEST;
            av::StreamFormat format;
            const HRESULT hr = MediaTypeToStreamFormat(pTargetMediaType, format);
            if (FAILED(hr))
                return hr;
            std::uint32_t index = 0;
            const av::MuxResult result = m_muxer->AddStream(format, index);
            if (result != av::MuxResult::Ok)
                return ToHResult(result);
            *pdwStreamIndex = index;
            ++m_streamCount;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE BeginWriting() override {
        return NoThrow([&] {
            std::lock_guard lock(m_mutex);
            if (m_state != State::Configuring)
                return MF_E_INVALIDREQUEST;
            const av::MuxResult result = m_muxer->Start();
            if (result != av::MuxResult::Ok)
                return ToHResult(result);
            m_state = State::Writing;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE WriteSample(DWORD dwStreamIndex, IMFSample* pSample) override {
        if (pSample == nullptr)
            return E_POINTER;
        LONGLONG time = 0;
        HRESULT hr = pSample->GetSampleTime(&time);
        if (FAILED(hr))
            return hr;
        LONGLONG duration = 0;
        if (FAILED(pSample->GetSampleDuration(&duration)))
            duration = 0;
        return NoThrow([&] {
            std::lock_guard lock(m_mutex);
            if (m_state != State::Writing)
                return MF_E_INVALIDREQUEST;
            if (dwStreamIndex >= m_streamCount)
                return MF_E_INVALIDSTREAMNUMBER;
            av::Packet packet;
            packet.time = time;
            packet.duration = duration;
            packet.keyFrame = MFGetAttributeUINT32(pSample, MFSampleExtension_CleanPoint, FALSE) != FALSE;
            return WithPayload(pSample, packet, [&] {
                // An empty sample has nothing to store; MP4 has no place for a zero-length frame.
                return packet.size == 0 ? E_INVALIDARG : ToHResult(m_muxer->Write(dwStreamIndex, packet));
            });
        });
    }

    HRESULT STDMETHODCALLTYPE Finalize() override {
        return NoThrow([&] {
            std::lock_guard lock(m_mutex);
            if (m_state != State::Writing)
                return MF_E_INVALIDREQUEST;
            m_state = State::Finalized;
            return ToHResult(m_muxer->Finish());
        });
    }

private:
    enum class State { Configuring, Writing, Finalized };

    HRESULT ToHResult(av::MuxResult result) const {
        return FromMuxResult(result, m_muxer->LastSystemError());
    }

    // Runs write with packet.data/size over the sample's bytes: its one buffer in place, several joined.
    template <class Write>
    static HRESULT WithPayload(IMFSample* sample, av::Packet& packet, Write&& write) {
        DWORD count = 0;
        HRESULT hr = sample->GetBufferCount(&count);
        if (FAILED(hr))
            return hr;
        std::vector<std::uint8_t> joined;
        ComPtr<IMFMediaBuffer> buffer;
        BYTE* data = nullptr;
        DWORD length = 0;
        if (count == 1) {
            hr = sample->GetBufferByIndex(0, &buffer);
            if (SUCCEEDED(hr))
                hr = buffer->Lock(&data, nullptr, &length);
            if (FAILED(hr))
                return hr;
            packet.data = data;
            packet.size = length;
            hr = write();
            buffer->Unlock();
            return hr;
        }
        for (DWORD i = 0; i < count && SUCCEEDED(hr); ++i) {
            hr = sample->GetBufferByIndex(i, &buffer);
            if (SUCCEEDED(hr))
                hr = buffer->Lock(&data, nullptr, &length);
            if (SUCCEEDED(hr)) {
                joined.insert(joined.end(), data, data + length);
                buffer->Unlock();
            }
        }
        if (FAILED(hr))
            return hr;
        packet.data = joined.data();
        packet.size = joined.size();
        return write();
    }

    std::mutex m_mutex;
    std::unique_ptr<av::Mp4Muxer> m_muxer;
    State m_state = State::Configuring;
    DWORD m_streamCount = 0;
};

} // namespace

HRESULT MFCreateSinkWriterFromURL(LPCWSTR pwszOutputURL, IMFByteStream* pByteStream,
                                  IMFAttributes* pAttributes, IMFSinkWriter** ppSinkWriter) {
    if (ppSinkWriter == nullptr)
        return E_POINTER;
    *ppSinkWriter = nullptr;
    // Writing into a caller's byte stream is not offered; the writer always owns its file.
    if (pwszOutputURL == nullptr || pByteStream != nullptr)
        return E_INVALIDARG;
    if (!HasMp4Extension(pwszOutputURL))
        return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    return NoThrow([&] {
        std::unique_ptr<av::Mp4Muxer> muxer;
        int systemError = 0;
        const av::MuxResult result = av::Mp4Muxer::Create(WideToUtf8(pwszOutputURL), muxer, systemError);
        if (result != av::MuxResult::Ok)
            return FromMuxResult(result, systemError);
        return CreateObject<MfSinkWriter>(ppSinkWriter, std::move(muxer));
    });
}
