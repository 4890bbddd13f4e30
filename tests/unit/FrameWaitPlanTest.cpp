// How the acquisition thread waits: blocking for frames far apart, bursts with pauses for frames close together
// (as long as the board's buffers hold a pause's worth), and no pause at all once the frames stop.
#include "acquisition/FrameWaitPlan.h"

#include <gtest/gtest.h>

#include <cstdint>

using vngtl::FrameWaitPlan;
using Step = FrameWaitPlan::Step;

namespace {

// Feeds `count` frames `interval_us` apart (by the board's time stamps) from counter `first`, each followed by
// the poll that drains it finding nothing more.
void frames(FrameWaitPlan& plan, uint32_t first, uint32_t count, uint32_t interval_us, uint32_t start_us = 1000)
{
    for (uint32_t i = 0; i < count; ++i) {
        plan.frame(first + i, start_us + i * interval_us);
        EXPECT_EQ(plan.next(), Step::Poll) << "a frame is followed by a poll for the next";
        plan.nothing();
    }
}

}  // namespace

TEST(FrameWaitPlanTest, FramesFarApartAreEachWaitedForOnTheBoard)
{
    FrameWaitPlan plan(10);
    EXPECT_EQ(plan.next(), Step::Block) << "before any frame";
    frames(plan, 1, 20, 1000);  // 1,000 frames/s
    EXPECT_EQ(plan.interval_ns(), 1'000'000u);
    EXPECT_FALSE(plan.close_together());
    EXPECT_EQ(plan.next(), Step::Block);
}

TEST(FrameWaitPlanTest, FramesCloseTogetherAreTakenInBurstsWithBoundedPauses)
{
    FrameWaitPlan deep(64);
    frames(deep, 1, 20, 5);  // 200,000 frames/s
    EXPECT_EQ(deep.interval_ns(), 5'000u);
    ASSERT_EQ(deep.next(), Step::Pause);
    EXPECT_EQ(deep.pause_ns(), FrameWaitPlan::max_pause_ns) << "half the ring is 160 us: the longest pause bounds it";

    FrameWaitPlan shallow(10);
    frames(shallow, 1, 20, 5);
    ASSERT_EQ(shallow.next(), Step::Pause);
    EXPECT_EQ(shallow.pause_ns(), 25'000u) << "half of ten buffers at 5 us each";

    // A pause is followed by a poll; frames found by it start the next burst, and its end brings the next pause.
    shallow.paused();
    EXPECT_EQ(shallow.next(), Step::Poll);
    frames(shallow, 21, 5, 5, 1100);
    EXPECT_EQ(shallow.next(), Step::Pause);
}

TEST(FrameWaitPlanTest, TooFewBuffersForAPauseMeanWaitingOnTheBoard)
{
    // Frames 2 us apart on 10 buffers: the board comes round in 20 us, so half of that is too short a pause.
    FrameWaitPlan plan(10);
    frames(plan, 1, 20, 2);
    EXPECT_TRUE(plan.close_together());
    EXPECT_EQ(plan.next(), Step::Block);
}

TEST(FrameWaitPlanTest, APausedPollThatFindsNothingGoesBackToWaitingOnTheBoard)
{
    FrameWaitPlan plan(64);
    frames(plan, 1, 20, 5);
    ASSERT_EQ(plan.next(), Step::Pause);
    plan.paused();
    ASSERT_EQ(plan.next(), Step::Poll);
    plan.nothing();
    EXPECT_EQ(plan.next(), Step::Block) << "the frames stopped: no more pauses, no CPU spent on polls";
    EXPECT_EQ(plan.next(), Step::Block);
}

TEST(FrameWaitPlanTest, TheIntervalIsTheBoardsEvenAcrossLostFramesAndWrappingCounters)
{
    // Every tenth frame taken (the rest lost), 10 us apart on the board's clock: 1 us per frame.
    FrameWaitPlan lossy(64);
    for (uint32_t i = 0; i < 20; ++i) {
        lossy.frame(1 + 10 * i, 500 + 10 * i);
        lossy.nothing();
    }
    EXPECT_EQ(lossy.interval_ns(), 1'000u);

    // The 32-bit counter and microsecond stamp both wrap between two frames.
    FrameWaitPlan wrapping(64);
    wrapping.frame(0xFFFF'FFFEu, 0xFFFF'FFFCu);
    wrapping.frame(0x0000'0002u, 0x0000'0010u);  // 4 frames, 20 us later
    EXPECT_EQ(wrapping.interval_ns(), 5'000u);
}

TEST(FrameWaitPlanTest, AFrameAfterALongGapEndsTheBurstsAtOnce)
{
    FrameWaitPlan plan(64);
    frames(plan, 1, 20, 5);
    ASSERT_EQ(plan.next(), Step::Pause);
    // The next frame a second later: the mean moves far above the burst threshold with one sample.
    plan.frame(21, 1000 + 20 * 5 + 1'000'000);
    plan.nothing();
    EXPECT_FALSE(plan.close_together());
    EXPECT_EQ(plan.next(), Step::Block);
}
