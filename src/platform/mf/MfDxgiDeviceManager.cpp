#include <d3d11.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/implements.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

namespace {

std::atomic<UINT> g_nextResetToken{0x5A17};

// Shares one device between the session's transforms. A handle remembers the device generation it was
// opened on, so a reset makes every older handle stale.
class MfDxgiDeviceManager final : public ComObject<IMFDXGIDeviceManager> {
public:
    explicit MfDxgiDeviceManager(UINT resetToken) : m_resetToken(resetToken) {}

    HRESULT STDMETHODCALLTYPE CloseDeviceHandle(HANDLE hDevice) override {
        std::lock_guard lock(m_mutex);
        if (m_handles.erase(Key(hDevice)) == 0)
            return E_HANDLE;
        if (m_owner == Key(hDevice))
            ReleaseOwnership();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetVideoService(HANDLE hDevice, REFIID riid, void** ppService) override {
        if (ppService == nullptr)
            return E_POINTER;
        *ppService = nullptr;
        ComPtr<ID3D11Device> device;
        {
            std::lock_guard lock(m_mutex);
            const HRESULT hr = Check(hDevice);
            if (FAILED(hr))
                return hr;
            device = m_device;
        }
        return device->QueryInterface(riid, ppService);
    }

    HRESULT STDMETHODCALLTYPE LockDevice(HANDLE hDevice, REFIID riid, void** ppUnkDevice,
                                         BOOL fBlock) override {
        if (ppUnkDevice == nullptr)
            return E_POINTER;
        *ppUnkDevice = nullptr;
        std::unique_lock lock(m_mutex);
        for (;;) {
            const HRESULT hr = Check(hDevice);
            if (FAILED(hr))
                return hr;
            if (m_owner == 0 || m_owner == Key(hDevice))
                break;
            if (!fBlock)
                return MF_E_DXGI_VIDEO_DEVICE_LOCKED;
            m_released.wait(lock);
        }
        const HRESULT hr = m_device->QueryInterface(riid, ppUnkDevice);
        if (SUCCEEDED(hr)) {
            m_owner = Key(hDevice);
            ++m_lockCount;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE OpenDeviceHandle(HANDLE* phDevice) override {
        if (phDevice == nullptr)
            return E_POINTER;
        *phDevice = nullptr;
        return NoThrow([&] {
            std::lock_guard lock(m_mutex);
            if (!m_device)
                return MF_E_DXGI_DEVICE_NOT_INITIALIZED;
            const std::uintptr_t key = m_nextHandle++;
            m_handles.emplace(key, m_generation);
            *phDevice = reinterpret_cast<HANDLE>(key);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE ResetDevice(IUnknown* pUnkDevice, UINT resetToken) override {
        if (pUnkDevice == nullptr)
            return E_POINTER;
        if (resetToken != m_resetToken)
            return E_INVALIDARG;
        ComPtr<ID3D11Device> device;
        const HRESULT hr = pUnkDevice->QueryInterface(IID_PPV_ARGS(&device));
        if (FAILED(hr))
            return E_INVALIDARG;
        std::lock_guard lock(m_mutex);
        m_device.Swap(device);
        ++m_generation;
        ReleaseOwnership();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE TestDevice(HANDLE hDevice) override {
        std::lock_guard lock(m_mutex);
        return Check(hDevice);
    }

    HRESULT STDMETHODCALLTYPE UnlockDevice(HANDLE hDevice, BOOL) override {
        std::lock_guard lock(m_mutex);
        if (m_handles.count(Key(hDevice)) == 0)
            return E_HANDLE;
        if (m_owner != Key(hDevice))
            return E_INVALIDARG;
        if (--m_lockCount == 0)
            ReleaseOwnership();
        return S_OK;
    }

private:
    static std::uintptr_t Key(HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

    // Called under the lock.
    HRESULT Check(HANDLE handle) const {
        const auto found = m_handles.find(Key(handle));
        if (found == m_handles.end())
            return E_HANDLE;
        return found->second == m_generation ? S_OK : MF_E_DXGI_NEW_VIDEO_DEVICE;
    }

    void ReleaseOwnership() {
        m_owner = 0;
        m_lockCount = 0;
        m_released.notify_all();
    }

    const UINT m_resetToken;
    std::mutex m_mutex;
    std::condition_variable m_released;
    ComPtr<ID3D11Device> m_device;
    std::uintptr_t m_generation = 0;
    std::uintptr_t m_nextHandle = 1;
    std::map<std::uintptr_t, std::uintptr_t> m_handles; // handle -> device generation
    std::uintptr_t m_owner = 0;
    unsigned m_lockCount = 0;
};

} // namespace

HRESULT MFCreateDXGIDeviceManager(UINT* resetToken, IMFDXGIDeviceManager** ppDeviceManager) {
    if (ppDeviceManager != nullptr)
        *ppDeviceManager = nullptr;
    if (resetToken == nullptr || ppDeviceManager == nullptr)
        return E_POINTER;
    const UINT token = g_nextResetToken++;
    const HRESULT hr = CreateObject<MfDxgiDeviceManager>(ppDeviceManager, token);
    if (SUCCEEDED(hr))
        *resetToken = token;
    return hr;
}
