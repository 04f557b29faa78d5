#include "MfMediaTypeHandler.h"

#include <mfapi.h>
#include <mferror.h>

bool MfMediaTypeHandler::IsOffered(IMFMediaType* type) const {
    for (const auto& offered : m_types) {
        BOOL match = FALSE;
        if (SUCCEEDED(offered->Compare(type, MF_ATTRIBUTES_MATCH_OUR_ITEMS, &match)) && match)
            return true;
    }
    return false;
}

HRESULT MfMediaTypeHandler::IsMediaTypeSupported(IMFMediaType* pMediaType, IMFMediaType** ppMediaType) {
    if (ppMediaType != nullptr)
        *ppMediaType = nullptr;
    if (pMediaType == nullptr)
        return E_POINTER;
    return IsOffered(pMediaType) ? S_OK : MF_E_INVALIDMEDIATYPE;
}

HRESULT MfMediaTypeHandler::GetMediaTypeCount(DWORD* pdwTypeCount) {
    if (pdwTypeCount == nullptr)
        return E_POINTER;
    *pdwTypeCount = static_cast<DWORD>(m_types.size());
    return S_OK;
}

HRESULT MfMediaTypeHandler::GetMediaTypeByIndex(DWORD dwIndex, IMFMediaType** ppType) {
    if (ppType == nullptr)
        return E_POINTER;
    *ppType = nullptr;
    if (dwIndex >= m_types.size())
        return MF_E_NO_MORE_TYPES;
    return m_types[dwIndex].CopyTo(ppType);
}

HRESULT MfMediaTypeHandler::SetCurrentMediaType(IMFMediaType* pMediaType) {
    if (pMediaType == nullptr)
        return E_POINTER;
    if (!IsOffered(pMediaType))
        return MF_E_INVALIDMEDIATYPE;
    ComPtr<IMFMediaType> replaced(pMediaType);
    std::lock_guard lock(m_mutex);
    m_current.Swap(replaced);
    return S_OK;
}

HRESULT MfMediaTypeHandler::GetCurrentMediaType(IMFMediaType** ppMediaType) {
    if (ppMediaType == nullptr)
        return E_POINTER;
    *ppMediaType = nullptr;
    std::lock_guard lock(m_mutex);
    if (!m_current)
        return MF_E_NOT_INITIALIZED;
    return m_current.CopyTo(ppMediaType);
}

HRESULT MfMediaTypeHandler::GetMajorType(GUID* pguidMajorType) {
    if (pguidMajorType == nullptr)
        return E_POINTER;
    *pguidMajorType = GUID_NULL;
    ComPtr<IMFMediaType> type;
    {
        std::lock_guard lock(m_mutex);
        type = m_current ? m_current : (m_types.empty() ? nullptr : m_types.front());
    }
    if (!type)
        return MF_E_NOT_INITIALIZED;
    return type->GetGUID(MF_MT_MAJOR_TYPE, pguidMajorType);
}
