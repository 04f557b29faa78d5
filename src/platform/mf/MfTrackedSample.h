#pragma once
// A video sample that reports its release: when the last reference goes and an allocator is set, the
// allocator's Invoke runs on the releasing thread with the sample as the result's object, and the sample
// lives on in whatever reference the allocator keeps. The sample's own state is a platform sample it forwards
// to.

#include <mfidl.h>
#include <wrl/client.h>

#include <atomic>
#include <mutex>

class MfTrackedSample final : public IMFSample, public IMFTrackedSample {
public:
    explicit MfTrackedSample(ComPtr<IMFSample> inner) : m_inner(std::move(inner)) {}
    MfTrackedSample(const MfTrackedSample&) = delete;
    MfTrackedSample& operator=(const MfTrackedSample&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refCount; }
    ULONG STDMETHODCALLTYPE Release() override;

    // IMFTrackedSample
    HRESULT STDMETHODCALLTYPE SetAllocator(IMFAsyncCallback* pSampleAllocator, IUnknown* pUnkState) override;

#define PYX_FORWARD(name, params, args)                                                                      \
    HRESULT STDMETHODCALLTYPE name params override { return m_inner->name args; }
    // IMFAttributes
    PYX_FORWARD(GetItem, (REFGUID key, PROPVARIANT* value), (key, value))
    PYX_FORWARD(GetItemType, (REFGUID key, MF_ATTRIBUTE_TYPE* type), (key, type))
    PYX_FORWARD(CompareItem, (REFGUID key, REFPROPVARIANT value, BOOL* result), (key, value, result))
    PYX_FORWARD(Compare, (IMFAttributes * theirs, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result),
                (theirs, type, result))
    PYX_FORWARD(GetUINT32, (REFGUID key, UINT32* value), (key, value))
    PYX_FORWARD(GetUINT64, (REFGUID key, UINT64* value), (key, value))
    PYX_FORWARD(GetDouble, (REFGUID key, double* value), (key, value))
    PYX_FORWARD(GetGUID, (REFGUID key, GUID* value), (key, value))
    PYX_FORWARD(GetStringLength, (REFGUID key, UINT32* length), (key, length))
    PYX_FORWARD(GetString, (REFGUID key, LPWSTR buffer, UINT32 size, UINT32* length),
                (key, buffer, size, length))
    PYX_FORWARD(GetAllocatedString, (REFGUID key, LPWSTR* value, UINT32* length), (key, value, length))
    PYX_FORWARD(GetBlobSize, (REFGUID key, UINT32* size), (key, size))
    PYX_FORWARD(GetBlob, (REFGUID key, UINT8* buffer, UINT32 size, UINT32* blobSize),
                (key, buffer, size, blobSize))
    PYX_FORWARD(GetAllocatedBlob, (REFGUID key, UINT8** buffer, UINT32* size), (key, buffer, size))
    PYX_FORWARD(GetUnknown, (REFGUID key, REFIID riid, LPVOID* object), (key, riid, object))
    PYX_FORWARD(SetItem, (REFGUID key, REFPROPVARIANT value), (key, value))
    PYX_FORWARD(DeleteItem, (REFGUID key), (key))
    PYX_FORWARD(DeleteAllItems, (), ())
    PYX_FORWARD(SetUINT32, (REFGUID key, UINT32 value), (key, value))
    PYX_FORWARD(SetUINT64, (REFGUID key, UINT64 value), (key, value))
    PYX_FORWARD(SetDouble, (REFGUID key, double value), (key, value))
    PYX_FORWARD(SetGUID, (REFGUID key, REFGUID value), (key, value))
    PYX_FORWARD(SetString, (REFGUID key, LPCWSTR value), (key, value))
    PYX_FORWARD(SetBlob, (REFGUID key, const UINT8* buffer, UINT32 size), (key, buffer, size))
    PYX_FORWARD(SetUnknown, (REFGUID key, IUnknown* value), (key, value))
    PYX_FORWARD(LockStore, (), ())
    PYX_FORWARD(UnlockStore, (), ())
    PYX_FORWARD(GetCount, (UINT32 * count), (count))
    PYX_FORWARD(GetItemByIndex, (UINT32 index, GUID* key, PROPVARIANT* value), (index, key, value))
    PYX_FORWARD(CopyAllItems, (IMFAttributes * destination), (destination))
    // IMFSample
    PYX_FORWARD(GetSampleFlags, (DWORD * flags), (flags))
    PYX_FORWARD(SetSampleFlags, (DWORD flags), (flags))
    PYX_FORWARD(GetSampleTime, (LONGLONG * time), (time))
    PYX_FORWARD(SetSampleTime, (LONGLONG time), (time))
    PYX_FORWARD(GetSampleDuration, (LONGLONG * duration), (duration))
    PYX_FORWARD(SetSampleDuration, (LONGLONG duration), (duration))
    PYX_FORWARD(GetBufferCount, (DWORD * count), (count))
    PYX_FORWARD(GetBufferByIndex, (DWORD index, IMFMediaBuffer** buffer), (index, buffer))
    PYX_FORWARD(ConvertToContiguousBuffer, (IMFMediaBuffer * *buffer), (buffer))
    PYX_FORWARD(AddBuffer, (IMFMediaBuffer * buffer), (buffer))
    PYX_FORWARD(RemoveBufferByIndex, (DWORD index), (index))
    PYX_FORWARD(RemoveAllBuffers, (), ())
    PYX_FORWARD(GetTotalLength, (DWORD * length), (length))
#undef PYX_FORWARD

private:
    ~MfTrackedSample() = default;

    const ComPtr<IMFSample> m_inner;
    std::atomic<ULONG> m_refCount{1};
    std::mutex m_mutex;
    ComPtr<IMFAsyncCallback> m_allocator;
    ComPtr<IUnknown> m_allocatorState;
};
