#pragma once
// The value store behind every IMFAttributes object: items in insertion order, each a PROPVARIANT of one of
// the attribute kinds. All members take the store's lock, which LockStore can hold across calls.

#include <mfobjects.h>

#include <mutex>
#include <vector>

class AttributeStore {
public:
    AttributeStore() = default;
    ~AttributeStore();
    AttributeStore(const AttributeStore&) = delete;
    AttributeStore& operator=(const AttributeStore&) = delete;

    HRESULT GetItem(REFGUID key, PROPVARIANT* value) const;
    HRESULT GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) const;
    HRESULT CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) const;
    HRESULT Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE matchType, BOOL* result) const;
    HRESULT GetUINT32(REFGUID key, UINT32* value) const;
    HRESULT GetUINT64(REFGUID key, UINT64* value) const;
    HRESULT GetDouble(REFGUID key, double* value) const;
    HRESULT GetGUID(REFGUID key, GUID* value) const;
    HRESULT GetStringLength(REFGUID key, UINT32* length) const;
    HRESULT GetString(REFGUID key, LPWSTR buffer, UINT32 bufferSize, UINT32* length) const;
    HRESULT GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) const;
    HRESULT GetBlobSize(REFGUID key, UINT32* size) const;
    HRESULT GetBlob(REFGUID key, UINT8* buffer, UINT32 bufferSize, UINT32* size) const;
    HRESULT GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) const;
    HRESULT GetUnknown(REFGUID key, REFIID riid, LPVOID* object) const;
    HRESULT SetItem(REFGUID key, REFPROPVARIANT value);
    HRESULT DeleteItem(REFGUID key);
    HRESULT DeleteAllItems();
    HRESULT SetUINT32(REFGUID key, UINT32 value);
    HRESULT SetUINT64(REFGUID key, UINT64 value);
    HRESULT SetDouble(REFGUID key, double value);
    HRESULT SetGUID(REFGUID key, REFGUID value);
    HRESULT SetString(REFGUID key, LPCWSTR value);
    HRESULT SetBlob(REFGUID key, const UINT8* buffer, UINT32 size);
    HRESULT SetUnknown(REFGUID key, IUnknown* value);
    HRESULT LockStore();
    HRESULT UnlockStore();
    HRESULT GetCount(UINT32* count) const;
    HRESULT GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) const;
    HRESULT CopyAllItems(IMFAttributes* destination) const;

private:
    struct Item {
        GUID key;
        PROPVARIANT value;
    };

    const Item* Find(REFGUID key) const;
    // The item under key when it holds the given kind; otherwise the failure to report.
    HRESULT FindTyped(REFGUID key, VARTYPE type, const Item** item) const;
    // Copies one field of the item under key when it holds the given kind.
    template <class T, class Read>
    HRESULT ReadTyped(REFGUID key, VARTYPE type, T* value, Read read) const;
    HRESULT Store(REFGUID key, const PROPVARIANT& value);
    std::vector<Item> Snapshot() const;
    static void Release(std::vector<Item>& items);

    mutable std::recursive_mutex m_mutex;
    std::vector<Item> m_items;
    int m_storeLocks = 0;
};
