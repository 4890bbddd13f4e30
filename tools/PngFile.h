// Writes a grey-scale image as a PNG file.
#pragma once

#include <cstdint>
#include <string>

// `bits` is 8 (one byte per pixel) or 16 (little-endian 16-bit words, as the boards deliver them); rows are
// `width` pixels with no padding. False, with `error` set, when the file cannot be written.
bool write_png_gray(const std::string& path, const void* pixels, uint32_t width, uint32_t height, uint32_t bits,
                    std::string& error);
