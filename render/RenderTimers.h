// The frame timer: measures the time between idle passes in fixed point with
// 20 fractional bits and runs whole process ticks at `Speed` per second.
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

    // One pass of the application's idle processing.
    void Idle();
    // Runs OnProcess for every whole tick accumulated; keeps the fraction.
    void Process();
    // Restarts the elapsed-time measurement.
    void Reset();

    // Accumulated ticks in 20-bit fixed point (for tests).
    int64_t Accumulator() const { return accumulator_; }

private:
    Clock* clock_;
    double last_ = 0;
    bool processed_ = false;
    int64_t accumulator_ = 0;
};

}  // namespace nb
