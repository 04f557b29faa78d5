#pragma once
// Shared pieces of the ring tests: whole-file access and record building.

#include "ring/RingFile.h"
#include "ring/RingIndexEntry.h"
#include "ring/RingPacketHeader.h"

#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file by a new one: truncating in place makes some file systems flush it on close.
inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::remove(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

template <typename T>
void AppendRaw(Bytes& bytes, const T& value) {
    const auto* raw = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof value);
}

// A payload that names its packet, so a replayed record can be matched to what was written.
inline Bytes MakePayload(uint32_t packet, uint32_t size) {
    Bytes payload(size);
    for (uint32_t i = 0; i < size; ++i) {
        payload[i] = static_cast<uint8_t>(packet * 31 + i * 7);
    }
    return payload;
}

struct Record {
    RingPacketHeader header;
    Bytes payload;
};

// Plays the ring back to its end. Fails the calling test when it runs past any sane record count.
inline std::vector<Record> ReadAll(RingFile& ring) {
    std::vector<Record> records;
    RingPacketHeader header{};
    const uint8_t* payload = nullptr;
    uint32_t size = 0;
    while (!ring.ReadNext(header, payload, size)) {
        records.push_back({header, Bytes(payload, payload + size)});
        if (records.size() > 1000000) {
            throw std::runtime_error("playback does not end");
        }
    }
    return records;
}

inline std::vector<uint32_t> Timestamps(const std::vector<Record>& records) {
    std::vector<uint32_t> timestamps;
    for (const Record& record : records) {
        timestamps.push_back(record.header.timestamp);
    }
    return timestamps;
}

inline Record MakeRecord(uint32_t timestamp, uint32_t flags, uint32_t size) {
    static uint32_t s_packet = 100000;
    return {{timestamp, 1500, size, flags}, MakePayload(++s_packet, size)};
}

// Writes one packet whose payload names it; the returned record is what playback must give back.
inline Record PutPacket(RingFile& ring, uint32_t timestamp, uint32_t flags, uint32_t size) {
    Record record = MakeRecord(timestamp, flags, size);
    EXPECT_EQ(ring.Write(record.header, record.payload.data(), size), 0) << "timestamp " << timestamp;
    return record;
}

inline void ExpectSameRecords(const std::vector<Record>& actual, const std::vector<Record>& expected) {
    ASSERT_EQ(Timestamps(actual), Timestamps(expected));
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(std::memcmp(&actual[i].header, &expected[i].header, sizeof(RingPacketHeader)), 0)
            << "record " << i;
        EXPECT_EQ(actual[i].payload, expected[i].payload) << "record " << i;
    }
}

constexpr uint32_t VideoKey = RingFlagKeyFrame;
constexpr uint32_t VideoDelta = 0;
constexpr uint32_t Audio = RingPacketFlags(RingStreamKind::Audio, false);

// Builds files byte by byte, independent of the writer: four little-endian u32, then the payload.
inline void AppendLe(Bytes& bytes, uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i) {
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

inline void AppendHeader(Bytes& bytes, const RingPacketHeader& header) {
    AppendLe(bytes, header.timestamp, 4);
    AppendLe(bytes, header.duration, 4);
    AppendLe(bytes, header.size, 4);
    AppendLe(bytes, header.flags, 4);
}

// Appends the record and returns its offset.
inline uint64_t AppendRecord(Bytes& data, const Record& record) {
    const uint64_t offset = data.size();
    AppendHeader(data, record.header);
    data.insert(data.end(), record.payload.begin(), record.payload.end());
    return offset;
}

inline void AppendIndexEntry(Bytes& index, uint64_t offset, const RingPacketHeader& header) {
    AppendLe(index, offset, 8);
    AppendHeader(index, header);
}
