// IMFMediaBuffer (memory buffers) and IMFSample.

#include <mfapi.h>
#include <wrl/implements.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

ComPtr<IMFMediaBuffer> BufferWith(const char* text) {
    const DWORD length = static_cast<DWORD>(std::strlen(text));
    ComPtr<IMFMediaBuffer> buffer;
    EXPECT_EQ(MFCreateMemoryBuffer(length + 4, &buffer), S_OK);
    BYTE* data = nullptr;
    EXPECT_EQ(buffer->Lock(&data, nullptr, nullptr), S_OK);
    std::memcpy(data, text, length);
    EXPECT_EQ(buffer->SetCurrentLength(length), S_OK);
    EXPECT_EQ(buffer->Unlock(), S_OK);
    return buffer;
}

std::string Contents(IMFMediaBuffer* buffer) {
    BYTE* data = nullptr;
    DWORD length = 0;
    EXPECT_EQ(buffer->Lock(&data, nullptr, &length), S_OK);
    std::string text(reinterpret_cast<char*>(data), length);
    buffer->Unlock();
    return text;
}

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

TEST(MemoryBuffer, ReportsLengthsAndRefusesACurrentLengthBeyondTheMaximum) {
    ComPtr<IMFMediaBuffer> buffer;
    ASSERT_EQ(MFCreateMemoryBuffer(100, &buffer), S_OK);
    DWORD maximum = 0;
    DWORD current = 99;
    BYTE* data = nullptr;
    ASSERT_EQ(buffer->Lock(&data, &maximum, &current), S_OK);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(maximum, 100u);
    EXPECT_EQ(current, 0u);
    EXPECT_EQ(buffer->Unlock(), S_OK);
    EXPECT_EQ(buffer->SetCurrentLength(101), E_INVALIDARG);
    EXPECT_EQ(buffer->SetCurrentLength(100), S_OK);
    EXPECT_EQ(buffer->GetCurrentLength(&current), S_OK);
    EXPECT_EQ(current, 100u);
    EXPECT_EQ(buffer->Lock(nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(MFCreateMemoryBuffer(10, nullptr), E_POINTER);
}

TEST(MemoryBuffer, AlignedBuffersHonourTheAlignmentAndRejectBadFlags) {
    for (DWORD flags : {MF_16_BYTE_ALIGNMENT, MF_64_BYTE_ALIGNMENT, MF_512_BYTE_ALIGNMENT}) {
        ComPtr<IMFMediaBuffer> buffer;
        ASSERT_EQ(MFCreateAlignedMemoryBuffer(1000, flags, &buffer), S_OK);
        BYTE* data = nullptr;
        buffer->Lock(&data, nullptr, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % (flags + 1), 0u);
        buffer->Unlock();
    }
    IMFMediaBuffer* buffer = reinterpret_cast<IMFMediaBuffer*>(1);
    EXPECT_EQ(MFCreateAlignedMemoryBuffer(1000, 6, &buffer), E_INVALIDARG);
    EXPECT_EQ(buffer, nullptr);
}

TEST(Sample, TimeAndDurationAreMissingUntilSet) {
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateSample(&sample), S_OK);
    LONGLONG value = 5;
    EXPECT_EQ(sample->GetSampleTime(&value), MF_E_NO_SAMPLE_TIMESTAMP);
    EXPECT_EQ(sample->GetSampleDuration(&value), MF_E_NO_SAMPLE_DURATION);
    sample->SetSampleTime(-20);
    sample->SetSampleDuration(333666);
    sample->SetSampleFlags(0);
    EXPECT_EQ(sample->GetSampleTime(&value), S_OK);
    EXPECT_EQ(value, -20);
    EXPECT_EQ(sample->GetSampleDuration(&value), S_OK);
    EXPECT_EQ(value, 333666);
    EXPECT_EQ(sample->GetSampleTime(nullptr), E_POINTER);
    // A sample is an attribute store too.
    EXPECT_EQ(sample->SetUINT32(MFSampleExtension_CleanPoint, 1), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(sample.Get(), MFSampleExtension_CleanPoint, 0), 1u);
}

TEST(Sample, HoldsItsBuffersInOrderAndReleasesThemWhenRemoved) {
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateSample(&sample), S_OK);
    ComPtr<IMFMediaBuffer> first = BufferWith("abc");
    ComPtr<IMFMediaBuffer> second = BufferWith("defgh");
    ASSERT_EQ(sample->AddBuffer(first.Get()), S_OK);
    ASSERT_EQ(sample->AddBuffer(second.Get()), S_OK);
    EXPECT_EQ(sample->AddBuffer(nullptr), E_POINTER);
    EXPECT_EQ(References(first.Get()), 2u);

    DWORD count = 0;
    DWORD total = 0;
    EXPECT_EQ(sample->GetBufferCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(sample->GetTotalLength(&total), S_OK);
    EXPECT_EQ(total, 8u);
    ComPtr<IMFMediaBuffer> got;
    EXPECT_EQ(sample->GetBufferByIndex(1, &got), S_OK);
    EXPECT_EQ(got.Get(), second.Get());
    IMFMediaBuffer* cleared = reinterpret_cast<IMFMediaBuffer*>(1);
    EXPECT_EQ(sample->GetBufferByIndex(2, &cleared), E_INVALIDARG);
    EXPECT_EQ(cleared, nullptr);

    EXPECT_EQ(sample->RemoveBufferByIndex(0), S_OK);
    EXPECT_EQ(References(first.Get()), 1u);
    EXPECT_EQ(sample->RemoveBufferByIndex(5), E_INVALIDARG);
    EXPECT_EQ(sample->RemoveAllBuffers(), S_OK);
    sample->GetBufferCount(&count);
    EXPECT_EQ(count, 0u);
}

TEST(Sample, ContiguousBufferJoinsSeveralBuffersAndKeepsTheJoinedOne) {
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateSample(&sample), S_OK);
    IMFMediaBuffer* none = reinterpret_cast<IMFMediaBuffer*>(1);
    EXPECT_EQ(sample->ConvertToContiguousBuffer(&none), E_UNEXPECTED);
    EXPECT_EQ(none, nullptr);

    ComPtr<IMFMediaBuffer> only = BufferWith("one");
    sample->AddBuffer(only.Get());
    ComPtr<IMFMediaBuffer> same;
    ASSERT_EQ(sample->ConvertToContiguousBuffer(&same), S_OK);
    EXPECT_EQ(same.Get(), only.Get());

    sample->AddBuffer(BufferWith("-two").Get());
    sample->AddBuffer(BufferWith("-three").Get());
    ComPtr<IMFMediaBuffer> joined;
    ASSERT_EQ(sample->ConvertToContiguousBuffer(&joined), S_OK);
    EXPECT_EQ(Contents(joined.Get()), "one-two-three");
    DWORD count = 0;
    sample->GetBufferCount(&count);
    EXPECT_EQ(count, 1u);
    ComPtr<IMFMediaBuffer> kept;
    sample->GetBufferByIndex(0, &kept);
    EXPECT_EQ(kept.Get(), joined.Get());
}

} // namespace
