#include "AttributeStore.h"

#include <mferror.h>

#include <cstring>
#include <cwchar>

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

bool IsAttributeType(VARTYPE type) {
    switch (type) {
    case MF_ATTRIBUTE_UINT32:
    case MF_ATTRIBUTE_UINT64:
    case MF_ATTRIBUTE_DOUBLE:
    case MF_ATTRIBUTE_GUID:
    case MF_ATTRIBUTE_STRING:
    case MF_ATTRIBUTE_BLOB:
    case MF_ATTRIBUTE_IUNKNOWN:
        return true;
    default:
        return false;
    }
}

bool PropVariantEqual(const PROPVARIANT& a, const PROPVARIANT& b) {
    if (a.vt != b.vt)
        return false;
    switch (a.vt) {
    case VT_UI4:
        return a.ulVal == b.ulVal;
    case VT_UI8:
        return a.uhVal == b.uhVal;
    case VT_R8:
        return a.dblVal == b.dblVal;
    case VT_CLSID:
        return *a.puuid == *b.puuid;
    case VT_LPWSTR:
        return std::wcscmp(a.pwszVal, b.pwszVal) == 0;
    case MF_ATTRIBUTE_BLOB:
        return a.caub.cElems == b.caub.cElems &&
               (a.caub.cElems == 0 || std::memcmp(a.caub.pElems, b.caub.pElems, a.caub.cElems) == 0);
    case VT_UNKNOWN:
        return a.punkVal == b.punkVal;
    default:
        return false;
    }
}

// A task-allocator copy of count elements, as the Get*Allocated* calls hand out.
template <class T>
HRESULT AllocateCopy(const T* source, std::size_t count, T** copy) {
    auto* memory = static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
    if (memory == nullptr)
        return E_OUTOFMEMORY;
    if (count > 0)
        std::memcpy(memory, source, count * sizeof(T));
    *copy = memory;
    return S_OK;
}

PROPVARIANT Variant(VARTYPE type) {
    PROPVARIANT variant{};
    variant.vt = type;
    return variant;
}

} // namespace

template <class T, class Read>
HRESULT AttributeStore::ReadTyped(REFGUID key, VARTYPE type, T* value, Read read) const {
    if (value == nullptr)
        return E_POINTER;
    Lock lock(m_mutex);
    const Item* item;
    const HRESULT hr = FindTyped(key, type, &item);
    if (SUCCEEDED(hr))
        *value = read(item->value);
    return hr;
}

AttributeStore::~AttributeStore() { Release(m_items); }

void AttributeStore::Release(std::vector<Item>& items) {
    for (Item& item : items)
        PropVariantClear(&item.value);
    items.clear();
}

const AttributeStore::Item* AttributeStore::Find(REFGUID key) const {
    for (const Item& item : m_items)
        if (item.key == key)
            return &item;
    return nullptr;
}

HRESULT AttributeStore::FindTyped(REFGUID key, VARTYPE type, const Item** item) const {
    *item = Find(key);
    if (*item == nullptr)
        return MF_E_ATTRIBUTENOTFOUND;
    if ((*item)->value.vt != type) {
        *item = nullptr;
        return MF_E_INVALIDTYPE;
    }
    return S_OK;
}

std::vector<AttributeStore::Item> AttributeStore::Snapshot() const {
    Lock lock(m_mutex);
    std::vector<Item> copy;
    copy.reserve(m_items.size());
    for (const Item& item : m_items) {
        Item duplicate{item.key, {}};
        if (FAILED(PropVariantCopy(&duplicate.value, &item.value))) {
            Release(copy);
            throw std::bad_alloc();
        }
        copy.push_back(duplicate);
    }
    return copy;
}

HRESULT AttributeStore::GetItem(REFGUID key, PROPVARIANT* value) const {
    Lock lock(m_mutex);
    const Item* item = Find(key);
    if (item == nullptr) {
        if (value != nullptr)
            PropVariantInit(value);
        return MF_E_ATTRIBUTENOTFOUND;
    }
    // Without a value to fill, the call only tells whether the item exists.
    return value == nullptr ? S_OK : PropVariantCopy(value, &item->value);
}

HRESULT AttributeStore::GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) const {
    if (type == nullptr)
        return E_POINTER;
    Lock lock(m_mutex);
    const Item* item = Find(key);
    if (item == nullptr)
        return MF_E_ATTRIBUTENOTFOUND;
    *type = static_cast<MF_ATTRIBUTE_TYPE>(item->value.vt);
    return S_OK;
}

HRESULT AttributeStore::CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) const {
    if (result == nullptr)
        return E_POINTER;
    Lock lock(m_mutex);
    const Item* item = Find(key);
    *result = item != nullptr && PropVariantEqual(item->value, value);
    return S_OK;
}

HRESULT AttributeStore::Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE matchType,
                                BOOL* result) const {
    if (result == nullptr)
        return E_POINTER;
    *result = FALSE;
    if (theirs == nullptr)
        return E_POINTER;
    if (matchType < MF_ATTRIBUTES_MATCH_OUR_ITEMS || matchType > MF_ATTRIBUTES_MATCH_SMALLER)
        return E_INVALIDARG;

    std::vector<Item> ours = Snapshot();
    UINT32 theirCount = 0;
    HRESULT hr = theirs->GetCount(&theirCount);
    // Every item of `subset` must be in `superset` with the same value; absent items only count when
    // required.
    auto containedIn = [](const std::vector<Item>& subset, IMFAttributes* superset, bool requirePresence,
                          bool* contained) -> HRESULT {
        *contained = true;
        for (const Item& item : subset) {
            PROPVARIANT other;
            PropVariantInit(&other);
            const HRESULT getResult = superset->GetItem(item.key, &other);
            if (getResult == MF_E_ATTRIBUTENOTFOUND) {
                *contained = *contained && !requirePresence;
                continue;
            }
            if (FAILED(getResult))
                return getResult;
            *contained = *contained && PropVariantEqual(item.value, other);
            PropVariantClear(&other);
        }
        return S_OK;
    };

    bool matches = false;
    if (SUCCEEDED(hr)) {
        const bool oursSmaller = ours.size() <= theirCount;
        switch (matchType) {
        case MF_ATTRIBUTES_MATCH_OUR_ITEMS:
            hr = containedIn(ours, theirs, true, &matches);
            break;
        case MF_ATTRIBUTES_MATCH_ALL_ITEMS:
            hr = containedIn(ours, theirs, true, &matches);
            matches = matches && ours.size() == theirCount;
            break;
        case MF_ATTRIBUTES_MATCH_INTERSECTION:
            hr = containedIn(ours, theirs, false, &matches);
            break;
        case MF_ATTRIBUTES_MATCH_THEIR_ITEMS:
        case MF_ATTRIBUTES_MATCH_SMALLER:
            if (matchType == MF_ATTRIBUTES_MATCH_SMALLER && oursSmaller) {
                hr = containedIn(ours, theirs, true, &matches);
            } else {
                // Their items in ours: read theirs one by one and look each up here.
                matches = true;
                for (UINT32 i = 0; SUCCEEDED(hr) && matches && i < theirCount; ++i) {
                    GUID key;
                    PROPVARIANT value;
                    PropVariantInit(&value);
                    hr = theirs->GetItemByIndex(i, &key, &value);
                    if (SUCCEEDED(hr)) {
                        BOOL same = FALSE;
                        CompareItem(key, value, &same);
                        matches = same != FALSE;
                    }
                    PropVariantClear(&value);
                }
            }
            break;
        }
    }
    Release(ours);
    if (FAILED(hr))
        return hr;
    *result = matches;
    return S_OK;
}

HRESULT AttributeStore::GetUINT32(REFGUID key, UINT32* value) const {
    return ReadTyped(key, VT_UI4, value, [](const PROPVARIANT& item) { return item.ulVal; });
}

HRESULT AttributeStore::GetUINT64(REFGUID key, UINT64* value) const {
    return ReadTyped(key, VT_UI8, value, [](const PROPVARIANT& item) { return item.uhVal; });
}

HRESULT AttributeStore::GetDouble(REFGUID key, double* value) const {
    return ReadTyped(key, VT_R8, value, [](const PROPVARIANT& item) { return item.dblVal; });
}

HRESULT AttributeStore::GetGUID(REFGUID key, GUID* value) const {
    return ReadTyped(key, VT_CLSID, value, [](const PROPVARIANT& item) { return *item.puuid; });
}

HRESULT AttributeStore::GetStringLength(REFGUID key, UINT32* length) const {
    return ReadTyped(key, VT_LPWSTR, length,
                     [](const PROPVARIANT& item) { return static_cast<UINT32>(std::wcslen(item.pwszVal)); });
}

HRESULT AttributeStore::GetString(REFGUID key, LPWSTR buffer, UINT32 bufferSize, UINT32* length) const {
    if (buffer == nullptr)
        return E_POINTER;
    Lock lock(m_mutex);
    const Item* item;
    const HRESULT hr = FindTyped(key, VT_LPWSTR, &item);
    if (FAILED(hr))
        return hr;
    const std::size_t characters = std::wcslen(item->value.pwszVal);
    if (characters + 1 > bufferSize)
        return STRSAFE_E_INSUFFICIENT_BUFFER;
    std::wmemcpy(buffer, item->value.pwszVal, characters + 1);
    if (length != nullptr)
        *length = static_cast<UINT32>(characters);
    return S_OK;
}

HRESULT AttributeStore::GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) const {
    if (value == nullptr || length == nullptr)
        return E_POINTER;
    *value = nullptr;
    *length = 0;
    Lock lock(m_mutex);
    const Item* item;
    const HRESULT hr = FindTyped(key, VT_LPWSTR, &item);
    if (FAILED(hr))
        return hr;
    // The copy includes the terminator; the length does not.
    const std::size_t characters = std::wcslen(item->value.pwszVal);
    const HRESULT copied = AllocateCopy(item->value.pwszVal, characters + 1, value);
    if (SUCCEEDED(copied))
        *length = static_cast<UINT32>(characters);
    return copied;
}

HRESULT AttributeStore::GetBlobSize(REFGUID key, UINT32* size) const {
    return ReadTyped(key, MF_ATTRIBUTE_BLOB, size, [](const PROPVARIANT& item) { return item.caub.cElems; });
}

HRESULT AttributeStore::GetBlob(REFGUID key, UINT8* buffer, UINT32 bufferSize, UINT32* size) const {
    if (buffer == nullptr)
        return E_POINTER;
    Lock lock(m_mutex);
    const Item* item;
    const HRESULT hr = FindTyped(key, MF_ATTRIBUTE_BLOB, &item);
    if (FAILED(hr))
        return hr;
    const CAUB& blob = item->value.caub;
    if (blob.cElems > bufferSize)
        return E_NOT_SUFFICIENT_BUFFER;
    if (blob.cElems > 0)
        std::memcpy(buffer, blob.pElems, blob.cElems);
    if (size != nullptr)
        *size = blob.cElems;
    return S_OK;
}

HRESULT AttributeStore::GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) const {
    if (buffer == nullptr || size == nullptr)
        return E_POINTER;
    *buffer = nullptr;
    *size = 0;
    Lock lock(m_mutex);
    const Item* item;
    const HRESULT hr = FindTyped(key, MF_ATTRIBUTE_BLOB, &item);
    if (FAILED(hr))
        return hr;
    const CAUB& blob = item->value.caub;
    const HRESULT copied = AllocateCopy(blob.pElems, blob.cElems, buffer);
    if (SUCCEEDED(copied))
        *size = blob.cElems;
    return copied;
}

HRESULT AttributeStore::GetUnknown(REFGUID key, REFIID riid, LPVOID* object) const {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    Lock lock(m_mutex);
    const Item* item;
    const HRESULT hr = FindTyped(key, VT_UNKNOWN, &item);
    if (FAILED(hr))
        return hr;
    return item->value.punkVal->QueryInterface(riid, object);
}

HRESULT AttributeStore::Store(REFGUID key, const PROPVARIANT& value) {
    PROPVARIANT copy;
    PropVariantInit(&copy);
    const HRESULT hr = PropVariantCopy(&copy, &value);
    if (FAILED(hr))
        return hr;
    Lock lock(m_mutex);
    for (Item& item : m_items) {
        if (item.key == key) {
            PropVariantClear(&item.value);
            item.value = copy;
            return S_OK;
        }
    }
    try {
        m_items.push_back({key, copy});
    } catch (...) {
        PropVariantClear(&copy);
        throw;
    }
    return S_OK;
}

HRESULT AttributeStore::SetItem(REFGUID key, REFPROPVARIANT value) {
    if (!IsAttributeType(value.vt))
        return MF_E_INVALIDTYPE;
    if ((value.vt == VT_LPWSTR && value.pwszVal == nullptr) ||
        (value.vt == VT_CLSID && value.puuid == nullptr) ||
        (value.vt == VT_UNKNOWN && value.punkVal == nullptr) ||
        (value.vt == MF_ATTRIBUTE_BLOB && value.caub.pElems == nullptr && value.caub.cElems > 0))
        return E_POINTER;
    return Store(key, value);
}

HRESULT AttributeStore::DeleteItem(REFGUID key) {
    Lock lock(m_mutex);
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
        if (it->key == key) {
            PropVariantClear(&it->value);
            m_items.erase(it);
            break;
        }
    }
    return S_OK;
}

HRESULT AttributeStore::DeleteAllItems() {
    Lock lock(m_mutex);
    Release(m_items);
    return S_OK;
}

HRESULT AttributeStore::SetUINT32(REFGUID key, UINT32 value) {
    PROPVARIANT variant = Variant(VT_UI4);
    variant.ulVal = value;
    return Store(key, variant);
}

HRESULT AttributeStore::SetUINT64(REFGUID key, UINT64 value) {
    PROPVARIANT variant = Variant(VT_UI8);
    variant.uhVal = value;
    return Store(key, variant);
}

HRESULT AttributeStore::SetDouble(REFGUID key, double value) {
    PROPVARIANT variant = Variant(VT_R8);
    variant.dblVal = value;
    return Store(key, variant);
}

HRESULT AttributeStore::SetGUID(REFGUID key, REFGUID value) {
    GUID copy = value;
    PROPVARIANT variant = Variant(VT_CLSID);
    variant.puuid = &copy;
    return Store(key, variant);
}

HRESULT AttributeStore::SetString(REFGUID key, LPCWSTR value) {
    if (value == nullptr)
        return E_POINTER;
    PROPVARIANT variant = Variant(VT_LPWSTR);
    variant.pwszVal = const_cast<LPWSTR>(value);
    return Store(key, variant);
}

HRESULT AttributeStore::SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) {
    if (buffer == nullptr && size > 0)
        return E_POINTER;
    PROPVARIANT variant = Variant(MF_ATTRIBUTE_BLOB);
    variant.caub.cElems = size;
    variant.caub.pElems = const_cast<UINT8*>(buffer);
    return Store(key, variant);
}

HRESULT AttributeStore::SetUnknown(REFGUID key, IUnknown* value) {
    if (value == nullptr)
        return E_POINTER;
    PROPVARIANT variant = Variant(VT_UNKNOWN);
    variant.punkVal = value;
    return Store(key, variant);
}

HRESULT AttributeStore::LockStore() {
    m_mutex.lock();
    ++m_storeLocks;
    return S_OK;
}

HRESULT AttributeStore::UnlockStore() {
    Lock lock(m_mutex);
    if (m_storeLocks == 0)
        return E_UNEXPECTED;
    --m_storeLocks;
    m_mutex.unlock();
    return S_OK;
}

HRESULT AttributeStore::GetCount(UINT32* count) const {
    if (count == nullptr)
        return E_POINTER;
    Lock lock(m_mutex);
    *count = static_cast<UINT32>(m_items.size());
    return S_OK;
}

HRESULT AttributeStore::GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) const {
    if (key == nullptr)
        return E_POINTER;
    if (value != nullptr)
        PropVariantInit(value);
    Lock lock(m_mutex);
    if (index >= m_items.size())
        return E_INVALIDARG;
    *key = m_items[index].key;
    return value == nullptr ? S_OK : PropVariantCopy(value, &m_items[index].value);
}

HRESULT AttributeStore::CopyAllItems(IMFAttributes* destination) const {
    if (destination == nullptr)
        return E_POINTER;
    // Copy from a snapshot, so copying onto ourselves keeps the items.
    std::vector<Item> items = Snapshot();
    HRESULT hr = destination->LockStore();
    if (SUCCEEDED(hr)) {
        hr = destination->DeleteAllItems();
        for (const Item& item : items) {
            if (FAILED(hr))
                break;
            hr = destination->SetItem(item.key, item.value);
        }
        destination->UnlockStore();
    }
    Release(items);
    return hr;
}
