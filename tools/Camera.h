// `vngtl camera [N]`: the camera behind interface N's device, seen through the device's remote port: the
// port's info values, the camera's XML URLs and its bootstrap strings. Also the camera-side settings that
// `vngtl grab` makes (Width and Height, found through the camera's bootstrap pointer block).
#pragma once

#include "Producer.h"

#include <cstdint>
#include <optional>
#include <string>

// 0 on success, 1 on failure (the producer's last error is printed).
int camera(Producer& producer, TL_HANDLE system, const std::string& which);

// A 32-bit camera register through the remote port, big-endian as cameras hold them.
bool read_camera_u32(Producer& producer, PORT_HANDLE port, uint64_t address, uint32_t& value);
bool write_camera_u32(Producer& producer, PORT_HANDLE port, uint64_t address, uint32_t value);

// Writes Width and/or Height at the addresses the camera's pointer block names (0x3000, 0x3004); prints
// what failed and answers false.
bool set_camera_geometry(Producer& producer, DEV_HANDLE device, std::optional<uint32_t> width,
                         std::optional<uint32_t> height);
