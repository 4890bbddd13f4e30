// What a consumer can check of a buffer that EventGetData handed out: that it holds, pixel for pixel, the
// simulated board's frame whose number its BUFFER_INFO_FRAMEID gives (the moving pattern and the 8-byte
// stamp of docs/simulator.md), and that its size, width, height and time stamps describe that frame.
#pragma once

#include <gentl/GenTL.h>
#include <vnsim.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// The frames a stream is expected to deliver.
struct ExpectedFrames {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bits_per_pixel = 8;

    size_t bytes_per_pixel() const { return (bits_per_pixel + 7) / 8; }
    size_t frame_bytes() const { return size_t{width} * height * bytes_per_pixel(); }
};

// What the buffer's info values said.
struct DeliveredFrame {
    uint64_t id = 0;
    uint64_t timestamp = 0;     // the board's clock (125 MHz)
    uint64_t timestamp_ns = 0;  // the microsecond stamp in nanoseconds
};

namespace frame_check {

template <class T>
inline bool buffer_info(GenTL::DS_HANDLE stream, GenTL::BUFFER_HANDLE buffer, GenTL::BUFFER_INFO_CMD command, T& value)
{
    GenTL::INFO_DATATYPE type = 0;
    size_t size = sizeof value;
    return GenTL::DSGetBufferInfo(stream, buffer, command, &type, &value, &size) == GenTL::GC_ERR_SUCCESS &&
           size == sizeof value;
}

// The moving pattern of an 8-bit frame, row by row: row y is the byte ramp starting at (y + id) mod 256,
// after the stamp. Far quicker than a byte-by-byte comparison, so that a consumer can check every frame.
inline bool is_moving_8bit(const uint8_t* data, const ExpectedFrames& expected, uint64_t id)
{
    static const std::array<uint8_t, 512> ramp = [] {
        std::array<uint8_t, 512> values{};
        for (size_t i = 0; i < values.size(); ++i) {
            values[i] = static_cast<uint8_t>(i & 0xFF);
        }
        return values;
    }();
    for (size_t i = 0; i < 8 && i < expected.frame_bytes(); ++i) {
        if (data[i] != static_cast<uint8_t>(id >> (8 * i))) {
            return false;
        }
    }
    const size_t row_bytes = expected.width;
    for (uint32_t y = 0; y < expected.height; ++y) {
        const uint8_t* row = data + size_t{y} * row_bytes;
        const size_t phase = static_cast<size_t>((uint64_t{y} + id) & 0xFF);
        // The stamp covers the first 8 bytes of the frame.
        for (size_t done = y == 0 ? std::min<size_t>(8, row_bytes) : 0; done < row_bytes;) {
            const size_t start = (phase + done) & 0xFF;
            const size_t n = std::min<size_t>(256, row_bytes - done);
            if (std::memcmp(row + done, ramp.data() + start, n) != 0) {
                return false;
            }
            done += n;
        }
    }
    return true;
}

}  // namespace frame_check

// Checks a delivered buffer; returns "" when it holds exactly its frame, otherwise what is wrong. `out`
// receives the frame's ID and time stamps.
inline std::string check_delivered_frame(GenTL::DS_HANDLE stream, GenTL::BUFFER_HANDLE buffer,
                                         const ExpectedFrames& expected, DeliveredFrame& out)
{
    using namespace GenTL;
    using frame_check::buffer_info;
    void* base = nullptr;
    size_t filled = 0;
    size_t width = 0;
    size_t height = 0;
    uint8_t present = 0;
    if (!buffer_info(stream, buffer, BUFFER_INFO_FRAMEID, out.id) || !buffer_info(stream, buffer, BUFFER_INFO_BASE, base) ||
        !buffer_info(stream, buffer, BUFFER_INFO_SIZE_FILLED, filled) ||
        !buffer_info(stream, buffer, BUFFER_INFO_WIDTH, width) || !buffer_info(stream, buffer, BUFFER_INFO_HEIGHT, height) ||
        !buffer_info(stream, buffer, BUFFER_INFO_TIMESTAMP, out.timestamp) ||
        !buffer_info(stream, buffer, BUFFER_INFO_TIMESTAMP_NS, out.timestamp_ns) ||
        !buffer_info(stream, buffer, BUFFER_INFO_IMAGEPRESENT, present)) {
        return "a buffer info query failed";
    }
    const std::string frame = "frame " + std::to_string(out.id) + ": ";
    if (out.id == 0 || present == 0) {
        return frame + "no image";
    }
    if (filled != expected.frame_bytes() || width != expected.width || height != expected.height) {
        return frame + "size " + std::to_string(filled) + ", " + std::to_string(width) + "x" + std::to_string(height);
    }
    // The board's clock ticks at 125 MHz and the nanosecond stamp is its microsecond stamp: both tell the
    // same moment.
    const uint64_t board_ns = out.timestamp * 8;
    const uint64_t apart = board_ns > out.timestamp_ns ? board_ns - out.timestamp_ns : out.timestamp_ns - board_ns;
    if (out.timestamp == 0 || apart > 1'000'000) {
        return frame + "time stamps " + std::to_string(out.timestamp) + " and " + std::to_string(out.timestamp_ns) +
               " ns disagree";
    }
    const auto* data = static_cast<const uint8_t*>(base);
    if (expected.bits_per_pixel == 8 && frame_check::is_moving_8bit(data, expected, out.id)) {
        return "";
    }
    const long long wrong =
        vnsim_check_frame(data, filled, expected.width, expected.height, expected.bits_per_pixel, out.id);
    if (wrong == 0) {
        return "";
    }
    if (wrong < 0) {
        return frame + "not a frame";
    }
    const size_t row_bytes = size_t{expected.width} * expected.bytes_per_pixel();
    return frame + "wrong from byte " + std::to_string(wrong - 1) + " (row " +
           std::to_string(static_cast<size_t>(wrong - 1) / row_bytes) + "); stamp " +
           std::to_string(vnsim_frame_stamp(data, filled));
}

// The frames of one acquisition, in the order of their IDs, were made one after the other: their time
// stamps rise strictly with the ID. Returns "" or the first pair that does not.
inline std::string check_time_stamps_rise(std::vector<DeliveredFrame> frames)
{
    std::sort(frames.begin(), frames.end(), [](const DeliveredFrame& a, const DeliveredFrame& b) { return a.id < b.id; });
    for (size_t i = 1; i < frames.size(); ++i) {
        if (frames[i].id == frames[i - 1].id) {
            return "frame " + std::to_string(frames[i].id) + " delivered twice";
        }
        if (frames[i].timestamp <= frames[i - 1].timestamp) {
            return "frame " + std::to_string(frames[i].id) + " is stamped " + std::to_string(frames[i].timestamp) +
                   ", frame " + std::to_string(frames[i - 1].id) + " " + std::to_string(frames[i - 1].timestamp);
        }
    }
    return "";
}
