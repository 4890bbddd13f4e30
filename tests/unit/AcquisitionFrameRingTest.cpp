// The frame ring on its own: positions follow the board's frame counter, and at most capacity - 1 frames
// are pending.
#include "acquisition/FrameRing.h"

#include <gtest/gtest.h>

#include <vector>

using vngtl::FrameRing;

namespace {

std::vector<uint64_t> take_all(FrameRing& ring, uint64_t offset = 0)
{
    std::vector<uint64_t> positions;
    while (auto position = ring.take(offset)) {
        positions.push_back(*position);
    }
    return positions;
}

}  // namespace

TEST(AcquisitionFrameRingTest, FramesAreTakenOldestFirstAtTheirBoardPositions)
{
    FrameRing ring;
    EXPECT_EQ(ring.pending(), 0u);
    EXPECT_FALSE(ring.take(0));  // no capacity yet

    ring.resize(4);
    ring.advance(1);
    ring.advance(1);
    EXPECT_EQ(ring.pending(), 2u);
    EXPECT_EQ(ring.total_written(), 2u);
    EXPECT_EQ(take_all(ring), (std::vector<uint64_t>{0, 1}));
    EXPECT_EQ(ring.total_taken(), 2u);

    // Across the end of the ring.
    ring.advance(3);  // frames 3 to 5 at positions 2, 3, 0
    EXPECT_EQ(take_all(ring), (std::vector<uint64_t>{2, 3, 0}));
}

TEST(AcquisitionFrameRingTest, AnOffsetWaitsForMoreFramesAndConsumesTheOldest)
{
    FrameRing ring;
    ring.resize(10);
    ring.advance(2);
    EXPECT_FALSE(ring.take(2));
    ring.advance(1);
    EXPECT_EQ(ring.take(2), 2u);  // the third frame; the first is consumed
    EXPECT_EQ(ring.pending(), 2u);
    ring.advance(1);
    EXPECT_EQ(ring.take(2), 3u);
}

TEST(AcquisitionFrameRingTest, WhenTheBoardComesRoundTheOldestFramesAreDropped)
{
    FrameRing ring;
    ring.resize(4);
    for (int frame = 1; frame <= 6; ++frame) {
        ring.advance(1);
    }
    EXPECT_EQ(ring.pending(), 3u);
    EXPECT_EQ(take_all(ring), (std::vector<uint64_t>{3, 0, 1}));  // frames 4, 5 and 6

    // Frames lost on the way count as written, and a jump past the whole ring keeps the newest three.
    ring.reset();
    ring.advance(2);
    ring.advance(9);  // frames 3 to 11, the last at position 2
    EXPECT_EQ(ring.total_written(), 11u);
    EXPECT_EQ(take_all(ring), (std::vector<uint64_t>{0, 1, 2}));  // frames 9, 10 and 11
}

TEST(AcquisitionFrameRingTest, SkipAllAndResizeDropThePendingFrames)
{
    FrameRing ring;
    ring.resize(8);
    ring.advance(3);
    ring.skip_all();
    EXPECT_EQ(ring.pending(), 0u);
    EXPECT_EQ(ring.total_taken(), 3u);
    ring.advance(1);
    EXPECT_EQ(ring.take(0), 3u);

    ring.advance(2);
    ring.resize(1);  // a ring of one position never has a frame pending
    ring.advance(5);
    EXPECT_EQ(ring.pending(), 0u);
    EXPECT_FALSE(ring.take(0));
    EXPECT_EQ(ring.capacity(), 1u);
}
