#pragma once
// The media type handler of a stream descriptor or a stream sink: a fixed list of offered types and the
// current one.

#include <mfidl.h>
#include <wrl/implements.h>

#include <mutex>
#include <vector>

class MfMediaTypeHandler final : public ComObject<IMFMediaTypeHandler> {
public:
    // `current` may be null: then no type is current until one is set.
    MfMediaTypeHandler(std::vector<ComPtr<IMFMediaType>> types, ComPtr<IMFMediaType> current)
        : m_types(std::move(types)), m_current(std::move(current)) {}

    HRESULT STDMETHODCALLTYPE IsMediaTypeSupported(IMFMediaType* pMediaType,
                                                   IMFMediaType** ppMediaType) override;
    HRESULT STDMETHODCALLTYPE GetMediaTypeCount(DWORD* pdwTypeCount) override;
    HRESULT STDMETHODCALLTYPE GetMediaTypeByIndex(DWORD dwIndex, IMFMediaType** ppType) override;
    HRESULT STDMETHODCALLTYPE SetCurrentMediaType(IMFMediaType* pMediaType) override;
    HRESULT STDMETHODCALLTYPE GetCurrentMediaType(IMFMediaType** ppMediaType) override;
    HRESULT STDMETHODCALLTYPE GetMajorType(GUID* pguidMajorType) override;

private:
    // Every item of an offered type must be present, with the same value, in `type`.
    bool IsOffered(IMFMediaType* type) const;

    const std::vector<ComPtr<IMFMediaType>> m_types;
    mutable std::mutex m_mutex;
    ComPtr<IMFMediaType> m_current;
};
