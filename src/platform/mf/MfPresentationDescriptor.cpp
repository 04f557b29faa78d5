#include "AttributesBase.h"
#include <mfidl.h>
#include <wrl/implements.h>

#include <mutex>
#include <vector>

namespace {

struct DescriptorEntry {
    ComPtr<IMFStreamDescriptor> descriptor;
    bool selected = false;
};

class MfPresentationDescriptor final : public AttributesBase<IMFPresentationDescriptor> {
public:
    explicit MfPresentationDescriptor(std::vector<DescriptorEntry> entries) : m_entries(std::move(entries)) {}

    HRESULT STDMETHODCALLTYPE GetStreamDescriptorCount(DWORD* pdwDescriptorCount) override {
        if (pdwDescriptorCount == nullptr)
            return E_POINTER;
        *pdwDescriptorCount = static_cast<DWORD>(m_entries.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStreamDescriptorByIndex(DWORD dwIndex, BOOL* pfSelected,
                                                         IMFStreamDescriptor** ppDescriptor) override {
        if (ppDescriptor != nullptr)
            *ppDescriptor = nullptr;
        if (pfSelected == nullptr || ppDescriptor == nullptr)
            return E_POINTER;
        if (dwIndex >= m_entries.size())
            return E_INVALIDARG;
        std::lock_guard lock(m_mutex);
        *pfSelected = m_entries[dwIndex].selected ? TRUE : FALSE;
        return m_entries[dwIndex].descriptor.CopyTo(ppDescriptor);
    }

    HRESULT STDMETHODCALLTYPE SelectStream(DWORD dwDescriptorIndex) override {
        return SetSelected(dwDescriptorIndex, true);
    }

    HRESULT STDMETHODCALLTYPE DeselectStream(DWORD dwDescriptorIndex) override {
        return SetSelected(dwDescriptorIndex, false);
    }

    HRESULT STDMETHODCALLTYPE Clone(IMFPresentationDescriptor** ppPresentationDescriptor) override {
        if (ppPresentationDescriptor == nullptr)
            return E_POINTER;
        *ppPresentationDescriptor = nullptr;
        return NoThrow([&] {
            std::vector<DescriptorEntry> entries;
            {
                std::lock_guard lock(m_mutex);
                entries = m_entries;
            }
            auto clone = MakeComObject<MfPresentationDescriptor>(std::move(entries));
            if (!clone)
                return E_OUTOFMEMORY;
            const HRESULT hr = CopyAllItems(clone.Get());
            if (SUCCEEDED(hr))
                *ppPresentationDescriptor = clone.Detach();
            return hr;
        });
    }

private:
    HRESULT SetSelected(DWORD index, bool selected) {
        if (index >= m_entries.size())
            return E_INVALIDARG;
        std::lock_guard lock(m_mutex);
        m_entries[index].selected = selected;
        return S_OK;
    }

    std::mutex m_mutex;
    std::vector<DescriptorEntry> m_entries;
};

} // namespace

HRESULT MFCreatePresentationDescriptor(DWORD cStreamDescriptors, IMFStreamDescriptor** apStreamDescriptors,
                                       IMFPresentationDescriptor** ppPresentationDescriptor) {
    if (ppPresentationDescriptor == nullptr)
        return E_POINTER;
    *ppPresentationDescriptor = nullptr;
    if (cStreamDescriptors > 0 && apStreamDescriptors == nullptr)
        return E_POINTER;
    return NoThrow([&] {
        std::vector<DescriptorEntry> entries;
        for (DWORD i = 0; i < cStreamDescriptors; ++i) {
            if (apStreamDescriptors[i] == nullptr)
                return E_POINTER;
            entries.push_back({apStreamDescriptors[i], false});
        }
        return CreateObject<MfPresentationDescriptor>(ppPresentationDescriptor, std::move(entries));
    });
}
