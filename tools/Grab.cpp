#include "Grab.h"

#include "Camera.h"
#include "OpenDevice.h"
#include "PngFile.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Significant bits of the mono pixel formats the boards deliver; 0 for a format the tool cannot save.
uint32_t significant_bits(uint64_t pixel_format)
{
    switch (pixel_format) {
    case 0x01080001: return 8;   // Mono8
    case 0x01100003: return 10;  // Mono10
    case 0x01100005: return 12;  // Mono12
    case 0x01100025: return 14;  // Mono14
    case 0x01100007: return 16;  // Mono16
    default: return 0;
    }
}

template <class T>
T buffer_info(Producer& producer, DS_HANDLE stream, BUFFER_HANDLE buffer, BUFFER_INFO_CMD command)
{
    T value{};
    INFO_DATATYPE type = 0;
    size_t size = sizeof value;
    producer.DSGetBufferInfo(stream, buffer, command, &type, &value, &size);
    return value;
}

struct Progress {
    bool terminal = false;
    Clock::time_point start;
    Clock::time_point last_print;
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t lost = 0;

    void print(bool final_line)
    {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double fps = seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
        const double mbps = seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
        std::printf("%s%8llu frames  %8.1f frames/s  %9.1f MB/s  %6llu lost%s", terminal ? "\r" : "",
                    static_cast<unsigned long long>(frames), fps, mbps, static_cast<unsigned long long>(lost),
                    terminal && !final_line ? "" : "\n");
        std::fflush(stdout);
        last_print = Clock::now();
    }

    void tick()
    {
        const auto period = terminal ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1000);
        if (Clock::now() - last_print >= period) {
            print(false);
        }
    }
};

struct LastImage {
    std::vector<uint8_t> data;
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t pixel_format = 0;
};

bool save(const LastImage& image, const std::string& path)
{
    const uint32_t bits = significant_bits(image.pixel_format);
    std::string error;
    bool written = false;
    if (bits == 8) {
        written = write_png_gray(path, image.data.data(), image.width, image.height, 8, error);
    } else if (bits > 8) {
        // Scaled to the full 16-bit range so that the image is not nearly black.
        const size_t pixels = size_t{image.width} * image.height;
        std::vector<uint16_t> scaled(pixels);
        std::memcpy(scaled.data(), image.data.data(), std::min(image.data.size(), pixels * 2));
        for (uint16_t& value : scaled) {
            value = static_cast<uint16_t>(value << (16 - bits));
        }
        written = write_png_gray(path, scaled.data(), image.width, image.height, 16, error);
    } else {
        error = "pixel format 0x" + std::to_string(image.pixel_format) + " cannot be saved";
    }
    if (!written) {
        std::fprintf(stderr, "vngtl: the image was not written: %s\n", error.c_str());
    }
    return written;
}

}  // namespace

bool parse_grab_options(int argc, const std::string* args, GrabOptions& options)
{
    for (int i = 0; i < argc; ++i) {
        const std::string& arg = args[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vngtl: %s needs a value\n", arg.c_str());
            return false;
        }
        const std::string& value = args[++i];
        char* end = nullptr;
        if (arg == "--device") {
            options.device = value;
        } else if (arg == "--count") {
            options.count = std::strtoull(value.c_str(), &end, 10);
            if (*end != '\0' || options.count == 0) {
                std::fprintf(stderr, "vngtl: --count needs a positive number\n");
                return false;
            }
        } else if (arg == "--buffers") {
            options.buffers = static_cast<uint32_t>(std::strtoul(value.c_str(), &end, 10));
            if (*end != '\0' || options.buffers == 0) {
                std::fprintf(stderr, "vngtl: --buffers needs a positive number\n");
                return false;
            }
        } else if (arg == "--out") {
            options.out = value;
        } else if (arg == "--images") {
            options.images = value;
        } else if (arg == "--width" || arg == "--height") {
            const unsigned long number = std::strtoul(value.c_str(), &end, 10);
            if (*end != '\0' || number == 0 || number > 0xFFFFFFFFul) {
                std::fprintf(stderr, "vngtl: %s needs a positive number\n", arg.c_str());
                return false;
            }
            (arg == "--width" ? options.width : options.height) = static_cast<uint32_t>(number);
        } else {
            std::fprintf(stderr, "vngtl: unknown grab option %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

int grab(Producer& producer, TL_HANDLE system, const GrabOptions& options)
{
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    std::string id;
    if (!open_device(producer, system, options.device, DEVICE_ACCESS_CONTROL, iface, device, id)) {
        return 1;
    }
    std::printf("device: %s\n", id.c_str());
    // The camera decides the frames' geometry; the stream follows it.
    if (!set_camera_geometry(producer, device, options.width, options.height)) {
        producer.DevClose(device);
        producer.IFClose(iface);
        return 1;
    }
    int result = 1;
    DS_HANDLE stream = nullptr;
    EVENT_HANDLE event = nullptr;
    std::vector<BUFFER_HANDLE> buffers;
    const auto fail = [&](const char* what) {
        std::fprintf(stderr, "\nvngtl: %s failed: %s\n", what, producer.last_error().c_str());
    };

    size_t payload = 0;
    INFO_DATATYPE type = 0;
    size_t size = sizeof payload;
    if (producer.DevOpenDataStream(device, "TLDataStream", &stream) != GC_ERR_SUCCESS) {
        fail("DevOpenDataStream");
    } else if (producer.DSGetInfo(stream, STREAM_INFO_PAYLOAD_SIZE, &type, &payload, &size) != GC_ERR_SUCCESS) {
        fail("DSGetInfo(STREAM_INFO_PAYLOAD_SIZE)");
    } else {
        bool ready = true;
        for (uint32_t i = 0; i < options.buffers && ready; ++i) {
            BUFFER_HANDLE buffer = nullptr;
            ready = producer.DSAllocAndAnnounceBuffer(stream, payload, nullptr, &buffer) == GC_ERR_SUCCESS &&
                    producer.DSQueueBuffer(stream, buffer) == GC_ERR_SUCCESS;
            if (buffer != nullptr) {
                buffers.push_back(buffer);
            }
        }
        if (!ready) {
            fail("announcing and queueing the buffers");
        } else if (producer.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event) != GC_ERR_SUCCESS) {
            fail("GCRegisterEvent");
        } else if (producer.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, options.count) != GC_ERR_SUCCESS) {
            fail("DSStartAcquisition");
        } else {
            std::printf("acquiring %llu frames of %zu bytes with %u buffers\n",
                        static_cast<unsigned long long>(options.count), payload, options.buffers);
            Progress progress;
            progress.terminal = isatty(STDOUT_FILENO) != 0;
            progress.start = progress.last_print = Clock::now();
            LastImage last;
            uint64_t previous_id = 0;
            bool ok = true;
            while (progress.frames < options.count) {
                EVENT_NEW_BUFFER_DATA data{};
                size_t data_size = sizeof data;
                if (producer.EventGetData(event, &data, &data_size, 3000) != GC_ERR_SUCCESS) {
                    fail("EventGetData");
                    ok = false;
                    break;
                }
                BUFFER_HANDLE buffer = data.BufferHandle;
                const auto frame_id = buffer_info<uint64_t>(producer, stream, buffer, BUFFER_INFO_FRAMEID);
                const auto filled = buffer_info<size_t>(producer, stream, buffer, BUFFER_INFO_SIZE_FILLED);
                if (progress.frames > 0 && frame_id > previous_id + 1) {
                    progress.lost += frame_id - previous_id - 1;
                }
                previous_id = frame_id;
                ++progress.frames;
                progress.bytes += filled;
                if (progress.frames == options.count) {
                    const auto* base = buffer_info<const uint8_t*>(producer, stream, buffer, BUFFER_INFO_BASE);
                    last.data.assign(base, base + filled);
                    last.width = static_cast<uint32_t>(buffer_info<size_t>(producer, stream, buffer, BUFFER_INFO_WIDTH));
                    last.height =
                        static_cast<uint32_t>(buffer_info<size_t>(producer, stream, buffer, BUFFER_INFO_HEIGHT));
                    last.pixel_format = buffer_info<uint64_t>(producer, stream, buffer, BUFFER_INFO_PIXELFORMAT);
                }
                producer.DSQueueBuffer(stream, buffer);
                progress.tick();
            }
            progress.print(true);
            if (ok) {
                const double seconds = std::chrono::duration<double>(Clock::now() - progress.start).count();
                std::printf("summary: %llu frames in %.2f s, %.1f frames/s, %.1f MB/s, %llu lost\n",
                            static_cast<unsigned long long>(progress.frames), seconds,
                            static_cast<double>(progress.frames) / seconds,
                            static_cast<double>(progress.bytes) / seconds / 1e6,
                            static_cast<unsigned long long>(progress.lost));
                if (save(last, options.out)) {
                    std::printf("last image (%ux%u, frame %llu): %s\n", last.width, last.height,
                                static_cast<unsigned long long>(previous_id), options.out.c_str());
                    result = 0;
                }
            }
            producer.DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL);
        }
    }
    if (stream != nullptr) {
        producer.DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD);
        if (event != nullptr) {
            producer.EventFlush(event);
            producer.GCUnregisterEvent(stream, EVENT_NEW_BUFFER);
        }
        for (BUFFER_HANDLE buffer : buffers) {
            producer.DSRevokeBuffer(stream, buffer, nullptr, nullptr);
        }
        producer.DSClose(stream);
    }
    producer.DevClose(device);
    producer.IFClose(iface);
    return result;
}
