// Configurations of the simulated boards for tests and the soak: the JSON text vnsim_configure takes, built
// from the few values these programs vary (kind, camera file geometry, frame source).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace vntest {

// One board with one camera file; the frame source runs `trigger` ("free" or "manual") at `rate` frames a
// second (0: as fast as it can) with `pattern` ("moving" or "benchmark"). `extra` is added to the board's
// object as it is (", \"key\": value" pairs).
struct SimBoard {
    std::string kind = "CXP";
    std::string camera_file = "Test.cam";
    uint32_t width = 64;
    uint32_t height = 48;
    uint32_t bits_per_pixel = 8;
    double rate = 0;
    std::string trigger = "free";
    std::string pattern = "moving";
    std::string extra;

    std::string json() const
    {
        return R"({"kind": ")" + kind + R"(", "camera_files": [{"name": ")" + camera_file +
               R"(", "width": )" + std::to_string(width) + R"(, "height": )" + std::to_string(height) +
               R"(, "bits_per_pixel": )" + std::to_string(bits_per_pixel) + R"(}], "frame_source": {"rate": )" +
               std::to_string(rate) + R"(, "trigger": ")" + trigger + R"(", "pattern": ")" + pattern + R"("})" +
               extra + "}";
    }
};

// The configuration of `boards`, numbered in the order given.
inline std::string sim_config(std::initializer_list<SimBoard> boards)
{
    std::string text = R"({"boards": [)";
    for (const SimBoard& board : boards) {
        text += (text.back() == '[' ? "" : ", ") + board.json();
    }
    return text + "]}";
}

// `count` boards alike.
inline std::string sim_config(const SimBoard& board, unsigned count)
{
    std::string text = R"({"boards": [)";
    for (unsigned i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ", ") + board.json();
    }
    return text + "]}";
}

}  // namespace vntest
