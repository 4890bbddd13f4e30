// Configurations of the simulated boards for tests and the soak: the JSON text vnsim_configure takes, built
// from the few values these programs vary (kind, camera file geometry, frame source).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vntest {

// One board with one camera file of `width` x `height` pixels; its frame source runs `trigger` ("free" or
// "manual") at `rate` frames a second (0: as fast as it can) with `pattern` ("moving" or "benchmark"), its
// DMA paced at `bus_bandwidth` bytes a second when that is set. `extra` is added to the board's object as it
// is (", \"key\": value" pairs).
class SimBoard {
public:
    SimBoard(uint32_t width, uint32_t height, std::string camera_file = "Test.cam")
        : width_(width), height_(height), camera_file_(std::move(camera_file))
    {
    }
    SimBoard& kind(std::string value) { return set(kind_, std::move(value)); }
    SimBoard& bits_per_pixel(uint32_t value) { return set(bits_, value); }
    SimBoard& rate(double value) { return set(rate_, value); }
    SimBoard& trigger(std::string value) { return set(trigger_, std::move(value)); }
    SimBoard& pattern(std::string value) { return set(pattern_, std::move(value)); }
    SimBoard& bus_bandwidth(double value) { return set(bus_bandwidth_, value); }
    SimBoard& extra(std::string value) { return set(extra_, std::move(value)); }

    std::string json() const
    {
        return R"({"kind": ")" + kind_ + R"(", "camera_files": [{"name": ")" + camera_file_ + R"(", "width": )" +
               std::to_string(width_) + R"(, "height": )" + std::to_string(height_) + R"(, "bits_per_pixel": )" +
               std::to_string(bits_) + R"(}], "frame_source": {"rate": )" + std::to_string(rate_) +
               R"(, "trigger": ")" + trigger_ + R"(", "pattern": ")" + pattern_ + R"(")" +
               (bus_bandwidth_ > 0 ? R"(, "bus_bandwidth": )" + std::to_string(bus_bandwidth_) : std::string()) + "}" +
               extra_ + "}";
    }

private:
    template <class T, class V>
    SimBoard& set(T& field, V&& value)
    {
        field = std::forward<V>(value);
        return *this;
    }

    uint32_t width_;
    uint32_t height_;
    std::string camera_file_;
    std::string kind_ = "CXP";
    uint32_t bits_ = 8;
    double rate_ = 0;
    std::string trigger_ = "free";
    std::string pattern_ = "moving";
    double bus_bandwidth_ = 0;
    std::string extra_;
};

// The configuration of `boards`, numbered in the order given.
inline std::string sim_config(const std::vector<SimBoard>& boards)
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
    return sim_config(std::vector<SimBoard>(count, board));
}

}  // namespace vntest
