#include "particles/ParticleSystems.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "render/RenderImages.h"

namespace nb {

namespace {

float AsFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

uint32_t FloatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

// Channel i (0 blue, 1 green, 2 red, 3 alpha) of a 0xAARRGGBB word.
float Channel(uint32_t color, int i) { return float((color >> (8 * i)) & 0xFFu); }

// Colour channels stay within 0 ... 255, except that an alpha driven above
// 255 reads 254, as stored effects were tuned against.
float ClampChannel(float v, int i) {
    if (v < 0) return 0;
    if (v > 255) return i == 3 ? 254.0f : 255.0f;
    return v;
}

// Truncation toward zero that never leaves the int range (damaged records
// can drive a frame to infinity or NaN): anything outside reads 0.
int32_t TruncOrZero(double v) {
    if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
    return int32_t(v);
}

}  // namespace

// ------------------------------------------------------------ parameter record

TParticleParams TParticleParams::FromBytes(const uint8_t* data, size_t size) {
    uint8_t raw[kSize] = {};
    if (data && size) std::memcpy(raw, data, std::min(size, kSize));
    ByteReader in(raw, kSize);
    TParticleParams p;
    uint32_t u = 0;
    auto f = [&](float& out) {
        in.u32(u);
        out = AsFloat(u);
    };
    uint8_t pad[3];
    in.i32(p.firstFrame);
    in.i32(p.lastFrame);
    in.u32(p.unused8);
    in.u32(p.drawFx);
    in.i32(p.emissionRate);
    f(p.emissionTime);
    f(p.life1);
    f(p.life2);
    f(p.direction);
    f(p.spread);
    in.u8(p.followMotion);
    in.bytes(pad, 3);
    f(p.speed1);
    f(p.speed2);
    f(p.weight1);
    f(p.weight2);
    f(p.radial1);
    f(p.radial2);
    f(p.tangential1);
    f(p.tangential2);
    f(p.sizeBirth);
    f(p.sizeMid);
    f(p.sizeDeath);
    f(p.sizeVariation);
    f(p.rotationBirth);
    f(p.rotationMid);
    f(p.rotationDeath);
    f(p.rotationVariation);
    in.u32(p.colorBirth);
    in.u32(p.colorMid);
    in.u32(p.colorDeath);
    f(p.colorVariation);
    f(p.alphaVariation);
    f(p.midLife);
    in.u8(p.reverseOrder);
    return p;
}

std::array<uint8_t, TParticleParams::kSize> TParticleParams::ToBytes() const {
    ByteWriter w;
    auto f = [&](float v) { w.u32(FloatBits(v)); };
    const uint8_t pad[3] = {};
    w.i32(firstFrame);
    w.i32(lastFrame);
    w.u32(unused8);
    w.u32(drawFx);
    w.i32(emissionRate);
    f(emissionTime);
    f(life1);
    f(life2);
    f(direction);
    f(spread);
    w.u8(followMotion);
    w.bytes(pad, 3);
    f(speed1);
    f(speed2);
    f(weight1);
    f(weight2);
    f(radial1);
    f(radial2);
    f(tangential1);
    f(tangential2);
    f(sizeBirth);
    f(sizeMid);
    f(sizeDeath);
    f(sizeVariation);
    f(rotationBirth);
    f(rotationMid);
    f(rotationDeath);
    f(rotationVariation);
    w.u32(colorBirth);
    w.u32(colorMid);
    w.u32(colorDeath);
    f(colorVariation);
    f(alphaVariation);
    f(midLife);
    w.u8(reverseOrder);
    w.bytes(pad, 3);
    std::array<uint8_t, kSize> out{};
    std::memcpy(out.data(), w.buffer().data(), std::min(w.size(), kSize));
    return out;
}

// ------------------------------------------------------------ particle system

TParticleSystem::TParticleSystem(int32_t capacity, TParticleRandom random)
    : random_(random), pool_(size_t(std::max<int32_t>(capacity, 0))) {
    spawnPoints_.push_back({0, 0});
}

TParticleSystem::~TParticleSystem() {
    StopEmission(true);
    texture_ = nullptr;
}

bool TParticleSystem::LoadFromStream(const uint8_t* data, size_t size) {
    if (!data || size == 0) return false;
    params_ = TParticleParams::FromBytes(data, size);
    return true;
}

bool TParticleSystem::LoadFromFile(const std::string& path) {
    auto resolved = fs::resolve(path);
    if (!resolved || !fs::fileExists(*resolved)) return false;
    auto bytes = fs::readFile(*resolved);
    if (!bytes) return false;
    return LoadFromStream(*bytes);
}

int TParticleSystem::AddSpawnPoint(TSpawnPoint p) {
    spawnPoints_.push_back(p);
    return int(spawnPoints_.size()) - 1;
}

void TParticleSystem::AddSpawnPoints(const std::vector<TSpawnPoint>& points, int lastIndex) {
    for (int i = 0; i <= lastIndex && size_t(i) < points.size(); ++i) spawnPoints_.push_back(points[size_t(i)]);
}

void TParticleSystem::StartEmission() {
    if (spawnPoints_.empty()) return;
    clock_ = params_.emissionTime > 0 ? 0.0f : -1.0f;
}

void TParticleSystem::StopEmission(bool clear) {
    clock_ = -1;
    if (clear) live_ = 0;
}

void TParticleSystem::Shift(float dx, float dy, bool rigid) {
    if (rigid) {
        for (int32_t i = 0; i < live_; ++i) {
            pool_[size_t(i)].x += dx;
            pool_[size_t(i)].y += dy;
        }
        prevX_ += dx;
        prevY_ += dy;
    } else if (Emitting()) {
        prevX_ = x_;
        prevY_ = y_;
    } else {
        prevX_ = x_ + dx;
        prevY_ = y_ + dy;
    }
    x_ += dx;
    y_ += dy;
}

void TParticleSystem::RestartAt(TSpawnPoint p) {
    StopEmission(false);
    PlaceAt(p, false);
    StartEmission();
}

void TParticleSystem::startSecondHalf(TParticle& p) const {
    const float r = p.life - p.midTime;
    if (r > 0) {
        p.rotationRate = (params_.rotationDeath - p.rotation) / r;
        p.sizeRate = (params_.sizeDeath - p.size) / r;
        for (int c = 0; c < 4; ++c) p.colorRate[c] = (Channel(params_.colorDeath, c) - p.color[c]) / r;
        return;
    }
    // No time left for the second half: the death values hold at once.
    p.rotation = params_.rotationDeath;
    p.size = params_.sizeDeath;
    p.rotationRate = p.sizeRate = 0;
    for (int c = 0; c < 4; ++c) {
        p.color[c] = ClampChannel(Channel(params_.colorDeath, c), c);
        p.colorRate[c] = 0;
    }
}

void TParticleSystem::Advance(float dt) {
    if (!std::isfinite(dt)) return;
    const TParticleParams& pr = params_;

    // 1. The emission clock.
    if (clock_ >= 0) {
        clock_ += dt;
        if (clock_ >= pr.emissionTime) clock_ = -1;
    }

    // 2. Live particles, compacting over the dead ones in the same pass.
    int32_t removed = 0;
    for (int32_t i = 0; i < live_;) {
        if (removed > 0) pool_[size_t(i)] = pool_[size_t(i + removed)];
        TParticle& p = pool_[size_t(i)];
        p.age += dt;
        // Written so that a life that is not a number also ends at once.
        if (!(p.age < p.life)) {
            --live_;
            ++removed;
            continue;
        }
        // age - dt is taken exactly: in single precision it can round up onto
        // the mid time and the second half would never start.
        const bool crossing = (double(p.age) - double(dt) < double(p.midTime)) && (p.age >= p.midTime);

        const float ox = x_ + p.spawnX, oy = y_ + p.spawnY;
        float nx = p.x - ox, ny = p.y - oy;
        const float len = std::sqrt(nx * nx + ny * ny);
        if (len > 0) {
            nx /= len;
            ny /= len;
        } else {
            nx = ny = 0;
        }
        const float ax = nx * p.radial - ny * p.tangential;
        const float ay = ny * p.radial + nx * p.tangential;
        p.vx += ax * 10 * dt;
        p.vy += ay * 10 * dt;
        p.vy += p.weight * 10 * dt;

        p.x += p.vx * dt;
        p.y += p.vy * dt;

        p.rotation += p.rotationRate * dt;
        p.size += p.sizeRate * dt;
        p.frame += p.frameRate * dt;

        if (crossing) startSecondHalf(p);

        for (int c = 0; c < 4; ++c) p.color[c] = ClampChannel(p.color[c] + p.colorRate[c] * dt, c);
        ++i;
    }

    // 3. New particles; the fraction left over is carried to the next update.
    if (clock_ >= 0) {
        const double c = double(dt) * double(pr.emissionRate) + double(remainder_);
        const double n = std::nearbyint(c);  // halves to even
        remainder_ = float(c - n);
        for (double k = 0; k < n && live_ < Capacity() && !spawnPoints_.empty(); ++k) spawn();
    }

    // 4.
    prevX_ = x_;
    prevY_ = y_;
}

void TParticleSystem::spawn() {
    if (live_ >= Capacity() || spawnPoints_.empty()) return;
    const TParticleParams& pr = params_;
    TParticle& p = pool_[size_t(live_)];
    p = TParticle{};

    p.age = 0;
    p.life = random_.Uniform(pr.life1, pr.life2);
    p.midTime = p.life * pr.midLife;

    // Spread along the path the emitter moved since the last update.
    const float t = random_.Uniform(0, 1);
    p.x = prevX_ + (x_ - prevX_) * t;
    p.y = prevY_ + (y_ - prevY_) * t;
    const TSpawnPoint& sp = spawnPoints_[random_.Int(uint32_t(spawnPoints_.size()))];
    p.x += float(sp.x);
    p.y += float(sp.y);
    p.spawnX = x_ - p.x;
    p.spawnY = y_ - p.y;

    float angle = random_.Uniform(0, pr.spread) + pr.direction + directionOffset_ - pr.spread / 2;
    if (pr.followMotion) angle += float(std::atan2(double(prevX_) - x_, double(prevY_) - y_));
    const float speed = random_.Uniform(pr.speed1, pr.speed2);
    p.vx = float(std::sin(double(angle))) * speed;
    p.vy = float(std::cos(double(angle))) * speed;

    p.weight = random_.Uniform(pr.weight1, pr.weight2);
    p.radial = random_.Uniform(pr.radial1, pr.radial2);
    p.tangential = random_.Uniform(pr.tangential1, pr.tangential2);

    p.size = random_.Uniform(pr.sizeBirth, pr.sizeBirth + (pr.sizeMid - pr.sizeBirth) * pr.sizeVariation);
    p.rotation = random_.Uniform(pr.rotationBirth,
                                 pr.rotationBirth + (pr.rotationMid - pr.rotationBirth) * pr.rotationVariation);

    p.frame = float(pr.firstFrame);
    p.frameRate = (pr.lastFrame >= 0 && pr.lastFrame != pr.firstFrame && p.life > 0)
                      ? float(double(pr.lastFrame) - pr.firstFrame) / p.life
                      : 0.0f;

    const float u = random_.Uniform(0, pr.colorVariation);
    const float v = random_.Uniform(0, pr.alphaVariation);
    for (int c = 0; c < 4; ++c) {
        const float birth = Channel(pr.colorBirth, c), mid = Channel(pr.colorMid, c);
        p.color[c] = ClampChannel(birth + (mid - birth) * (c == 3 ? v : u), c);
    }

    // A negative mid time divides like any other: the particle keeps those
    // first-half rates for good, as the crossing never comes.
    if (p.midTime > 0 || p.midTime < 0) {
        p.sizeRate = (pr.sizeMid - p.size) / p.midTime;
        p.rotationRate = (pr.rotationMid - p.rotation) / p.midTime;
        for (int c = 0; c < 4; ++c) p.colorRate[c] = (Channel(pr.colorMid, c) - p.color[c]) / p.midTime;
    } else {
        // No first half (mid-life at birth, or a life that is not a number):
        // the particle is born with its mid-life looks and heads for its
        // death values at once.
        p.size = pr.sizeMid;
        p.rotation = pr.rotationMid;
        for (int c = 0; c < 4; ++c) p.color[c] = ClampChannel(Channel(pr.colorMid, c), c);
        const float mid = p.midTime;
        p.midTime = 0;
        startSecondHalf(p);
        p.midTime = mid;
    }
    ++live_;
}

void TParticleSystem::DrawParticles(TRenderCanvas& canvas, double ox, double oy, uint32_t colorMask,
                                    int displayWidth, int displayHeight) {
    if (live_ == 0 || !texture_) return;
    const double pw = texture_->PatternWidth, ph = texture_->PatternHeight;
    const bool reverse = params_.reverseOrder != 0;
    for (int32_t k = 0; k < live_; ++k) {
        const TParticle& p = pool_[size_t(reverse ? live_ - 1 - k : k)];
        const double x = ox + p.x, y = oy + p.y, s = p.size;
        // A particle a damaged record drove to infinity has no place to be drawn.
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(s)) continue;
        if (x + pw * s < 0 || y + ph * s < 0 || x - pw * s > displayWidth || y - ph * s > displayHeight) continue;
        uint32_t color = 0;
        for (int c = 0; c < 4; ++c) color |= (uint32_t(roundHalfEvenI32(p.color[c])) & 0xFFu) << (8 * c);
        canvas.DrawRot(texture_, x, y, p.rotation, s, color & colorMask, TruncOrZero(p.frame), params_.drawFx);
    }
}

// ------------------------------------------------------------ manager

TParticleSystem* TParticleManager::Add(std::unique_ptr<TParticleSystem> system) {
    if (!system || Count() >= kMaxSystems) return nullptr;
    systems_.push_back(std::move(system));
    return systems_.back().get();
}

}  // namespace nb
