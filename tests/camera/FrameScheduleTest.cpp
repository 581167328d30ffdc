#include <gtest/gtest.h>

#include <vector>

#include "camera/CCamera.h"
#include "camera/FrameSchedule.h"

namespace {

const REFERENCE_TIME Frame = CameraFrameInterval;

// Camera frames 1..count, arriving one camera interval apart with the given
// jitter pattern (repeated), offered to the schedule as a pin does: each one
// it finds due is taken, stamped and delivered.
struct Taken {
    LONG sequence;
    REFERENCE_TIME start, stop;
};

std::vector<Taken> Offer(FrameSchedule& schedule, LONG count, const std::vector<REFERENCE_TIME>& jitter = {0})
{
    std::vector<Taken> taken;
    for (LONG sequence = 1; sequence <= count; ++sequence) {
        const REFERENCE_TIME arrival = sequence * Frame + jitter[sequence % jitter.size()];
        if (!schedule.IsDue(arrival)) continue;
        schedule.Take(sequence, arrival);
        Taken one = {sequence, 0, 0};
        schedule.Stamp(arrival, &one.start, &one.stop);
        schedule.CountDelivered();
        taken.push_back(one);
    }
    return taken;
}

TEST(FrameScheduleTest, SlowerRatesTakeEvenlySpacedFramesAndDropNothing)
{
    struct Case {
        REFERENCE_TIME interval;
        LONG every; // camera frames between two taken ones
    };
    // Arrivals wavering by up to 6 ms either way still keep the pattern.
    for (const Case& c : {Case{0, 1}, Case{Frame, 1}, Case{666666, 2}, Case{1000000, 3}, Case{2000000, 6}}) {
        SCOPED_TRACE(c.interval);
        FrameSchedule schedule;
        schedule.Start(c.interval);
        const std::vector<Taken> taken = Offer(schedule, 300, {0, 60000, -60000, 20000});
        ASSERT_EQ(static_cast<size_t>(300 / c.every), taken.size());
        for (size_t i = 1; i < taken.size(); ++i)
            EXPECT_EQ(c.every, taken[i].sequence - taken[i - 1].sequence) << i;
        EXPECT_EQ(static_cast<LONG>(taken.size()), schedule.Delivered());
        EXPECT_EQ(0, schedule.Dropped());
    }
}

TEST(FrameScheduleTest, ARateThatIsNoFractionOfTheCamerasKeepsItsAverage)
{
    FrameSchedule schedule;
    schedule.Start(500000); // 20 frames a second from a camera's 30
    const std::vector<Taken> taken = Offer(schedule, 300);
    EXPECT_NEAR(200.0, double(taken.size()), 2.0);
}

TEST(FrameScheduleTest, StampsFollowArrivalAndNeverOverlap)
{
    FrameSchedule schedule;
    schedule.Start(0);
    // Frames early and late by up to 8 ms.
    const std::vector<Taken> taken = Offer(schedule, 60, {0, -80000, 80000, 30000, -20000});
    ASSERT_EQ(60u, taken.size());
    for (size_t i = 0; i < taken.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_LT(taken[i].start, taken[i].stop);
        EXPECT_LE(taken[i].stop - taken[i].start, Frame);
        if (i == 0) continue;
        EXPECT_GT(taken[i].start, taken[i - 1].start);
        EXPECT_GE(taken[i].start, taken[i - 1].stop);
        // Never later than one frame behind the frame's own arrival.
        EXPECT_LE(taken[i].start - taken[i].sequence * Frame, Frame);
    }
    // Over the whole run the stamps keep the camera's time: no drift.
    EXPECT_NEAR(double(60 * Frame), double(taken.back().start), double(Frame));
}

TEST(FrameScheduleTest, FramesMissedWhileDownstreamWasBusyAreDropped)
{
    struct Case {
        REFERENCE_TIME interval;
        LONG nextTaken; // after frame 6, the frame taken next
        LONG dropped;
    };
    // At 30 frames a second frames 7 to 11 were wanted; at 15, frames 8 and 10.
    for (const Case& c : {Case{0, 12, 5}, Case{666666, 12, 2}}) {
        SCOPED_TRACE(c.interval);
        FrameSchedule schedule;
        schedule.Start(c.interval);
        schedule.Take(6, 6 * Frame);
        ASSERT_TRUE(schedule.IsDue(c.nextTaken * Frame));
        schedule.Take(c.nextTaken, c.nextTaken * Frame);
        EXPECT_EQ(c.dropped, schedule.Dropped());
        // Frames made while the stream was paused are not dropped.
        schedule.Resume();
        schedule.Take(40, 40 * Frame);
        EXPECT_EQ(c.dropped, schedule.Dropped());
        schedule.Start(c.interval);
        EXPECT_EQ(0, schedule.Dropped());
    }
}

} // namespace
