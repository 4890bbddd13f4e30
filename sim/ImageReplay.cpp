#include "ImageReplay.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace vnsim {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why)
{
    throw std::runtime_error("cannot use the image \"" + path + "\": " + why);
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void on_png_error(png_structp png, png_const_charp message)
{
    *static_cast<std::string*>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct PngImage {
    uint32_t width = 0, height = 0, bits = 0;
    std::vector<uint8_t> pixels;  // rows of little-endian pixels
    std::vector<png_bytep> rows;
    std::string refusal;          // why the image cannot be used; empty when it can
};

// The part of reading that libpng may leave by a long jump: it holds no object of its own that would need
// destroying, everything lives in image. Kept out of line, so that its strings stay out of the frame that
// the jump returns to.
[[gnu::noinline]] void read_png_body(png_structp png, png_infop info, std::FILE* file, PngImage& image)
{
    png_init_io(png, file);
    png_read_info(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int colour = png_get_color_type(png, info);
    if (colour != PNG_COLOR_TYPE_GRAY || (depth != 8 && depth != 16)) {
        image.refusal = "a PNG image must be 8- or 16-bit grey without alpha (this one has colour type " +
                        std::to_string(colour) + ", " + std::to_string(depth) + " bits)";
        return;
    }
    if (depth == 16) {
        png_set_swap(png);  // little-endian, as the frames hold them
    }
    png_read_update_info(png, info);
    image.width = png_get_image_width(png, info);
    image.height = png_get_image_height(png, info);
    image.bits = static_cast<uint32_t>(depth);
    const size_t row_bytes = png_get_rowbytes(png, info);
    image.pixels.assign(row_bytes * image.height, 0);
    image.rows.resize(image.height);
    for (uint32_t y = 0; y < image.height; ++y) {
        image.rows[y] = image.pixels.data() + row_bytes * y;
    }
    png_read_image(png, image.rows.data());
    png_read_end(png, nullptr);
}

// Runs read_png_body where libpng's long jump lands; false when libpng gave up (its message is in the error
// text that the read struct carries). Nothing here lives across the jump but the arguments.
bool read_png_guarded(png_structp png, png_infop info, std::FILE* file, PngImage& image)
{
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    read_png_body(png, info, file, image);
    return true;
}

// Reads a grey PNG of 8 or 16 bits; image.refusal tells why it cannot be used.
void read_png(std::FILE* file, PngImage& image)
{
    std::string error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, on_png_error, on_png_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        image.refusal = "out of memory";
        return;
    }
    if (!read_png_guarded(png, info, file, image)) {
        image.refusal = "not a readable PNG file (" + error + ")";
    }
    png_destroy_read_struct(&png, &info, nullptr);
}

}  // namespace

ImageReplay::ImageReplay(const std::string& folder, bool loop, const std::optional<RawFormat>& raw) : loop_(loop)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        throw std::runtime_error("the image folder \"" + folder + "\" does not exist or is not a folder");
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().filename().string().starts_with('.')) {
            continue;
        }
        files.push_back(entry.path());
    }
    if (ec) {
        throw std::runtime_error("cannot list the image folder \"" + folder + "\": " + ec.message());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        const std::string path = file.string();
        if (!std::filesystem::is_regular_file(file, ec)) {
            refuse(path, "not a regular file");
        }
        const std::string extension = lower(file.extension().string());
        if (extension == ".png") {
            add_png(path);
        } else if (extension == ".raw") {
            if (!raw) {
                refuse(path, "a raw image needs the raw format (width, height, pixel_format) stated");
            }
            add_raw(path, *raw);
        } else {
            refuse(path, "only .png and .raw images are played");
        }
    }
    if (images_.empty()) {
        throw std::runtime_error("the image folder \"" + folder + "\" holds no images");
    }
}

void ImageReplay::add_png(const std::string& path)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        refuse(path, std::strerror(errno));
    }
    PngImage image;
    read_png(file.get(), image);
    if (!image.refusal.empty()) {
        refuse(path, image.refusal);
    }
    add(path, image.width, image.height, image.bits, std::move(image.pixels));
}

void ImageReplay::add_raw(const std::string& path, const RawFormat& raw)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        refuse(path, std::strerror(errno));
    }
    std::vector<uint8_t> pixels{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const uint64_t expected = uint64_t{raw.width} * raw.height * (raw.bits_per_pixel > 8 ? 2 : 1);
    if (in.bad() || pixels.size() != expected) {
        refuse(path, "holds " + std::to_string(pixels.size()) + " bytes, not the " + std::to_string(expected) +
                         " of a " + std::to_string(raw.width) + " x " + std::to_string(raw.height) + " image of " +
                         std::to_string(raw.bits_per_pixel) + "-bit pixels");
    }
    add(path, raw.width, raw.height, raw.bits_per_pixel, std::move(pixels));
}

void ImageReplay::add(const std::string& path, uint32_t width, uint32_t height, uint32_t bits,
                      std::vector<uint8_t> pixels)
{
    if (images_.empty()) {
        width_ = width;
        height_ = height;
        bits_ = bits;
    } else if (width != width_ || height != height_ || bits != bits_) {
        refuse(path, std::to_string(width) + " x " + std::to_string(height) + " with " + std::to_string(bits) +
                         "-bit pixels differs from the first image's " + std::to_string(width_) + " x " +
                         std::to_string(height_) + " with " + std::to_string(bits_) + "-bit pixels");
    }
    images_.push_back(std::move(pixels));
}

void ImageReplay::write(std::byte* frame, const FrameGeometry& geometry, uint32_t x, uint32_t y,
                        uint64_t counter) const
{
    const std::vector<uint8_t>& image = images_[(counter - 1) % images_.size()];
    const uint32_t in_bytes = bits_ > 8 ? 2 : 1;
    const uint32_t out_bytes = geometry.bytes_per_pixel();
    const size_t frame_bytes = static_cast<size_t>(geometry.frame_bytes());
    std::memset(frame, 0, frame_bytes);
    if (x >= width_ || y >= height_) {
        return;
    }
    const uint32_t columns = std::min(geometry.width, width_ - x);
    const uint32_t rows = std::min(geometry.height, height_ - y);
    if (out_bytes == in_bytes && geometry.bits_per_pixel == bits_) {
        for (uint32_t row = 0; row < rows; ++row) {
            std::memcpy(frame + size_t{row} * geometry.width * out_bytes,
                        image.data() + (size_t{y + row} * width_ + x) * in_bytes, size_t{columns} * in_bytes);
        }
        return;
    }
    // Another depth: each value shifted from the image's depth to the frame's.
    for (uint32_t row = 0; row < rows; ++row) {
        for (uint32_t column = 0; column < columns; ++column) {
            const uint8_t* in = image.data() + (size_t{y + row} * width_ + x + column) * in_bytes;
            uint32_t value = in_bytes == 2 ? uint32_t{in[0]} | uint32_t{in[1]} << 8 : in[0];
            value = geometry.bits_per_pixel >= bits_ ? value << (geometry.bits_per_pixel - bits_)
                                                     : value >> (bits_ - geometry.bits_per_pixel);
            std::byte* out = frame + (size_t{row} * geometry.width + column) * out_bytes;
            for (uint32_t b = 0; b < out_bytes; ++b) {
                out[b] = static_cast<std::byte>(value >> (8 * b));
            }
        }
    }
}

}  // namespace vnsim
