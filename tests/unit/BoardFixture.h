// Fixture for the board wrapper's tests: the default simulator, the library initialised (so that the board's
// records land in the calling thread's last error), and helpers to read a record back.
#pragma once

#include "FrameTestObjects.h"

#include "board/VNBoards.h"
#include "BoardTestAccess.h"

#include <optional>
#include <string>
#include <vector>

class BoardTest : public InitialisedTest {
protected:
    // The calling thread's last record must be `code_name` reported by `function` in VNBoards.cpp with
    // exactly `message`.
    static void expect_record(const std::string& code_name, const std::string& function, const std::string& message)
    {
        EXPECT_TRUE(is_record(last_error(), code_name, "VNBoards.cpp", function, message));
    }

    static void expect_no_record() { EXPECT_EQ(last_error(), "No Error"); }
};

// Takes frames from a board as the engine does (a view, then a copy from it) and keeps a copy of each with
// what the view said about it.
class RecordingSink {
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
    };

    // The frame of circular buffer `index` (only frame number `frame` when that is given); false when the
    // board hands out no view of it.
    bool take(VNBoards::Board& board, size_t index, uint64_t frame_number = 0)
    {
        const std::optional<VNBoards::FrameView> view = board.frame_view(index, frame_number);
        if (!view) {
            return false;
        }
        const auto* bytes = static_cast<const unsigned char*>(view->data);
        frames.push_back({view->kind, {bytes, bytes + view->size}, view->bit_depth, view->roi.width, view->roi.height,
                          view->roi.x_offset, view->roi.y_offset, view->frame_id});
        return true;
    }

    std::vector<Frame> frames;
};
