// `vngtl grab`: acquires frames from one device through the producer's exported functions, shows progress
// while it runs, prints a summary and writes the last image as a PNG file.
#pragma once

#include "Producer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct GrabOptions {
    std::string device = "0";   // interface index, or interface ID
    uint64_t count = 100;       // frames to acquire
    uint32_t buffers = 8;       // buffers announced to the stream
    std::string out = "vngtl-grab.png";
    std::optional<uint32_t> width;   // set on the camera before acquiring
    std::optional<uint32_t> height;
    std::string images;  // a folder of images the simulated cameras play (VNSIM_IMAGES)
};

// Parses the grab arguments after "grab"; false (with a message) on a bad one.
bool parse_grab_options(int argc, const std::string* args, GrabOptions& options);

// 0 on success, 1 on failure (the producer's last error is printed).
int grab(Producer& producer, TL_HANDLE system, const GrabOptions& options);
