// The frame timer: measures the time between idle passes in fixed point with
// 20 fractional bits (0x100000 = one millisecond, or one tick) and runs whole
// process ticks at `Speed` per second, at most 32 ticks' worth per pass.
#pragma once

#include <cstdint>
#include <functional>

namespace nb {

class Clock;

class TRenderTimer {
public:
    explicit TRenderTimer(Clock* clock);

    double Speed = 30.0;
    int MaxFPS = 30;
    bool Enabled = false;
    // Fast mode (the --fast switch): no sleeping and exactly one process
    // tick per idle pass, whatever the clock says.
    bool Fast = false;

    std::function<void()> OnTimer;    // once per idle pass (frame)
    std::function<void()> OnProcess;  // once per whole process tick

    static constexpr int64_t kOne = int64_t(1) << 20;     // 1 ms or 1 tick
    static constexpr int64_t kMaxDelta = 32 * kOne;        // ticks per pass, at most

    // One pass of the application's idle processing: measures the time since
    // the previous pass; disabled, sleeps 5 ms; otherwise sleeps what is left
    // of the frame period, adds the elapsed ticks (when Process ran since the
    // previous pass) and calls OnTimer.
    void Idle();
    // Runs OnProcess for every whole tick accumulated; keeps the fraction.
    void Process();
    // Restarts the elapsed-time measurement.
    void Reset();

    // Milliseconds of the frame period and of one tick, in fixed point, after
    // the limits (Speed below 1 counts as 1, MaxFPS below 1 as 1).
    int64_t FramePeriod() const;
    int64_t TickPeriod() const;

    // Accumulated ticks in 20-bit fixed point (for tests).
    int64_t Accumulator() const { return accumulator_; }

private:
    Clock* clock_;
    double last_ = 0;
    bool started_ = false;
    bool processed_ = false;
    int64_t accumulator_ = 0;
};

}  // namespace nb
