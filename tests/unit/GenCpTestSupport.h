// A minimal GenCP host for the simulator's Camera Link tests: builds command packets, reads answers from
// the serial line and checks their checksums. Written apart from the CLProtocol stand-in's own codec so
// that the two check each other. The line is reached through the maker's serial entry points unless the
// test passes the standard library's (which route to them).
#pragma once

#include <vnser.h>
#include <vnsim.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace gencp_test {

using SerialIo = int32_t (*)(void*, char*, uint32_t*, uint32_t);
inline constexpr int32_t timeout = -10004;

inline uint16_t checksum(const uint8_t* data, size_t size)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        sum += static_cast<uint32_t>(data[i] << 8 | (i + 1 < size ? data[i + 1] : 0));
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

inline void put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline std::vector<uint8_t> packet(uint16_t command, uint16_t request_id, const std::vector<uint8_t>& scd)
{
    // Prefix, then the two checksums (filled in last) and the channel.
    std::vector<uint8_t> out = {0x01, 0x00, 0, 0, 0, 0, 0, 0};
    put16(out, 0x4000);  // request an acknowledge
    put16(out, command);
    put16(out, static_cast<uint32_t>(scd.size()));
    put16(out, request_id);
    out.insert(out.end(), scd.begin(), scd.end());
    const uint16_t ccd = checksum(&out[6], 10);
    const uint16_t all = checksum(&out[6], out.size() - 6);
    out[2] = static_cast<uint8_t>(ccd >> 8);
    out[3] = static_cast<uint8_t>(ccd);
    out[4] = static_cast<uint8_t>(all >> 8);
    out[5] = static_cast<uint8_t>(all);
    return out;
}

inline std::vector<uint8_t> address_bytes(uint64_t address)
{
    std::vector<uint8_t> out;
    for (int i = 7; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(address >> (8 * i)));
    }
    return out;
}

inline std::vector<uint8_t> read_mem(uint16_t request_id, uint64_t address, uint16_t length)
{
    auto scd = address_bytes(address);
    put16(scd, 0);
    put16(scd, length);
    return packet(0x0800, request_id, scd);
}

inline std::vector<uint8_t> write_mem_u32(uint16_t request_id, uint64_t address, uint32_t value)
{
    auto scd = address_bytes(address);
    for (int i = 0; i < 4; ++i) {
        scd.push_back(static_cast<uint8_t>(value >> (8 * i)));  // little-endian registers
    }
    return packet(0x0802, request_id, scd);
}

struct Answer {
    int32_t result = 0;    // of the serial read
    bool checksums_ok = false;
    uint16_t status = 0;
    uint16_t id = 0;
    uint16_t request_id = 0;
    std::vector<uint8_t> payload;
};

inline int32_t send(void* serial, std::vector<uint8_t> bytes, uint32_t timeout_ms = 1000,
                    SerialIo write = clVNSerialWrite)
{
    auto size = static_cast<uint32_t>(bytes.size());
    return write(serial, reinterpret_cast<char*>(bytes.data()), &size, timeout_ms);
}

inline Answer receive(void* serial, uint32_t timeout_ms = 1000, SerialIo read = clVNSerialRead)
{
    Answer answer;
    std::vector<uint8_t> header(16);
    uint32_t size = 16;
    answer.result = read(serial, reinterpret_cast<char*>(header.data()), &size, timeout_ms);
    if (answer.result != 0) {
        return answer;
    }
    const auto length = static_cast<uint16_t>(header[12] << 8 | header[13]);
    answer.payload.resize(length);
    if (length > 0) {
        size = length;
        answer.result = read(serial, reinterpret_cast<char*>(answer.payload.data()), &size, timeout_ms);
        if (answer.result != 0) {
            return answer;
        }
    }
    std::vector<uint8_t> whole(header.begin() + 6, header.end());
    whole.insert(whole.end(), answer.payload.begin(), answer.payload.end());
    answer.checksums_ok = checksum(&header[6], 10) == (header[2] << 8 | header[3]) &&
                          checksum(whole.data(), whole.size()) == (header[4] << 8 | header[5]);
    answer.status = static_cast<uint16_t>(header[8] << 8 | header[9]);
    answer.id = static_cast<uint16_t>(header[10] << 8 | header[11]);
    answer.request_id = static_cast<uint16_t>(header[14] << 8 | header[15]);
    return answer;
}

inline uint32_t le32(const std::vector<uint8_t>& bytes, size_t at = 0)
{
    return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24);
}

// The simulated Camera Link camera's counters (board 1 in the default configuration).
inline VnsimClStats cl_stats(int board = 1)
{
    VnsimClStats stats{};
    EXPECT_EQ(vnsim_cl_stats(board, &stats), 0);
    return stats;
}

inline double millis_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace gencp_test
