// TParticleObject: the base of the particle library's objects, something with
// a position and a facing in the effect element's frame (logical pixels, y
// pointing down; angles in radians).
//
// Also the library's access to the program's shared random generator: the
// particle systems draw from the same 32-bit seed as the script function
// Random and the level procedures, so one seed replays a whole game.
#pragma once

#include <cstdint>

namespace nb {

// Draws on the program's shared generator. The seed is owned by the caller
// (the scene context) and must outlive every object that draws from it.
// Every draw first steps the seed: seed := seed * 134775813 + 1 (mod 2^32).
class TParticleRandom {
public:
    explicit TParticleRandom(uint32_t& seed) : seed_(&seed) {}

    // A real in [0, 1): the stepped seed read as a fraction of 2^32.
    double Real() {
        step();
        return double(*seed_) * (1.0 / 4294967296.0);
    }
    // An integer in 0 .. n-1 (0 for n = 0): the high 32 bits of seed * n.
    uint32_t Int(uint32_t n) {
        step();
        return uint32_t((uint64_t(*seed_) * uint64_t(n)) >> 32);
    }
    // lo + r * (hi - lo) with lo the smaller and hi the larger limit and r
    // from Real(), rounded to single precision; so limits may come in either
    // order.
    float Uniform(float a, float b) {
        const double lo = a < b ? a : b, hi = a < b ? b : a;
        return float(lo + Real() * (hi - lo));
    }
    uint32_t Seed() const { return *seed_; }

private:
    void step() { *seed_ = *seed_ * 134775813u + 1u; }
    uint32_t* seed_;
};

class TParticleObject {
public:
    TParticleObject() = default;
    virtual ~TParticleObject() = default;
    TParticleObject(const TParticleObject&) = delete;
    TParticleObject& operator=(const TParticleObject&) = delete;

    // Slot 0: moves the simulation on by dt seconds.
    virtual void Advance(float dt) = 0;
    // Slot 1: direction := the direction from the position toward (x, y),
    // measured as atan2(dx, dy) (0 points down, toward +y); answers it.
    virtual float FaceToward(float x, float y);

    float PosX() const { return x_; }
    float PosY() const { return y_; }
    float Direction() const { return direction_; }

protected:
    float x_ = 0, y_ = 0;
    float direction_ = 0;
};

}  // namespace nb
