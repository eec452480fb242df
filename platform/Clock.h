// Time source of the frame timer: a high-resolution counter and a sleep.
// ManualClock lets tests drive time by hand.
#pragma once

#include <cstdint>

namespace nb {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary origin, with sub-millisecond precision.
    virtual double nowMs() = 0;
    // Blocks for about `ms` milliseconds.
    virtual void sleepMs(uint32_t ms) = 0;
};

class SystemClock final : public Clock {
public:
    double nowMs() override;
    void sleepMs(uint32_t ms) override;
};

// Time moves only when told to; sleeping advances it by the slept amount.
class ManualClock final : public Clock {
public:
    double nowMs() override { return now_; }
    void sleepMs(uint32_t ms) override {
        now_ += ms;
        slept_ += ms;
    }
    void advance(double ms) { now_ += ms; }
    double totalSlept() const { return slept_; }

private:
    double now_ = 0;
    double slept_ = 0;
};

}  // namespace nb
