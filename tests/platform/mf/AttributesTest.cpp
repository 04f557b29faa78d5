// IMFAttributes through MFCreateAttributes, and the interfaces built on the same store (media types).

#include <mfapi.h>
#include <wrl/implements.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

DEFINE_GUID(KeyA, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55);
DEFINE_GUID(KeyB, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x56);
DEFINE_GUID(KeyC, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x57);

ComPtr<IMFAttributes> NewAttributes() {
    ComPtr<IMFAttributes> attributes;
    EXPECT_EQ(MFCreateAttributes(&attributes, 4), S_OK);
    return attributes;
}

// Counts its references, so tests can see who holds it.
class Counted : public ComObject<IMFAsyncResult> {
public:
    HRESULT STDMETHODCALLTYPE GetState(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatus(HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetObject(IUnknown**) override { return E_NOTIMPL; }
    IUnknown* STDMETHODCALLTYPE GetStateNoAddRef() override { return nullptr; }
    ULONG References() const { return RefCount(); }
};

TEST(Attributes, StoresEveryValueKindAndReportsItsType) {
    ComPtr<IMFAttributes> attributes = NewAttributes();
    const UINT8 blob[] = {1, 2, 3, 0, 5};
    ASSERT_EQ(attributes->SetUINT32(KeyA, 7), S_OK);
    ASSERT_EQ(attributes->SetUINT64(KeyB, 0x123456789ull), S_OK);
    ASSERT_EQ(attributes->SetDouble(KeyC, 2.5), S_OK);
    ASSERT_EQ(attributes->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264), S_OK);
    ASSERT_EQ(attributes->SetString(MF_MT_MAJOR_TYPE, L"wide text"), S_OK);
    ASSERT_EQ(attributes->SetBlob(MF_MT_USER_DATA, blob, sizeof(blob)), S_OK);

    UINT32 u32 = 0;
    UINT64 u64 = 0;
    double real = 0;
    GUID guid = GUID_NULL;
    EXPECT_EQ(attributes->GetUINT32(KeyA, &u32), S_OK);
    EXPECT_EQ(u32, 7u);
    EXPECT_EQ(attributes->GetUINT64(KeyB, &u64), S_OK);
    EXPECT_EQ(u64, 0x123456789ull);
    EXPECT_EQ(attributes->GetDouble(KeyC, &real), S_OK);
    EXPECT_EQ(real, 2.5);
    EXPECT_EQ(attributes->GetGUID(MF_MT_SUBTYPE, &guid), S_OK);
    EXPECT_EQ(guid, MFVideoFormat_H264);

    wchar_t text[16];
    UINT32 length = 0;
    EXPECT_EQ(attributes->GetString(MF_MT_MAJOR_TYPE, text, 16, &length), S_OK);
    EXPECT_EQ(length, 9u);
    EXPECT_STREQ(text, L"wide text");
    UINT8 copy[8] = {};
    UINT32 size = 0;
    EXPECT_EQ(attributes->GetBlob(MF_MT_USER_DATA, copy, sizeof(copy), &size), S_OK);
    EXPECT_EQ(size, sizeof(blob));
    EXPECT_EQ(std::memcmp(copy, blob, sizeof(blob)), 0);

    MF_ATTRIBUTE_TYPE type{};
    EXPECT_EQ(attributes->GetItemType(KeyA, &type), S_OK);
    EXPECT_EQ(type, MF_ATTRIBUTE_UINT32);
    EXPECT_EQ(attributes->GetItemType(MF_MT_USER_DATA, &type), S_OK);
    EXPECT_EQ(type, MF_ATTRIBUTE_BLOB);
    EXPECT_EQ(attributes->GetItemType(MF_MT_FRAME_SIZE, &type), MF_E_ATTRIBUTENOTFOUND);

    UINT32 count = 0;
    EXPECT_EQ(attributes->GetCount(&count), S_OK);
    EXPECT_EQ(count, 6u);
}

TEST(Attributes, WrongKindMissingKeyAndNullArgumentsFailWithWindowsCodes) {
    ComPtr<IMFAttributes> attributes = NewAttributes();
    ASSERT_EQ(attributes->SetUINT32(KeyA, 1), S_OK);
    UINT64 u64 = 99;
    EXPECT_EQ(attributes->GetUINT64(KeyA, &u64), MF_E_INVALIDTYPE);
    EXPECT_EQ(attributes->GetUINT64(KeyB, &u64), MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(attributes->GetUINT32(KeyA, nullptr), E_POINTER);
    EXPECT_EQ(attributes->SetString(KeyB, nullptr), E_POINTER);
    EXPECT_EQ(attributes->SetUnknown(KeyB, nullptr), E_POINTER);
    EXPECT_EQ(attributes->CopyAllItems(nullptr), E_POINTER);

    PROPVARIANT bad;
    PropVariantInit(&bad);
    bad.vt = VT_BOOL;
    EXPECT_EQ(attributes->SetItem(KeyB, bad), MF_E_INVALIDTYPE);
    // A null value only asks whether the item exists.
    EXPECT_EQ(attributes->GetItem(KeyA, nullptr), S_OK);
    EXPECT_EQ(attributes->GetItem(KeyB, nullptr), MF_E_ATTRIBUTENOTFOUND);
}

TEST(Attributes, StringAndBlobBuffersMustHoldTheWholeValue) {
    ComPtr<IMFAttributes> attributes = NewAttributes();
    ASSERT_EQ(attributes->SetString(KeyA, L"abcd"), S_OK);
    const UINT8 blob[] = {9, 8, 7};
    ASSERT_EQ(attributes->SetBlob(KeyB, blob, sizeof(blob)), S_OK);

    wchar_t text[4];
    EXPECT_EQ(attributes->GetString(KeyA, text, 4, nullptr), STRSAFE_E_INSUFFICIENT_BUFFER);
    UINT8 small[2];
    EXPECT_EQ(attributes->GetBlob(KeyB, small, sizeof(small), nullptr), E_NOT_SUFFICIENT_BUFFER);

    LPWSTR allocated = reinterpret_cast<LPWSTR>(1);
    UINT32 length = 5;
    EXPECT_EQ(attributes->GetAllocatedString(KeyB, &allocated, &length), MF_E_INVALIDTYPE);
    EXPECT_EQ(allocated, nullptr);
    EXPECT_EQ(length, 0u);
    ASSERT_EQ(attributes->GetAllocatedString(KeyA, &allocated, &length), S_OK);
    EXPECT_STREQ(allocated, L"abcd");
    EXPECT_EQ(length, 4u);
    CoTaskMemFree(allocated);

    UINT8* bytes = nullptr;
    UINT32 size = 0;
    ASSERT_EQ(attributes->GetAllocatedBlob(KeyB, &bytes, &size), S_OK);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(bytes[2], 7);
    CoTaskMemFree(bytes);
}

TEST(Attributes, KeepsInsertionOrderAndReplacesInPlace) {
    ComPtr<IMFAttributes> attributes = NewAttributes();
    attributes->SetUINT32(KeyA, 1);
    attributes->SetUINT32(KeyB, 2);
    attributes->SetUINT32(KeyC, 3);
    attributes->SetUINT32(KeyA, 10);
    attributes->DeleteItem(KeyB);

    GUID key;
    PROPVARIANT value;
    PropVariantInit(&value);
    ASSERT_EQ(attributes->GetItemByIndex(0, &key, &value), S_OK);
    EXPECT_EQ(key, KeyA);
    EXPECT_EQ(value.vt, VT_UI4);
    EXPECT_EQ(value.ulVal, 10u);
    PropVariantClear(&value);
    ASSERT_EQ(attributes->GetItemByIndex(1, &key, nullptr), S_OK);
    EXPECT_EQ(key, KeyC);
    EXPECT_EQ(attributes->GetItemByIndex(2, &key, nullptr), E_INVALIDARG);
}

TEST(Attributes, CopyAllItemsReplacesTheDestinationAndSurvivesSelfCopy) {
    ComPtr<IMFAttributes> source = NewAttributes();
    ComPtr<IMFAttributes> destination = NewAttributes();
    source->SetUINT32(KeyA, 5);
    source->SetString(KeyB, L"x");
    destination->SetUINT32(KeyC, 1);
    ASSERT_EQ(source->CopyAllItems(destination.Get()), S_OK);

    UINT32 count = 0;
    destination->GetCount(&count);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(destination->GetItem(KeyC, nullptr), MF_E_ATTRIBUTENOTFOUND);
    BOOL same = FALSE;
    EXPECT_EQ(source->Compare(destination.Get(), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same), S_OK);
    EXPECT_TRUE(same);

    ASSERT_EQ(source->CopyAllItems(source.Get()), S_OK);
    source->GetCount(&count);
    EXPECT_EQ(count, 2u);
}

TEST(Attributes, CompareHonoursEachMatchType) {
    ComPtr<IMFAttributes> ours = NewAttributes();
    ComPtr<IMFAttributes> theirs = NewAttributes();
    ours->SetUINT32(KeyA, 1);
    theirs->SetUINT32(KeyA, 1);
    theirs->SetUINT32(KeyB, 2);
    auto compare = [&](MF_ATTRIBUTES_MATCH_TYPE type) {
        BOOL result = 2;
        EXPECT_EQ(ours->Compare(theirs.Get(), type, &result), S_OK);
        return result;
    };
    EXPECT_TRUE(compare(MF_ATTRIBUTES_MATCH_OUR_ITEMS));
    EXPECT_FALSE(compare(MF_ATTRIBUTES_MATCH_THEIR_ITEMS));
    EXPECT_FALSE(compare(MF_ATTRIBUTES_MATCH_ALL_ITEMS));
    EXPECT_TRUE(compare(MF_ATTRIBUTES_MATCH_INTERSECTION));
    EXPECT_TRUE(compare(MF_ATTRIBUTES_MATCH_SMALLER));

    ours->SetUINT32(KeyB, 3);
    EXPECT_FALSE(compare(MF_ATTRIBUTES_MATCH_INTERSECTION));
    EXPECT_FALSE(compare(MF_ATTRIBUTES_MATCH_SMALLER));

    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_UI4;
    value.ulVal = 3;
    BOOL equal = FALSE;
    EXPECT_EQ(ours->CompareItem(KeyB, value, &equal), S_OK);
    EXPECT_TRUE(equal);
    BOOL result = TRUE;
    EXPECT_EQ(ours->Compare(theirs.Get(), static_cast<MF_ATTRIBUTES_MATCH_TYPE>(9), &result), E_INVALIDARG);
}

TEST(Attributes, HoldsAReferenceOnStoredInterfaces) {
    ComPtr<Counted> object = MakeComObject<Counted>();
    {
        ComPtr<IMFAttributes> attributes = NewAttributes();
        ASSERT_EQ(attributes->SetUnknown(KeyA, object.Get()), S_OK);
        EXPECT_EQ(object->References(), 2u);

        ComPtr<IMFAsyncResult> result;
        ASSERT_EQ(attributes->GetUnknown(KeyA, IID_PPV_ARGS(&result)), S_OK);
        EXPECT_EQ(result.Get(), object.Get());
        result = nullptr;

        IMFSample* cleared = reinterpret_cast<IMFSample*>(1);
        EXPECT_EQ(attributes->GetUnknown(KeyA, IID_PPV_ARGS(&cleared)), E_NOINTERFACE);
        EXPECT_EQ(cleared, nullptr);

        ASSERT_EQ(attributes->DeleteAllItems(), S_OK);
        EXPECT_EQ(object->References(), 1u);
        attributes->SetUnknown(KeyA, object.Get());
    }
    EXPECT_EQ(object->References(), 1u);
}

TEST(Attributes, SizeAndRatioHelpersPackTheFirstValueHigh) {
    ComPtr<IMFAttributes> attributes = NewAttributes();
    ASSERT_EQ(MFSetAttributeSize(attributes.Get(), MF_MT_FRAME_SIZE, 1920, 1080), S_OK);
    UINT64 packed = 0;
    attributes->GetUINT64(MF_MT_FRAME_SIZE, &packed);
    EXPECT_EQ(packed, (UINT64(1920) << 32) | 1080);
    ASSERT_EQ(MFSetAttributeRatio(attributes.Get(), MF_MT_FRAME_RATE, 60000, 1001), S_OK);
    UINT32 numerator = 0;
    UINT32 denominator = 0;
    EXPECT_EQ(MFGetAttributeRatio(attributes.Get(), MF_MT_FRAME_RATE, &numerator, &denominator), S_OK);
    EXPECT_EQ(numerator, 60000u);
    EXPECT_EQ(denominator, 1001u);
    EXPECT_EQ(MFGetAttributeSize(attributes.Get(), MF_MT_PIXEL_ASPECT_RATIO, &numerator, &denominator),
              MF_E_ATTRIBUTENOTFOUND);
}

TEST(Attributes, QueryInterfaceAnswersOnlyWhatTheObjectIs) {
    ComPtr<IMFAttributes> attributes = NewAttributes();
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(attributes->QueryInterface(IID_PPV_ARGS(&unknown)), S_OK);
    ComPtr<IMFMediaType> type;
    EXPECT_EQ(attributes->QueryInterface(IID_PPV_ARGS(&type)), E_NOINTERFACE);
    EXPECT_EQ(type, nullptr);
    EXPECT_EQ(attributes->QueryInterface(__uuidof(IMFAttributes), nullptr), E_POINTER);

    ComPtr<IMFMediaType> mediaType;
    ASSERT_EQ(MFCreateMediaType(&mediaType), S_OK);
    ComPtr<IMFAttributes> base;
    EXPECT_EQ(mediaType->QueryInterface(IID_PPV_ARGS(&base)), S_OK);
    EXPECT_EQ(static_cast<IMFAttributes*>(mediaType.Get()), base.Get());
    GUID major;
    EXPECT_EQ(mediaType->GetMajorType(&major), MF_E_ATTRIBUTENOTFOUND);
    mediaType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    EXPECT_EQ(mediaType->GetMajorType(&major), S_OK);
    EXPECT_EQ(major, MFMediaType_Audio);
    EXPECT_EQ(MFCreateMediaType(nullptr), E_POINTER);
}

TEST(Attributes, LockStoreKeepsOtherThreadsOutUntilUnlocked) {
    ComPtr<IMFAttributes> attributes = NewAttributes();
    ASSERT_EQ(attributes->LockStore(), S_OK);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        attributes->SetUINT32(KeyA, 1);
        written = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(written);
    // The holder itself still gets through.
    EXPECT_EQ(attributes->SetUINT32(KeyB, 2), S_OK);
    ASSERT_EQ(attributes->UnlockStore(), S_OK);
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(attributes->UnlockStore(), E_UNEXPECTED);
}

TEST(Attributes, ConcurrentWritersAndReadersKeepTheStoreConsistent) {
    ComPtr<IMFAttributes> attributes = NewAttributes();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            GUID key = KeyA;
            key.Data1 += static_cast<std::uint32_t>(t);
            for (UINT32 i = 0; i < 2000; ++i) {
                attributes->SetUINT32(key, i);
                attributes->SetString(KeyC, L"shared");
                UINT32 count = 0;
                attributes->GetCount(&count);
                PROPVARIANT value;
                PropVariantInit(&value);
                if (SUCCEEDED(attributes->GetItem(KeyC, &value)))
                    PropVariantClear(&value);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    UINT32 count = 0;
    attributes->GetCount(&count);
    EXPECT_EQ(count, 5u);
    for (int t = 0; t < 4; ++t) {
        GUID key = KeyA;
        key.Data1 += static_cast<std::uint32_t>(t);
        UINT32 last = 0;
        EXPECT_EQ(attributes->GetUINT32(key, &last), S_OK);
        EXPECT_EQ(last, 1999u);
    }
}

} // namespace
