// The frame ring on its own: positions follow the board's frame counter, each carries the number of the frame
// recorded there, and at most capacity - 1 frames are pending.
#include "acquisition/FrameRing.h"

#include <gtest/gtest.h>

#include <vector>

using vngtl::FrameRing;
using Slots = std::vector<FrameRing::Slot>;

namespace {

Slots take_all(FrameRing& ring, uint64_t margin = 0)
{
    Slots slots;
    while (auto slot = ring.take(0, margin)) {
        slots.push_back(*slot);
    }
    return slots;
}

}  // namespace

// Frames are taken oldest first, at their board positions, each with its number: the board's counter when it
// is given (it need not start where the ring's count does), counted back from the newest over frames lost on
// the way. Overwriting the oldest frames (a lap later a position has the later frame's number) and a copy
// offset are seen through the engine in AcquisitionTest.
TEST(AcquisitionFrameRingTest, FramesAreTakenOldestFirstWithTheirPositionAndNumber)
{
    FrameRing ring;
    EXPECT_EQ(ring.pending(), 0u);
    EXPECT_FALSE(ring.take(0));  // no capacity yet

    ring.resize(4);
    ring.advance(1);
    ring.advance(1);
    EXPECT_EQ(ring.pending(), 2u);
    EXPECT_EQ(ring.total_written(), 2u);
    EXPECT_EQ(take_all(ring), (Slots{{0, 1}, {1, 2}}));
    EXPECT_EQ(ring.total_taken(), 2u);

    ring.advance(2, 104);  // frames 103 and 104, at positions 2 and 3
    EXPECT_EQ(take_all(ring), (Slots{{2, 103}, {3, 104}}));
    // A jump past the whole ring: the newest three frames stay, each with its own number, across the ring's end.
    ring.advance(9, 113);
    EXPECT_EQ(ring.total_written(), 13u);  // the frames lost on the way count as written
    EXPECT_EQ(take_all(ring), (Slots{{2, 111}, {3, 112}, {0, 113}}));

    // A ring of one position never has a frame pending, although frames were pending before. Frames an abort
    // skips are never delivered: FaultCampaignTest.FramesAnAbortDiscardedAreNeverDeliveredFromAnEarlierLap.
    ring.advance(2);
    ring.resize(1);
    ring.advance(5);
    EXPECT_EQ(ring.pending(), 0u);
    EXPECT_FALSE(ring.take(0));
    EXPECT_EQ(ring.capacity(), 1u);
}

TEST(AcquisitionFrameRingTest, AMarginGivesUpTheFramesTheBoardIsAboutToReach)
{
    FrameRing ring;
    ring.resize(10);
    // Few frames pending: a margin gives up nothing while the frame taken is far enough from the board.
    ring.advance(4, 4);
    EXPECT_EQ(ring.take(0, 5), (FrameRing::Slot{0, 1}));
    EXPECT_EQ(ring.total_skipped(), 0u);
    take_all(ring);

    // A full ring (frames 6 to 14, the board writing frame 15 into the buffer of frame 5): without a margin
    // the oldest is taken, although the board writes into it next.
    ring.advance(10, 14);
    ASSERT_EQ(ring.pending(), 9u);
    EXPECT_EQ(ring.take(0, 0), (FrameRing::Slot{5, 6}));
    EXPECT_EQ(ring.total_skipped(), 0u);
    // With 8 pending and a margin of 3 the board has 1 whole frame to write before it reaches frame 7:
    // frames 7 and 8 are given up, and frame 9 is taken with 3 frames to spare.
    EXPECT_EQ(ring.take(0, 3), (FrameRing::Slot{8, 9}));
    EXPECT_EQ(ring.total_skipped(), 2u);
    EXPECT_EQ(ring.pending(), 5u);
    // The rest come out in order, none twice.
    EXPECT_EQ(take_all(ring, 3), (Slots{{9, 10}, {0, 11}, {1, 12}, {2, 13}, {3, 14}}));

    // A margin beyond the ring never gives up the newest frame; with an offset, the frame answered is the
    // one that keeps the margin.
    ring.advance(9, 23);
    EXPECT_EQ(ring.take(0, 100), (FrameRing::Slot{2, 23}));
    EXPECT_EQ(ring.total_skipped(), 10u);
    EXPECT_FALSE(ring.take(0, 100));
    ring.advance(9, 32);  // frames 24 to 32 pending
    EXPECT_EQ(ring.take(2, 4), (FrameRing::Slot{7, 28}));  // 24 and 25 skipped, 26 consumed, 28 answered
    EXPECT_EQ(ring.total_skipped(), 12u);
    EXPECT_EQ(ring.pending(), 6u);  // 27 to 32
}
