// The user's own images as a camera's frames: every image file of a folder, in name order, one per frame
// (frame counter c shows image (c - 1) mod count), looping or ending after the last. PNG files must be 8- or
// 16-bit grey; raw files (".raw") hold bare pixels of a stated width, height and pixel depth (one byte per
// pixel up to 8 bits, else two, little-endian). All images must have one size and depth; the camera's
// sensor and pixel format follow them, and a frame is the region of interest cut out of its image.
//
// Immutable once loaded, so boards share it without a lock.
#pragma once

#include "FrameGeometry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vnsim {

class ImageReplay {
public:
    // The stated geometry of raw files.
    struct RawFormat {
        uint32_t width = 0;
        uint32_t height = 0;
        uint32_t bits_per_pixel = 8;  // 8, 10, 12, 14 or 16
    };

    // Reads every file of the folder (names beginning with '.' are left out). Throws std::runtime_error
    // naming the folder or the file that cannot be used, and why.
    ImageReplay(const std::string& folder, bool loop, const std::optional<RawFormat>& raw);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t bits_per_pixel() const { return bits_; }
    size_t count() const { return images_.size(); }
    bool loop() const { return loop_; }
    // Whether frame counter c has an image: always when looping, else up to the last image.
    bool has_frame(uint64_t counter) const { return loop_ || (counter >= 1 && counter <= images_.size()); }

    // Writes the window of geometry's size at (x, y) of frame counter's image into frame (which holds
    // geometry.frame_bytes() bytes). Pixels outside the image are 0; a frame of another pixel depth gets
    // the image's values shifted to its depth.
    void write(std::byte* frame, const FrameGeometry& geometry, uint32_t x, uint32_t y, uint64_t counter) const;

private:
    void add_png(const std::string& path);
    void add_raw(const std::string& path, const RawFormat& raw);
    void add(const std::string& path, uint32_t width, uint32_t height, uint32_t bits, std::vector<uint8_t> pixels);

    bool loop_;
    uint32_t width_ = 0, height_ = 0, bits_ = 0;
    std::vector<std::vector<uint8_t>> images_;  // rows of pixels, 1 or 2 (little-endian) bytes each
};

}  // namespace vnsim
