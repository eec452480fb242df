#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "render/RenderTimers.h"

namespace nb {
namespace {

// A timer wired as the shell wires it: OnTimer runs Process, OnProcess counts.
struct Rig {
    ManualClock clock;
    TRenderTimer timer{&clock};
    int ticks = 0;
    int frames = 0;
    bool processInTimer = true;

    Rig() {
        timer.OnTimer = [this] {
            ++frames;
            if (processInTimer) timer.Process();
        };
        timer.OnProcess = [this] { ++ticks; };
        timer.Enabled = true;
        timer.Reset();
        timer.Process();  // as after the first frame: Process has run
    }
    // One idle pass after `ms` of work; answers the ticks it ran.
    int pass(double ms) {
        const int before = ticks;
        clock.advance(ms);
        timer.Idle();
        return ticks - before;
    }
};

TEST(RenderTimer, TicksFollowElapsedTimeAndKeepTheFraction) {
    Rig r;
    EXPECT_EQ(r.pass(100), 3);  // 100 ms at 30 ticks per second
    EXPECT_EQ(r.clock.totalSlept(), 0);

    // 50 ms is a tick and a half: the half is kept for the next pass.
    EXPECT_EQ(r.pass(50), 1);
    EXPECT_EQ(r.timer.Accumulator(), TRenderTimer::kOne / 2);
    EXPECT_EQ(r.pass(50), 2);
    EXPECT_EQ(r.timer.Accumulator(), 0);

    // A frame of exactly one tick period gives exactly one tick, many times
    // over, without drift.
    int total = 0;
    for (int i = 0; i < 300; ++i) total += r.pass(1000.0 / 30.0);
    EXPECT_EQ(total, 300);
    EXPECT_EQ(r.frames, 303);
}

TEST(RenderTimer, LongStallIsCappedAt32Ticks) {
    Rig r;
    EXPECT_EQ(r.pass(5000), 32);
    EXPECT_EQ(r.timer.Accumulator(), 0);  // the cap leaves no fraction behind
    EXPECT_EQ(r.pass(1e9), 32);           // absurd stalls do not overflow
    EXPECT_EQ(r.pass(-500), 0);           // a clock that steps back adds nothing
}

TEST(RenderTimer, SleepsTheRestOfTheFramePeriodInWholeMilliseconds) {
    Rig r;
    r.pass(10);
    // 33.33 ms frame at 30 FPS, 10 ms used: 23 whole milliseconds left.
    EXPECT_EQ(r.clock.totalSlept(), 23);

    // The time slept belongs to the next pass: 23 ms slept + 77 ms = 100 ms.
    EXPECT_EQ(r.pass(77), 3);

    // MaxFPS 0 counts as 1 frame per second.
    Rig slow;
    slow.timer.MaxFPS = 0;
    slow.pass(10);
    EXPECT_EQ(slow.clock.totalSlept(), 990);
    EXPECT_EQ(slow.timer.FramePeriod(), 1000 * TRenderTimer::kOne);

    // Ticks far faster than frames: the sleep still covers only what is left
    // of the frame, however many ticks the elapsed time holds.
    Rig fine;
    fine.timer.MaxFPS = 1;
    fine.timer.Speed = 1000;
    EXPECT_EQ(fine.pass(500), 32);
    EXPECT_EQ(fine.clock.totalSlept(), 500);
}

TEST(RenderTimer, DisabledTimerSleepsFiveMillisecondsAndDoesNothing) {
    Rig r;
    r.timer.Enabled = false;
    const int frames = r.frames;
    r.clock.advance(1000);
    r.timer.Idle();
    EXPECT_EQ(r.clock.totalSlept(), 5);
    EXPECT_EQ(r.frames, frames);
    EXPECT_EQ(r.ticks, 0);
    // Re-enabled, the disabled time is not made up afterwards.
    r.timer.Enabled = true;
    EXPECT_EQ(r.pass(100), 3);
}

TEST(RenderTimer, ResetRestartsTheMeasurement) {
    Rig r;
    r.clock.advance(2000);  // a long blocking step (loading)
    r.timer.Reset();
    EXPECT_EQ(r.pass(100), 3);  // not 32
}

TEST(RenderTimer, NothingAccumulatesWhileProcessDoesNotRun) {
    Rig r;
    r.processInTimer = false;
    r.pass(100);  // Process ran before this pass: counted
    EXPECT_EQ(r.timer.Accumulator(), 3 * TRenderTimer::kOne);
    r.pass(100);  // Process did not run since: not counted
    EXPECT_EQ(r.timer.Accumulator(), 3 * TRenderTimer::kOne);
    r.timer.Process();
    EXPECT_EQ(r.ticks, 3);
}

TEST(RenderTimer, SpeedBelowOneCountsAsOne) {
    Rig r;
    r.timer.Speed = 0.25;
    EXPECT_EQ(r.timer.TickPeriod(), 1000 * TRenderTimer::kOne);
    EXPECT_EQ(r.pass(1000), 1);
    r.timer.Speed = 60;
    EXPECT_EQ(r.pass(100), 6);
}

TEST(RenderTimer, FastModeRunsOneTickPerPassWithoutSleeping) {
    Rig r;
    r.timer.Fast = true;
    EXPECT_EQ(r.pass(0), 1);
    EXPECT_EQ(r.pass(5000), 1);
    EXPECT_EQ(r.pass(0.001), 1);
    // Even when the previous pass did not process, the next pass has one.
    r.processInTimer = false;
    r.pass(0);
    r.processInTimer = true;
    EXPECT_EQ(r.pass(0), 1);
    EXPECT_EQ(r.clock.totalSlept(), 0);
    r.timer.Enabled = false;
    r.pass(0);
    EXPECT_EQ(r.clock.totalSlept(), 0);
}

}  // namespace
}  // namespace nb
