#include "render/RenderTimers.h"

#include <algorithm>
#include <cmath>

#include "platform/Clock.h"

namespace nb {

TRenderTimer::TRenderTimer(Clock* clock) : clock_(clock) {}

int64_t TRenderTimer::FramePeriod() const { return (1000 * kOne) / std::max(MaxFPS, 1); }

int64_t TRenderTimer::TickPeriod() const {
    const double speed = std::isnan(Speed) || Speed < 1.0 ? 1.0 : Speed;
    return std::max<int64_t>(int64_t(1000.0 / speed * double(kOne)), 1);
}

void TRenderTimer::Reset() {
    last_ = clock_ ? clock_->nowMs() : 0;
    started_ = true;
}

void TRenderTimer::Idle() {
    const double now = clock_ ? clock_->nowMs() : 0;
    if (!started_) {
        last_ = now;
        started_ = true;
    }
    const double elapsedMs = std::max(now - last_, 0.0);
    last_ = now;

    if (!Enabled) {
        if (!Fast && clock_) clock_->sleepMs(5);
        return;
    }

    if (Fast) {
        // Test runs: every pass carries exactly one tick, whatever the clock
        // says and whether or not Process ran in the previous pass.
        accumulator_ = kOne;
        processed_ = false;
        if (OnTimer) OnTimer();
        return;
    }

    int64_t delta;
    {
        // Elapsed time in fixed point; clamped first so that a long stall
        // cannot overflow the arithmetic (it is capped at 32 ticks anyway).
        const int64_t tick = TickPeriod();
        const double limit = double(kMaxDelta / kOne + 1) * double(tick);
        const int64_t elapsed = int64_t(std::min(elapsedMs * double(kOne), limit));
        // The frame period is compared with the time really spent: when it
        // exceeds the clamp (a tick rate far above the frame rate) the clamped
        // value would sleep too long.
        const int64_t frame = FramePeriod();
        if (elapsedMs * double(kOne) < double(frame) && clock_)
            clock_->sleepMs(uint32_t((frame - int64_t(elapsedMs * double(kOne))) / kOne));
        delta = std::min<int64_t>(elapsed * kOne / tick, kMaxDelta);
    }
    if (processed_) {
        accumulator_ += delta;
        processed_ = false;
    }
    if (OnTimer) OnTimer();
}

void TRenderTimer::Process() {
    processed_ = true;
    if (accumulator_ < kOne) return;
    const int64_t ticks = accumulator_ / kOne;
    accumulator_ %= kOne;  // keep the fraction before the handlers run
    for (int64_t i = 0; i < ticks; ++i)
        if (OnProcess) OnProcess();
}

}  // namespace nb
