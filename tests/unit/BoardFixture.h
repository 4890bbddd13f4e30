// Fixture for the board wrapper's tests: the default simulator, the library initialised (so that the board's
// records land in the calling thread's last error), and helpers to read a record back.
#pragma once

#include "GenTLFixture.h"

#include "board/FrameSink.h"
#include "board/VNBoards.h"
#include "BoardTestAccess.h"

#include <cstring>
#include <string>
#include <vector>

class BoardTest : public GenTLTest {
protected:
    void SetUp() override
    {
        GenTLTest::SetUp();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    }

    // The calling thread's last record must be `code_name` reported by `function` in VNBoards.cpp with
    // exactly `message`.
    static void expect_record(const std::string& code_name, const std::string& function, const std::string& message)
    {
        const std::string record = last_error();
        EXPECT_EQ(record.substr(0, code_name.size() + 16), code_name + " @ VNBoards.cpp[") << record;
        const std::string tail = "], " + function + ": " + message + "\n";
        ASSERT_GE(record.size(), tail.size()) << record;
        EXPECT_EQ(record.substr(record.size() - tail.size()), tail) << record;
    }

    static void expect_no_record() { EXPECT_EQ(last_error(), "No Error"); }
};

// A destination that keeps a copy of every frame it is given, with what it was told about the frame.
class RecordingSink : public VNBoards::FrameSink {
public:
    struct Frame {
        VNBoards::BoardKind kind;
        std::vector<unsigned char> data;
        uint32_t bit_depth;
        uint32_t width;
        uint32_t height;
        uint32_t x_offset;
        uint32_t y_offset;
        uint64_t frame_id;
        uint64_t timestamp;
        uint64_t timestamp_ns;
    };

    explicit RecordingSink(bool accept = true) : accept_(accept) {}

    bool fill(VNBoards::BoardKind kind, const void* data, size_t frame_size, uint32_t bit_depth, uint32_t width,
              uint32_t height, uint32_t x_offset, uint32_t y_offset, uint64_t frame_id, uint64_t timestamp,
              uint64_t timestamp_ns) override
    {
        Frame frame{kind, std::vector<unsigned char>(frame_size), bit_depth, width, height, x_offset, y_offset,
                    frame_id, timestamp, timestamp_ns};
        std::memcpy(frame.data.data(), data, frame_size);
        frames.push_back(std::move(frame));
        return accept_;
    }

    std::vector<Frame> frames;

private:
    bool accept_;
};
