#include "AttributesBase.h"
#include <mferror.h>
#include <mfobjects.h>
#include <wrl/implements.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace {

class MfSample final : public AttributesBase<IMFSample> {
public:
    HRESULT STDMETHODCALLTYPE GetSampleFlags(DWORD* pdwSampleFlags) override {
        if (pdwSampleFlags == nullptr)
            return E_POINTER;
        std::lock_guard lock(m_mutex);
        *pdwSampleFlags = m_flags;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSampleFlags(DWORD dwSampleFlags) override {
        return Assign(m_flags, dwSampleFlags);
    }

    HRESULT STDMETHODCALLTYPE GetSampleTime(LONGLONG* phnsSampleTime) override {
        return GetTime(m_time, MF_E_NO_SAMPLE_TIMESTAMP, phnsSampleTime);
    }

    HRESULT STDMETHODCALLTYPE SetSampleTime(LONGLONG hnsSampleTime) override {
        return Assign(m_time, std::optional(hnsSampleTime));
    }

    HRESULT STDMETHODCALLTYPE GetSampleDuration(LONGLONG* phnsSampleDuration) override {
        return GetTime(m_duration, MF_E_NO_SAMPLE_DURATION, phnsSampleDuration);
    }

    HRESULT STDMETHODCALLTYPE SetSampleDuration(LONGLONG hnsSampleDuration) override {
        return Assign(m_duration, std::optional(hnsSampleDuration));
    }

    HRESULT STDMETHODCALLTYPE GetBufferCount(DWORD* pdwBufferCount) override {
        if (pdwBufferCount == nullptr)
            return E_POINTER;
        std::lock_guard lock(m_mutex);
        *pdwBufferCount = static_cast<DWORD>(m_buffers.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetBufferByIndex(DWORD dwIndex, IMFMediaBuffer** ppBuffer) override {
        if (ppBuffer == nullptr)
            return E_POINTER;
        *ppBuffer = nullptr;
        std::lock_guard lock(m_mutex);
        if (dwIndex >= m_buffers.size())
            return E_INVALIDARG;
        return m_buffers[dwIndex].CopyTo(ppBuffer);
    }

    HRESULT STDMETHODCALLTYPE ConvertToContiguousBuffer(IMFMediaBuffer** ppBuffer) override {
        if (ppBuffer != nullptr)
            *ppBuffer = nullptr;
        return NoThrow([&] {
            std::lock_guard lock(m_mutex);
            if (m_buffers.empty())
                return E_UNEXPECTED;
            if (m_buffers.size() > 1) {
                ComPtr<IMFMediaBuffer> joined;
                const HRESULT hr = JoinBuffers(joined);
                if (FAILED(hr))
                    return hr;
                // The sample keeps the joined copy in place of its buffers, as on Windows.
                m_buffers.assign(1, joined);
            }
            return ppBuffer == nullptr ? S_OK : m_buffers.front().CopyTo(ppBuffer);
        });
    }

    HRESULT STDMETHODCALLTYPE AddBuffer(IMFMediaBuffer* pBuffer) override {
        if (pBuffer == nullptr)
            return E_POINTER;
        return NoThrow([&] {
            std::lock_guard lock(m_mutex);
            m_buffers.emplace_back(pBuffer);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE RemoveBufferByIndex(DWORD dwIndex) override {
        ComPtr<IMFMediaBuffer> removed;
        std::lock_guard lock(m_mutex);
        if (dwIndex >= m_buffers.size())
            return E_INVALIDARG;
        removed = std::move(m_buffers[dwIndex]);
        m_buffers.erase(m_buffers.begin() + dwIndex);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RemoveAllBuffers() override {
        std::vector<ComPtr<IMFMediaBuffer>> removed;
        std::lock_guard lock(m_mutex);
        removed.swap(m_buffers);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTotalLength(DWORD* pcbTotalLength) override {
        if (pcbTotalLength == nullptr)
            return E_POINTER;
        *pcbTotalLength = 0;
        std::lock_guard lock(m_mutex);
        return TotalLength(*pcbTotalLength);
    }

private:
    template <class T>
    HRESULT Assign(T& field, T value) {
        std::lock_guard lock(m_mutex);
        field = value;
        return S_OK;
    }

    HRESULT GetTime(const std::optional<LONGLONG>& field, HRESULT missing, LONGLONG* value) {
        if (value == nullptr)
            return E_POINTER;
        std::lock_guard lock(m_mutex);
        *value = field.value_or(0);
        return field ? S_OK : missing;
    }

    // The valid bytes of all buffers. Called under the lock.
    HRESULT TotalLength(DWORD& total) const {
        DWORD sum = 0;
        for (const auto& buffer : m_buffers) {
            DWORD length = 0;
            const HRESULT hr = buffer->GetCurrentLength(&length);
            if (FAILED(hr))
                return hr;
            sum += length;
        }
        total = sum;
        return S_OK;
    }

    // Copies the valid bytes of every buffer, in order, into one new buffer. Called under the lock.
    HRESULT JoinBuffers(ComPtr<IMFMediaBuffer>& joined) {
        DWORD total = 0;
        HRESULT hr = TotalLength(total);
        if (FAILED(hr))
            return hr;
        ComPtr<IMFMediaBuffer> target;
        hr = MFCreateMemoryBuffer(total, &target);
        BYTE* destination = nullptr;
        if (SUCCEEDED(hr))
            hr = target->Lock(&destination, nullptr, nullptr);
        if (FAILED(hr))
            return hr;
        DWORD offset = 0;
        for (const auto& buffer : m_buffers) {
            BYTE* source = nullptr;
            DWORD length = 0;
            hr = buffer->Lock(&source, nullptr, &length);
            if (FAILED(hr))
                break;
            if (length > total - offset) {
                // Another holder grew a buffer while we copied.
                buffer->Unlock();
                hr = E_UNEXPECTED;
                break;
            }
            if (length > 0)
                std::memcpy(destination + offset, source, length);
            offset += length;
            buffer->Unlock();
        }
        target->Unlock();
        if (SUCCEEDED(hr))
            hr = target->SetCurrentLength(offset);
        if (SUCCEEDED(hr))
            joined = std::move(target);
        return hr;
    }

    std::mutex m_mutex;
    DWORD m_flags = 0;
    std::optional<LONGLONG> m_time;
    std::optional<LONGLONG> m_duration;
    std::vector<ComPtr<IMFMediaBuffer>> m_buffers;
};

} // namespace

HRESULT MFCreateSample(IMFSample** ppIMFSample) { return CreateObject<MfSample>(ppIMFSample); }
