#pragma once
// The shared plumbing of the platform's synchronous transforms: one input and one output stream (id 0),
// argument checks with the Windows result codes, current types kept as copies, the transform's attribute
// store and one lock around every call. The transform itself supplies its types and its processing.

#include <mferror.h>
#include <mftransform.h>
#include <wrl/implements.h>

#include <mutex>

// A copy of the type's attributes in a new media type.
HRESULT CopyMediaType(IMFMediaType* source, ComPtr<IMFMediaType>& copy);
// A type with only the major type and the subtype set.
HRESULT MakePartialType(REFGUID major, REFGUID subtype, ComPtr<IMFMediaType>& type);

template <class... Extra>
class TransformBase : public ComObject<IMFTransform, Extra...> {
public:
    // Creates the attribute store; a transform is unusable when this fails.
    HRESULT Initialize() { return MFCreateAttributes(&m_attributes, 4); }

    HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD* inputMinimum, DWORD* inputMaximum, DWORD* outputMinimum,
                                              DWORD* outputMaximum) override {
        if (inputMinimum == nullptr || inputMaximum == nullptr || outputMinimum == nullptr ||
            outputMaximum == nullptr)
            return E_POINTER;
        *inputMinimum = *inputMaximum = *outputMinimum = *outputMaximum = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* inputStreams, DWORD* outputStreams) override {
        if (inputStreams == nullptr || outputStreams == nullptr)
            return E_POINTER;
        *inputStreams = *outputStreams = 1;
        return S_OK;
    }

    // Fixed streams numbered from 0 need no ids.
    HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) override { return NotImplemented(); }

    HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD stream, MFT_INPUT_STREAM_INFO* info) override {
        return StreamInfo(stream, info, [this](MFT_INPUT_STREAM_INFO& filled) { DescribeInput(filled); });
    }

    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD stream, MFT_OUTPUT_STREAM_INFO* info) override {
        return StreamInfo(stream, info, [this](MFT_OUTPUT_STREAM_INFO& filled) { DescribeOutput(filled); });
    }

    HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes** attributes) override {
        if (attributes == nullptr)
            return E_POINTER;
        return m_attributes.CopyTo(attributes);
    }

    HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD, IMFAttributes** attributes) override {
        return Refuse(attributes, NotImplemented());
    }
    HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD, IMFAttributes** attributes) override {
        return Refuse(attributes, NotImplemented());
    }
    HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD, DWORD*) override { return NotImplemented(); }

    HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD stream, DWORD index, IMFMediaType** type) override {
        return AvailableType(stream, index, type, true);
    }
    HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD stream, DWORD index,
                                                     IMFMediaType** type) override {
        return AvailableType(stream, index, type, false);
    }

    HRESULT STDMETHODCALLTYPE SetInputType(DWORD stream, IMFMediaType* type, DWORD flags) override {
        return SetType(stream, type, flags, true);
    }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD stream, IMFMediaType* type, DWORD flags) override {
        return SetType(stream, type, flags, false);
    }

    HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD stream, IMFMediaType** type) override {
        return CurrentType(stream, type, true);
    }
    HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD stream, IMFMediaType** type) override {
        return CurrentType(stream, type, false);
    }

    HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD stream, DWORD* flags) override {
        if (flags == nullptr)
            return E_POINTER;
        if (stream != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        std::lock_guard lock(m_mutex);
        if (!m_inputType || !m_outputType)
            return MF_E_TRANSFORM_TYPE_NOT_SET;
        *flags = CanTakeInput() ? MFT_INPUT_STATUS_ACCEPT_DATA : 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD* flags) override {
        if (flags == nullptr)
            return E_POINTER;
        std::lock_guard lock(m_mutex);
        if (!m_inputType || !m_outputType)
            return MF_E_TRANSFORM_TYPE_NOT_SET;
        *flags = HasOutput() ? MFT_OUTPUT_STATUS_SAMPLE_READY : 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG, LONGLONG) override { return NotImplemented(); }
    HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD, IMFMediaEvent*) override { return NotImplemented(); }

    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR parameter) override {
        std::lock_guard lock(m_mutex);
        return NoThrow([&] {
            switch (message) {
            case MFT_MESSAGE_COMMAND_FLUSH:
                return Flush();
            case MFT_MESSAGE_COMMAND_DRAIN:
                return Drain();
            case MFT_MESSAGE_SET_D3D_MANAGER:
                return SetD3DManager(reinterpret_cast<IUnknown*>(parameter));
            case MFT_MESSAGE_NOTIFY_BEGIN_STREAMING:
                return BeginStreaming();
            case MFT_MESSAGE_NOTIFY_END_STREAMING:
            case MFT_MESSAGE_NOTIFY_START_OF_STREAM:
            case MFT_MESSAGE_NOTIFY_END_OF_STREAM:
                return S_OK;
            default:
                // Markers belong to asynchronous transforms.
                return NotImplemented();
            }
        });
    }

    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD stream, IMFSample* sample, DWORD flags) override {
        if (sample == nullptr)
            return E_POINTER;
        if (stream != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        if (flags != 0)
            return E_INVALIDARG;
        std::lock_guard lock(m_mutex);
        if (!m_inputType || !m_outputType)
            return MF_E_TRANSFORM_TYPE_NOT_SET;
        if (!CanTakeInput())
            return MF_E_NOTACCEPTING;
        return NoThrow([&] { return TakeInput(sample); });
    }

    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD flags, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                                            DWORD* status) override {
        if (buffers == nullptr || status == nullptr)
            return E_POINTER;
        *status = 0;
        if (count != 1 || flags != 0)
            return E_INVALIDARG;
        MFT_OUTPUT_DATA_BUFFER& buffer = buffers[0];
        buffer.dwStatus = 0;
        buffer.pEvents = nullptr;
        if (buffer.dwStreamID != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        // Every platform transform provides its output samples.
        if (buffer.pSample != nullptr)
            return E_INVALIDARG;
        std::lock_guard lock(m_mutex);
        if (!m_inputType || !m_outputType)
            return MF_E_TRANSFORM_TYPE_NOT_SET;
        const HRESULT hr = NoThrow([&] { return MakeOutput(buffer); });
        if (FAILED(hr) && buffer.pSample != nullptr) {
            buffer.pSample->Release();
            buffer.pSample = nullptr;
        }
        return hr;
    }

protected:
    // The hooks run under the transform's lock.
    virtual void DescribeInput(MFT_INPUT_STREAM_INFO& info) = 0;
    virtual void DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) = 0;
    // MF_E_NO_MORE_TYPES past the last one.
    virtual HRESULT InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) = 0;
    virtual HRESULT OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) = 0;
    // S_OK when the type would be taken now; MF_E_INVALIDMEDIATYPE when it cannot be,
    // MF_E_TRANSFORM_TYPE_NOT_SET when the other stream's type must come first.
    virtual HRESULT CheckInputType(IMFMediaType* type) = 0;
    virtual HRESULT CheckOutputType(IMFMediaType* type) = 0;
    // After a type was set or cleared: whatever was in flight is dropped.
    virtual void TypesChanged() = 0;
    // The output type as the client sees it (transforms may add what they learned, such as codec data).
    virtual HRESULT PublishedOutputType(ComPtr<IMFMediaType>& type) {
        type = m_outputType;
        return S_OK;
    }
    virtual bool CanTakeInput() = 0;
    virtual bool HasOutput() = 0;
    virtual HRESULT TakeInput(IMFSample* sample) = 0;
    // Fills buffer.pSample (one reference for the caller) and may set MFT_OUTPUT_DATA_BUFFER_INCOMPLETE;
    // MF_E_TRANSFORM_NEED_MORE_INPUT when there is nothing.
    virtual HRESULT MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) = 0;
    virtual HRESULT Flush() = 0;
    virtual HRESULT Drain() = 0;
    virtual HRESULT BeginStreaming() { return S_OK; }
    // Only transforms that use a device take a device manager.
    virtual HRESULT SetD3DManager(IUnknown*) { return NotImplemented(); }

    std::mutex m_mutex;
    ComPtr<IMFAttributes> m_attributes;
    ComPtr<IMFMediaType> m_inputType;
    ComPtr<IMFMediaType> m_outputType;

private:
    template <class Info, class Describe>
    HRESULT StreamInfo(DWORD stream, Info* info, Describe describe) {
        if (info == nullptr)
            return E_POINTER;
        if (stream != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        std::lock_guard lock(m_mutex);
        *info = {};
        describe(*info);
        return S_OK;
    }

    template <class T>
    static HRESULT Refuse(T** out, HRESULT hr) {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        return hr;
    }

    HRESULT AvailableType(DWORD stream, DWORD index, IMFMediaType** type, bool input) {
        if (type == nullptr)
            return E_POINTER;
        *type = nullptr;
        if (stream != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        std::lock_guard lock(m_mutex);
        return NoThrow([&] {
            ComPtr<IMFMediaType> available;
            const HRESULT hr =
                input ? InputAvailableType(index, available) : OutputAvailableType(index, available);
            if (SUCCEEDED(hr))
                *type = available.Detach();
            return hr;
        });
    }

    HRESULT SetType(DWORD stream, IMFMediaType* type, DWORD flags, bool input) {
        if (stream != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        if ((flags & ~DWORD(MFT_SET_TYPE_TEST_ONLY)) != 0)
            return E_INVALIDARG;
        const bool testOnly = (flags & MFT_SET_TYPE_TEST_ONLY) != 0;
        std::lock_guard lock(m_mutex);
        return NoThrow([&] {
            ComPtr<IMFMediaType>& current = input ? m_inputType : m_outputType;
            if (type == nullptr) {
                // Clearing is allowed; testing a null type is not.
                if (testOnly)
                    return E_INVALIDARG;
                current = nullptr;
                TypesChanged();
                return S_OK;
            }
            HRESULT hr = input ? CheckInputType(type) : CheckOutputType(type);
            if (FAILED(hr) || testOnly)
                return hr;
            ComPtr<IMFMediaType> copy;
            hr = CopyMediaType(type, copy);
            if (FAILED(hr))
                return hr;
            current = std::move(copy);
            TypesChanged();
            return S_OK;
        });
    }

    HRESULT CurrentType(DWORD stream, IMFMediaType** type, bool input) {
        if (type == nullptr)
            return E_POINTER;
        *type = nullptr;
        if (stream != 0)
            return MF_E_INVALIDSTREAMNUMBER;
        std::lock_guard lock(m_mutex);
        return NoThrow([&] {
            ComPtr<IMFMediaType> current = input ? m_inputType : m_outputType;
            if (!current)
                return MF_E_TRANSFORM_TYPE_NOT_SET;
            HRESULT hr = input ? S_OK : PublishedOutputType(current);
            ComPtr<IMFMediaType> copy;
            if (SUCCEEDED(hr))
                hr = CopyMediaType(current.Get(), copy);
            if (SUCCEEDED(hr))
                *type = copy.Detach();
            return hr;
        });
    }
};
