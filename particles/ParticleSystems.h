// Particle systems: one emitter with a fixed-capacity pool of particles whose
// whole behaviour comes from a 136-byte parameter record (an effect file),
// and the manager that holds the shared particle texture.
//
// Simulation coordinates are the owning effect element's frame (logical
// pixels, y down); time is in seconds, angles in radians. Every random draw
// comes from the program's shared generator (TParticleRandom), so a run is
// reproducible from its seed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "particles/ParticleObjects.h"

namespace nb {

class TRenderCanvas;
class TRenderImage;

// The parameter record, field for field as an effect file stores it
// (little-endian, 136 bytes). Pairs of limits (life, speed, weight, radial,
// tangential) may be given in either order: values are drawn between the
// smaller and the larger.
struct TParticleParams {
    static constexpr size_t kSize = 136;

    int32_t firstFrame = 0;        //   0: pattern index at birth
    int32_t lastFrame = 0;         //   4: < 0 or == firstFrame: no frame animation
    uint32_t unused8 = 0;          //   8
    uint32_t drawFx = 0;           //  12: draw-effect word of the particles
    int32_t emissionRate = 0;      //  16: particles per second
    float emissionTime = 0;        //  20: seconds; <= 0: never emits
    float life1 = 0, life2 = 0;    //  24, 28
    float direction = 0;           //  32: 0 points down (+y)
    float spread = 0;              //  36
    uint8_t followMotion = 0;      //  40: adds the emitter's backward direction
    float speed1 = 0, speed2 = 0;  //  44, 48
    float weight1 = 0, weight2 = 0;              //  52, 56: downward acceleration factor
    float radial1 = 0, radial2 = 0;              //  60, 64
    float tangential1 = 0, tangential2 = 0;      //  68, 72
    float sizeBirth = 0, sizeMid = 0, sizeDeath = 0;  //  76, 80, 84
    float sizeVariation = 0;                          //  88
    float rotationBirth = 0, rotationMid = 0, rotationDeath = 0;  //  92, 96, 100
    float rotationVariation = 0;                                  // 104
    uint32_t colorBirth = 0, colorMid = 0, colorDeath = 0;        // 108, 112, 116: 0xAARRGGBB
    float colorVariation = 0;      // 120: red, green and blue
    float alphaVariation = 0;      // 124
    float midLife = 0;             // 128: fraction of each particle's life
    uint8_t reverseOrder = 0;      // 132: non-zero draws the newest particle first

    // Decodes the first 136 bytes; a shorter buffer fills only the fields
    // it covers and the rest of the record reads as zero.
    static TParticleParams FromBytes(const uint8_t* data, size_t size);
    // The 136 bytes of the record (unused bytes zero except offset 8).
    std::array<uint8_t, kSize> ToBytes() const;
};

// One particle. Colour channels run 0 ... 255 in the order blue, green, red,
// alpha. The spawn offset is the emitter position minus the particle position
// at birth; radial and tangential forces act around emitter + spawn offset.
struct TParticle {
    float frame = 0, frameRate = 0;
    float x = 0, y = 0;
    float spawnX = 0, spawnY = 0;
    float vx = 0, vy = 0;
    float weight = 0;
    float radial = 0;
    float tangential = 0;
    float rotation = 0, rotationRate = 0;
    float size = 0, sizeRate = 0;
    float color[4] = {};      // b, g, r, a
    float colorRate[4] = {};  // per second
    float age = 0, midTime = 0, life = 0;
};

struct TSpawnPoint {
    int32_t x = 0, y = 0;
};

// One emitter and its pool.
//
// Invariants: the pool is allocated once at its capacity and never grows;
// the live particles are exactly the first LiveCount() records, oldest
// first. The emission clock is >= 0 exactly while emitting. A system
// without spawn points neither starts nor spawns.
class TParticleSystem : public TParticleObject {
public:
    // The pool size effect elements use.
    static constexpr int32_t kEffectCapacity = 5000;

    // Idle: parameters zero, one spawn point (0, 0), not emitting. A
    // negative capacity counts as 0.
    TParticleSystem(int32_t capacity, TParticleRandom random);
    ~TParticleSystem() override;

    // ---- texture (not owned; the picture registry owns it)
    TRenderImage* Texture() const { return texture_; }
    void SetTexture(TRenderImage* t) { texture_ = t; }

    // ---- parameters
    const TParticleParams& Params() const { return params_; }
    void SetParams(const TParticleParams& p) { params_ = p; }
    // Reads the record from the start of the bytes (at most 136 are used);
    // true when at least one byte was there. A short record fills what it
    // covers, the rest becomes zero.
    bool LoadFromStream(const uint8_t* data, size_t size);
    bool LoadFromStream(const std::vector<uint8_t>& bytes) { return LoadFromStream(bytes.data(), bytes.size()); }
    // False, parameters untouched, when the file (native path, resolved
    // without regard to case) does not exist or cannot be read.
    bool LoadFromFile(const std::string& path);

    // ---- spawn points
    // Answers the new point's index.
    int AddSpawnPoint(TSpawnPoint p);
    // Adds points[0 ... lastIndex] (nothing when lastIndex < 0; never more
    // than the list holds).
    void AddSpawnPoints(const std::vector<TSpawnPoint>& points, int lastIndex);
    void ClearSpawnPoints() { spawnPoints_.clear(); }
    int SpawnPointCount() const { return int(spawnPoints_.size()); }

    // ---- emission
    // With at least one spawn point: the clock starts at 0 when the emission
    // time is positive, else the system stays off (-1).
    void StartEmission();
    // Stops emitting; `clear` also drops every live particle at once.
    void StopEmission(bool clear);
    bool Emitting() const { return clock_ >= 0; }
    float EmissionClock() const { return clock_; }
    float SpawnRemainder() const { return remainder_; }

    // ---- moving the emitter
    // Rigid: the whole cloud moves with the emitter. Otherwise the next
    // update spreads its new particles along the path from the position
    // before the move (only while emitting).
    void Shift(float dx, float dy, bool rigid);
    void PlaceAt(TSpawnPoint p, bool rigid) { Shift(float(double(p.x) - x_), float(double(p.y) - y_), rigid); }
    // Stops emitting (particles live on), moves without a trail, starts again.
    void RestartAt(TSpawnPoint p);
    float PrevX() const { return prevX_; }
    float PrevY() const { return prevY_; }
    float DirectionOffset() const { return directionOffset_; }
    void SetDirectionOffset(float v) { directionOffset_ = v; }

    // ---- simulation and drawing
    // Integrates the live particles over dt seconds, retires the dead ones
    // (moving later records down in the same pass) and emits new ones. A
    // time step that is not a finite number is ignored.
    void Advance(float dt) override;
    // Draws every live particle as a rotated, scaled, tinted sprite of the
    // texture (pattern = frame) with the parameters' draw-effect word. The
    // colour mask is ANDed with each particle's colour. Particles wholly off
    // the display (width x height) are not submitted.
    void DrawParticles(TRenderCanvas& canvas, double ox, double oy, uint32_t colorMask, int displayWidth = 1024,
                       int displayHeight = 768);

    int32_t Capacity() const { return int32_t(pool_.size()); }
    int32_t LiveCount() const { return live_; }
    // The i-th live particle (0 = oldest); i must be below LiveCount().
    const TParticle& Particle(int32_t i) const { return pool_[size_t(i)]; }

private:
    void spawn();
    // Starts the second half of a particle's life: rates toward the death
    // values over what is left of its life.
    void startSecondHalf(TParticle& p) const;

    TParticleRandom random_;
    TRenderImage* texture_ = nullptr;
    std::vector<TParticle> pool_;
    TParticleParams params_;
    std::vector<TSpawnPoint> spawnPoints_;
    float clock_ = -1;
    float remainder_ = 0;
    float prevX_ = 0, prevY_ = 0;
    float directionOffset_ = 0;
    int32_t live_ = 0;
};

// The root's particle manager: the canvas particles are drawn on and the
// shared particle texture ("particles.bmp"), which effects hand to the
// systems they own. It can also own up to 100 systems itself; clearing and
// destruction free them.
class TParticleManager {
public:
    static constexpr int kMaxSystems = 100;

    explicit TParticleManager(TRenderCanvas* canvas) : canvas_(canvas) {}
    ~TParticleManager() { Clear(); }
    TParticleManager(const TParticleManager&) = delete;
    TParticleManager& operator=(const TParticleManager&) = delete;

    TRenderCanvas* Canvas() const { return canvas_; }
    TRenderImage* Texture() const { return texture_; }
    void SetTexture(TRenderImage* t) { texture_ = t; }

    // Takes the system; answers it, or nullptr (the system freed) when the
    // manager already holds 100.
    TParticleSystem* Add(std::unique_ptr<TParticleSystem> system);
    int Count() const { return int(systems_.size()); }
    TParticleSystem* System(int i) const {
        return i >= 0 && i < Count() ? systems_[size_t(i)].get() : nullptr;
    }
    void Clear() { systems_.clear(); }

private:
    TRenderCanvas* canvas_;
    TRenderImage* texture_ = nullptr;
    std::vector<std::unique_ptr<TParticleSystem>> systems_;
};

}  // namespace nb
