#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "particles/ParticleSystems.h"
#include "platform/FileSystem.h"

namespace nb {
namespace {

// A system on its own seed with a long-lived, motionless particle kind that
// tests then vary.
struct Sim {
    uint32_t seed;
    TParticleSystem sys;
    explicit Sim(int32_t capacity = 100, uint32_t s = 12345) : seed(s), sys(capacity, TParticleRandom(seed)) {
        TParticleParams p;
        p.emissionTime = 1000;
        p.life1 = p.life2 = 100;
        p.midLife = 0.5f;
        p.sizeBirth = p.sizeMid = p.sizeDeath = 1;
        p.colorBirth = p.colorMid = p.colorDeath = 0xFFFFFFFFu;
        sys.SetParams(p);
    }
    TParticleParams& params() { return const_cast<TParticleParams&>(sys.Params()); }
};

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void PutF(std::vector<uint8_t>& b, size_t at, float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    Put32(b, at, u);
}

TEST(ParticleParams, RecordIsReadFieldByFieldAtItsOffsets) {
    using P = TParticleParams;
    struct FloatField {
        size_t at;
        float P::*field;
        float value;
    };
    const FloatField floats[] = {
        {20, &P::emissionTime, 1.5f}, {24, &P::life1, 3},        {28, &P::life2, 1},
        {32, &P::direction, 3.25f},   {36, &P::spread, 0.5f},    {44, &P::speed1, 10},
        {48, &P::speed2, 20},         {52, &P::weight1, -1},     {56, &P::weight2, 2},
        {60, &P::radial1, 3},         {64, &P::radial2, 4},      {68, &P::tangential1, 5},
        {72, &P::tangential2, 6},     {76, &P::sizeBirth, 0.25f}, {80, &P::sizeMid, 2},
        {84, &P::sizeDeath, 7},       {88, &P::sizeVariation, 0.75f}, {92, &P::rotationBirth, 0.1f},
        {96, &P::rotationMid, 0.2f},  {100, &P::rotationDeath, 0.3f}, {104, &P::rotationVariation, 0.4f},
        {120, &P::colorVariation, 0.6f}, {124, &P::alphaVariation, 0.7f}, {128, &P::midLife, 0.8f},
    };
    std::vector<uint8_t> b(136, 0);
    Put32(b, 0, 2);
    Put32(b, 4, uint32_t(-1));
    Put32(b, 8, 0xDEADBEEF);
    Put32(b, 12, 1284);
    Put32(b, 16, 45);
    b[40] = 1;
    b[41] = 0x77;  // unused bytes are ignored
    Put32(b, 108, 0x11223344);
    Put32(b, 112, 0x55667788);
    Put32(b, 116, 0x99AABBCC);
    b[132] = 5;
    for (const FloatField& f : floats) PutF(b, f.at, f.value);
    b.resize(200, 0xFF);  // only the first 136 bytes count

    Sim s;
    ASSERT_TRUE(s.sys.LoadFromStream(b));
    const TParticleParams& p = s.sys.Params();
    EXPECT_EQ(p.firstFrame, 2);
    EXPECT_EQ(p.lastFrame, -1);
    EXPECT_EQ(p.drawFx, 1284u);
    EXPECT_EQ(p.emissionRate, 45);
    EXPECT_EQ(p.followMotion, 1);
    EXPECT_EQ(p.colorBirth, 0x11223344u);
    EXPECT_EQ(p.colorMid, 0x55667788u);
    EXPECT_EQ(p.colorDeath, 0x99AABBCCu);
    EXPECT_EQ(p.reverseOrder, 5);
    for (const FloatField& f : floats) EXPECT_EQ(p.*f.field, f.value) << "offset " << f.at;

    // Writing the record back gives the same bytes (unused ones zero).
    auto back = p.ToBytes();
    b.resize(136);
    b[41] = 0;
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end()), b);
}

TEST(ParticleParams, ShortAndMissingRecords) {
    Sim s;
    TParticleParams before = s.sys.Params();
    // Nothing to read: false, parameters untouched.
    EXPECT_FALSE(s.sys.LoadFromStream(nullptr, 0));
    EXPECT_FALSE(s.sys.LoadFromStream(std::vector<uint8_t>{}));
    EXPECT_EQ(s.sys.Params().life1, before.life1);
    EXPECT_FALSE(s.sys.LoadFromFile("/nonexistent-folder/none.eff"));
    EXPECT_EQ(s.sys.Params().emissionTime, before.emissionTime);

    // A record cut inside the emission time keeps what it covers; the rest
    // reads as zero.
    std::vector<uint8_t> b(22, 0);
    Put32(b, 0, 7);
    Put32(b, 12, 99);
    Put32(b, 16, 30);
    b[20] = 0xAB;
    b[21] = 0xCD;
    ASSERT_TRUE(s.sys.LoadFromStream(b));
    EXPECT_EQ(s.sys.Params().firstFrame, 7);
    EXPECT_EQ(s.sys.Params().drawFx, 99u);
    EXPECT_EQ(s.sys.Params().emissionRate, 30);
    uint32_t bits;
    std::memcpy(&bits, &s.sys.Params().emissionTime, 4);
    EXPECT_EQ(bits, 0xCDABu);
    EXPECT_EQ(s.sys.Params().life1, 0);
    EXPECT_EQ(s.sys.Params().colorDeath, 0u);
    EXPECT_EQ(s.sys.Params().reverseOrder, 0);

    // One byte is a record too.
    const uint8_t one = 3;
    EXPECT_TRUE(s.sys.LoadFromStream(&one, 1));
    EXPECT_EQ(s.sys.Params().firstFrame, 3);
    EXPECT_EQ(s.sys.Params().drawFx, 0u);

    // From a file, in any letter case.
    char tmpl[] = "/tmp/nb-particles-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    ASSERT_NE(dir, nullptr);
    const std::string path = std::string(dir) + "/Spark.EFF";
    std::vector<uint8_t> rec(140, 0);
    Put32(rec, 16, 12);
    ASSERT_TRUE(fs::writeFile(path, rec.data(), rec.size()));
    EXPECT_TRUE(s.sys.LoadFromFile(std::string(dir) + "/spark.eff"));
    EXPECT_EQ(s.sys.Params().emissionRate, 12);
    EXPECT_EQ(s.sys.Params().firstFrame, 0);
    fs::removeFile(path);
    rmdir(dir);
}

TEST(ParticleSystem, EmissionCarriesTheFractionAndRoundsHalvesToEven) {
    const float dt = float(1.0 / 30.0);
    Sim a;
    a.params().emissionRate = 10;
    a.sys.StartEmission();
    std::vector<int> counts;
    for (int i = 0; i < 6; ++i) {
        a.sys.Advance(dt);
        counts.push_back(a.sys.LiveCount());
    }
    // 0.333 -> none; 0.667 -> one, leaving -0.333; 0.0 -> none; ...
    EXPECT_EQ(counts, (std::vector<int>{0, 1, 1, 1, 2, 2}));
    for (int i = 6; i < 30; ++i) a.sys.Advance(dt);
    EXPECT_EQ(a.sys.LiveCount(), 10);

    Sim b;
    b.params().emissionRate = 45;
    b.sys.StartEmission();
    b.sys.Advance(dt);  // 1.5 rounds to 2, leaving -0.5
    EXPECT_EQ(b.sys.LiveCount(), 2);
    EXPECT_NEAR(b.sys.SpawnRemainder(), -0.5, 1e-5);
    b.sys.Advance(dt);  // 1.0: one
    EXPECT_EQ(b.sys.LiveCount(), 3);
    for (int i = 2; i < 30; ++i) b.sys.Advance(dt);
    EXPECT_EQ(b.sys.LiveCount(), 45);

    // An emission time of 0 never starts; the clock ends emission at its time.
    Sim c;
    c.params().emissionRate = 100;
    c.params().emissionTime = 0;
    c.sys.StartEmission();
    EXPECT_FALSE(c.sys.Emitting());
    c.sys.Advance(1);
    EXPECT_EQ(c.sys.LiveCount(), 0);
}

TEST(ParticleSystem, LifetimesRetireTheOldestAndKeepPoolOrder) {
    // dt 0.25 and rate 4 give exactly one particle per update; life 1 s.
    Sim s;
    s.params().emissionRate = 4;
    s.params().emissionTime = 2.0f;
    s.params().life1 = s.params().life2 = 1.0f;
    s.sys.StartEmission();
    std::vector<int> counts;
    for (int i = 0; i < 11; ++i) {
        s.sys.Advance(0.25f);
        counts.push_back(s.sys.LiveCount());
        if (i == 7) {
            // Emission ended in this update (clock 2.0), so nothing was added.
            EXPECT_FALSE(s.sys.Emitting());
            ASSERT_EQ(s.sys.LiveCount(), 3);
            EXPECT_EQ(s.sys.Particle(0).age, 0.75f);
            EXPECT_EQ(s.sys.Particle(1).age, 0.5f);
            EXPECT_EQ(s.sys.Particle(2).age, 0.25f);
        }
    }
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 3, 4, 4, 4, 4, 3, 2, 1, 0}));

    // Mixed lives: survivors are exactly the earlier records whose age did
    // not reach their life, in their earlier order.
    Sim m(500, 77);
    m.params().emissionRate = 200;
    m.params().life1 = 0.05f;
    m.params().life2 = 1.5f;
    m.sys.StartEmission();
    for (int i = 0; i < 10; ++i) m.sys.Advance(0.1f);
    m.sys.StopEmission(false);
    while (m.sys.LiveCount() > 0) {
        std::vector<float> expected;
        for (int i = 0; i < m.sys.LiveCount(); ++i) {
            const TParticle& p = m.sys.Particle(i);
            if (p.age + 0.1f < p.life) expected.push_back(p.life);
        }
        m.sys.Advance(0.1f);
        std::vector<float> got;
        for (int i = 0; i < m.sys.LiveCount(); ++i) got.push_back(m.sys.Particle(i).life);
        ASSERT_EQ(got, expected);
    }
}

TEST(ParticleSystem, PoolNeverGrowsAndStopClears) {
    Sim s(10);
    s.params().emissionRate = 1000;
    s.sys.StartEmission();
    s.sys.Advance(0.1f);
    EXPECT_EQ(s.sys.LiveCount(), 10);
    s.sys.Advance(0.1f);
    EXPECT_EQ(s.sys.LiveCount(), 10);
    EXPECT_EQ(s.sys.Capacity(), 10);

    // Draining: emission off, the particles live on.
    s.sys.StopEmission(false);
    EXPECT_FALSE(s.sys.Emitting());
    s.sys.Advance(0.1f);
    EXPECT_EQ(s.sys.LiveCount(), 10);
    s.sys.StopEmission(true);
    EXPECT_EQ(s.sys.LiveCount(), 0);

    // Without spawn points nothing starts or spawns.
    s.sys.ClearSpawnPoints();
    s.sys.StartEmission();
    EXPECT_FALSE(s.sys.Emitting());
    const std::vector<TSpawnPoint> pts = {{1, 2}, {3, 4}, {5, 6}};
    s.sys.AddSpawnPoints(pts, 1);
    EXPECT_EQ(s.sys.SpawnPointCount(), 2);
    s.sys.AddSpawnPoints(pts, 99);  // never past the list
    EXPECT_EQ(s.sys.SpawnPointCount(), 5);
    s.sys.ClearSpawnPoints();
    s.sys.AddSpawnPoints(pts, 1);
    s.sys.StartEmission();
    EXPECT_TRUE(s.sys.Emitting());
    // Each particle starts at the emitter plus one of the points.
    s.sys.Advance(0.1f);
    ASSERT_EQ(s.sys.LiveCount(), 10);
    int atFirst = 0, atSecond = 0;
    for (int i = 0; i < 10; ++i) {
        const TParticle& q = s.sys.Particle(i);
        atFirst += q.x == 1 && q.y == 2;
        atSecond += q.x == 3 && q.y == 4;
    }
    EXPECT_EQ(atFirst + atSecond, 10);
    EXPECT_GT(atFirst, 0);
    EXPECT_GT(atSecond, 0);
    s.sys.StopEmission(true);
    s.sys.StartEmission();
    s.sys.ClearSpawnPoints();  // while emitting
    s.sys.Advance(0.1f);
    EXPECT_EQ(s.sys.LiveCount(), 0);

    Sim z(-5);
    z.params().emissionRate = 100;
    z.sys.StartEmission();
    z.sys.Advance(1);
    EXPECT_EQ(z.sys.LiveCount(), 0);
}

TEST(ParticleSystem, DrawsFromTheSharedGenerator) {
    uint32_t shared = 4242;
    TParticleSystem sys(10, TParticleRandom(shared));
    TParticleParams p;
    p.emissionRate = 1;
    p.emissionTime = 10;
    p.life1 = 4;
    p.life2 = 2;  // limits in either order
    sys.SetParams(p);
    sys.StartEmission();
    sys.Advance(1.0f);
    ASSERT_EQ(sys.LiveCount(), 1);
    uint32_t ref = 4242u * 134775813u + 1u;
    EXPECT_EQ(sys.Particle(0).life, float(2.0 + double(ref) / 4294967296.0 * 2.0));
    EXPECT_NE(shared, 4242u);  // the program's seed moved on

    // Same seed, same cloud.
    uint32_t s1 = 9, s2 = 9;
    TParticleSystem a(50, TParticleRandom(s1)), b(50, TParticleRandom(s2));
    p.emissionRate = 40;
    p.speed1 = 5;
    p.speed2 = 50;
    p.spread = 6.28f;
    p.weight1 = 1;
    p.radial1 = -2;
    p.tangential2 = 3;
    a.SetParams(p);
    b.SetParams(p);
    a.StartEmission();
    b.StartEmission();
    for (int i = 0; i < 20; ++i) {
        a.Advance(0.05f);
        b.Advance(0.05f);
    }
    ASSERT_EQ(a.LiveCount(), b.LiveCount());
    ASSERT_GT(a.LiveCount(), 0);
    for (int i = 0; i < a.LiveCount(); ++i) {
        EXPECT_EQ(a.Particle(i).x, b.Particle(i).x);
        EXPECT_EQ(a.Particle(i).vy, b.Particle(i).vy);
    }
    EXPECT_EQ(s1, s2);
}

TEST(ParticleSystem, LooksRunBirthToMidToDeath) {
    Sim s;
    TParticleParams& p = s.params();
    p.emissionRate = 4;
    p.emissionTime = 0.3f;  // exactly one particle, born in the first update
    p.life1 = p.life2 = 2;
    p.midLife = 0.5f;
    p.sizeBirth = 1;
    p.sizeMid = 3;
    p.sizeDeath = 0;
    p.rotationBirth = 0;
    p.rotationMid = 2;
    p.rotationDeath = 4;
    p.colorBirth = 0x00000000;
    p.colorMid = 0x80402010;
    p.colorDeath = 0xFFFFFFFF;
    s.sys.StartEmission();
    s.sys.Advance(0.25f);
    ASSERT_EQ(s.sys.LiveCount(), 1);
    EXPECT_EQ(s.sys.Particle(0).size, 1);
    EXPECT_EQ(s.sys.Particle(0).midTime, 1);
    for (int i = 0; i < 4; ++i) s.sys.Advance(0.25f);  // age 1: mid-life
    const TParticle& q = s.sys.Particle(0);
    EXPECT_FLOAT_EQ(q.size, 3);
    EXPECT_FLOAT_EQ(q.rotation, 2);
    // The colour's rates turn toward death before the crossing update adds
    // them: from 3/4 of the way to mid-life, a quarter second at the new rate.
    EXPECT_FLOAT_EQ(q.color[3], 96 + (255 - 96) * 0.25f);
    EXPECT_FLOAT_EQ(q.color[2], 48 + (255 - 48) * 0.25f);
    EXPECT_FLOAT_EQ(q.color[0], 12 + (255 - 12) * 0.25f);
    for (int i = 0; i < 3; ++i) s.sys.Advance(0.25f);  // age 1.75
    EXPECT_FLOAT_EQ(q.size, 0.75f);
    EXPECT_FLOAT_EQ(q.rotation, 3.5f);
    // ... so the colour, a step ahead, is already at its death value.
    EXPECT_FLOAT_EQ(q.color[2], 255);
    s.sys.Advance(0.25f);  // age 2: dead
    EXPECT_EQ(s.sys.LiveCount(), 0);

    // A mid-life fraction of 0: born with the mid-life looks, heading for
    // the death values over the whole life; nothing divides by zero.
    Sim z;
    z.params() = p;
    z.params().midLife = 0;
    z.sys.StartEmission();
    z.sys.Advance(0.25f);
    ASSERT_EQ(z.sys.LiveCount(), 1);
    EXPECT_EQ(z.sys.Particle(0).size, 3);
    z.sys.Advance(1.0f);
    EXPECT_FLOAT_EQ(z.sys.Particle(0).size, 1.5f);
    EXPECT_TRUE(std::isfinite(z.sys.Particle(0).sizeRate));

    // A negative fraction is no division by zero: the first-half rates are
    // taken as they come out, and mid-life is never crossed.
    Sim n;
    n.params() = p;
    n.params().midLife = -0.5f;
    n.sys.StartEmission();
    n.sys.Advance(0.25f);
    ASSERT_EQ(n.sys.LiveCount(), 1);
    EXPECT_EQ(n.sys.Particle(0).size, 1);
    EXPECT_EQ(n.sys.Particle(0).sizeRate, -2);  // (3 - 1) / -1
    n.sys.Advance(1.5f);
    EXPECT_FLOAT_EQ(n.sys.Particle(0).size, -2);
    EXPECT_EQ(n.sys.Particle(0).sizeRate, -2);

    // Mid-life is crossed when age - dt lies below it even if that
    // difference would round up to it in single precision: here age - dt is
    // 1 - 2^-26 (the mid time being 1), and the second half must start.
    Sim c;
    c.params() = p;
    c.params().emissionRate = 1;
    c.params().emissionTime = 1.5f;
    c.sys.StartEmission();
    c.sys.Advance(1);  // born
    c.sys.Advance(1 - std::ldexp(1.0f, -24));  // age 1 - 2^-24
    ASSERT_EQ(c.sys.LiveCount(), 1);
    EXPECT_GT(c.sys.Particle(0).sizeRate, 0);
    c.sys.Advance(std::ldexp(1.0f, -23) + std::ldexp(1.0f, -26));  // age 1 + 2^-23
    EXPECT_EQ(c.sys.Particle(0).age, 1 + std::ldexp(1.0f, -23));
    EXPECT_LT(c.sys.Particle(0).sizeRate, 0);  // now heading for the death size
}

TEST(ParticleSystem, ColourChannelsClamp) {
    Sim s;
    TParticleParams& p = s.params();
    p.emissionRate = 1;
    p.emissionTime = 1.5f;
    p.life1 = p.life2 = 2;
    p.midLife = 0.5f;
    p.colorBirth = p.colorMid = 0x0000FF00;  // green only
    p.colorDeath = 0xFFFF0000;               // alpha and red
    s.sys.StartEmission();
    s.sys.Advance(1);  // born at the end of this update
    ASSERT_EQ(s.sys.LiveCount(), 1);
    s.sys.Advance(1);  // crossing at age 1: rates toward the death colour
    const TParticle& q = s.sys.Particle(0);
    EXPECT_EQ(q.color[3], 255);
    EXPECT_EQ(q.color[2], 255);
    EXPECT_EQ(q.color[1], 0);
    s.sys.Advance(0.9f);  // overshoots: alpha reads 254, red 255, green 0
    ASSERT_EQ(s.sys.LiveCount(), 1);
    EXPECT_EQ(q.color[3], 254);
    EXPECT_EQ(q.color[2], 255);
    EXPECT_EQ(q.color[1], 0);
    EXPECT_EQ(q.color[0], 0);
}

TEST(ParticleSystem, DirectionSpeedAndForces) {
    Sim down;
    down.params().emissionRate = 10;
    down.params().speed1 = down.params().speed2 = 100;
    down.sys.StartEmission();
    down.sys.Advance(1);
    ASSERT_EQ(down.sys.LiveCount(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(down.sys.Particle(i).vx, 0);
        EXPECT_EQ(down.sys.Particle(i).vy, 100);
    }

    Sim up;
    up.params().emissionRate = 1;
    up.params().speed1 = up.params().speed2 = 100;
    up.params().direction = float(M_PI);
    up.sys.StartEmission();
    up.sys.Advance(1);
    ASSERT_EQ(up.sys.LiveCount(), 1);
    EXPECT_NEAR(up.sys.Particle(0).vx, 0, 1e-4);
    EXPECT_FLOAT_EQ(up.sys.Particle(0).vy, -100);
    // The direction offset turns the emission too.
    up.sys.SetDirectionOffset(float(M_PI / 2));
    up.sys.Advance(1);
    ASSERT_EQ(up.sys.LiveCount(), 2);
    EXPECT_NEAR(up.sys.Particle(1).vx, -100, 1e-3);

    // Weight accelerates downward: v += weight * 10 * dt, then x += v * dt.
    Sim w;
    w.params().emissionRate = 1;
    w.params().emissionTime = 1.5f;
    w.params().weight1 = w.params().weight2 = 2;
    w.sys.StartEmission();
    w.sys.Advance(1);
    w.sys.Advance(0.5f);
    ASSERT_EQ(w.sys.LiveCount(), 1);
    EXPECT_FLOAT_EQ(w.sys.Particle(0).vy, 10);
    EXPECT_FLOAT_EQ(w.sys.Particle(0).y, 5);

    // Radial acceleration pushes away from the birth origin, tangential
    // turns a quarter ahead of it.
    Sim r;
    r.params().emissionRate = 1;
    r.params().emissionTime = 1.5f;
    r.params().speed1 = r.params().speed2 = 10;  // straight down
    r.params().radial1 = r.params().radial2 = 1;
    r.params().tangential1 = r.params().tangential2 = 2;
    r.sys.StartEmission();
    r.sys.Advance(1);
    r.sys.Advance(0.5f);  // particle at (0, 5): n = (0, 1)
    r.sys.Advance(0.5f);
    const TParticle& q = r.sys.Particle(0);
    EXPECT_FLOAT_EQ(q.vy, 10 + 1 * 10 * 0.5f);
    EXPECT_FLOAT_EQ(q.vx, -1 * 2 * 10 * 0.5f);

    // FaceToward measures atan2(dx, dy).
    EXPECT_FLOAT_EQ(r.sys.FaceToward(0, -5), float(M_PI));
    EXPECT_FLOAT_EQ(r.sys.Direction(), float(M_PI));
}

TEST(ParticleSystem, MovingTheEmitter) {
    // A long non-rigid move while emitting spreads that update's particles
    // over the path.
    Sim s(200);
    s.params().emissionRate = 300;
    s.sys.StartEmission();
    s.sys.PlaceAt({1000, 1000}, false);
    EXPECT_EQ(s.sys.PrevX(), 0);
    s.sys.Advance(0.1f);
    ASSERT_EQ(s.sys.LiveCount(), 30);
    int bins[4] = {};
    for (int i = 0; i < 30; ++i) {
        const TParticle& p = s.sys.Particle(i);
        EXPECT_FLOAT_EQ(p.x, p.y);
        ASSERT_GE(p.x, 0);
        ASSERT_LE(p.x, 1000);
        ++bins[std::min(3, int(p.x / 250))];
        EXPECT_FLOAT_EQ(p.spawnX, 1000 - p.x);
    }
    for (int b : bins) EXPECT_GT(b, 0);
    EXPECT_EQ(s.sys.PrevX(), 1000);

    // Rigid: the cloud moves along.
    const float x0 = s.sys.Particle(3).x, y0 = s.sys.Particle(3).y;
    s.sys.Shift(-10, 20, true);
    EXPECT_EQ(s.sys.Particle(3).x, x0 - 10);
    EXPECT_EQ(s.sys.Particle(3).y, y0 + 20);
    EXPECT_EQ(s.sys.PosX(), 990);
    EXPECT_EQ(s.sys.PrevY(), 1020);

    // Restart: no trail, every new particle at the new place, clock anew.
    s.sys.StopEmission(true);
    s.sys.StartEmission();
    s.sys.Advance(0.5f);
    s.sys.StopEmission(true);
    s.sys.RestartAt({500, 600});
    EXPECT_EQ(s.sys.EmissionClock(), 0);
    s.sys.Advance(0.1f);
    ASSERT_EQ(s.sys.LiveCount(), 30);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(s.sys.Particle(i).x, 500);
        EXPECT_EQ(s.sys.Particle(i).y, 600);
    }

    // Not emitting: a plain move leaves no trail either.
    Sim t;
    t.sys.PlaceAt({50, 60}, false);
    EXPECT_EQ(t.sys.PrevX(), 50);
    EXPECT_EQ(t.sys.PrevY(), 60);

    // Follow motion adds the backward direction of the move to the
    // parameter direction (0, down): moving up sends particles down, moving
    // down sends them up.
    Sim f;
    f.params().emissionRate = 10;
    f.params().speed1 = f.params().speed2 = 1;
    f.params().followMotion = 1;
    f.sys.StartEmission();
    f.sys.PlaceAt({0, -100}, false);
    f.sys.Advance(1);
    ASSERT_GT(f.sys.LiveCount(), 0);
    EXPECT_NEAR(f.sys.Particle(0).vy, 1, 1e-5);
    Sim g;
    g.params() = f.params();
    g.sys.StartEmission();
    g.sys.PlaceAt({0, 100}, false);
    g.sys.Advance(1);
    ASSERT_GT(g.sys.LiveCount(), 0);
    EXPECT_NEAR(g.sys.Particle(0).vy, -1, 1e-5);
}

TEST(ParticleSystem, DamagedNumbersNeverStopTheSystem) {
    Sim s;
    TParticleParams& p = s.params();
    p.emissionRate = 2147483647;
    p.life1 = std::nanf("");
    p.sizeBirth = std::numeric_limits<float>::infinity();
    p.firstFrame = 0;
    p.lastFrame = 2000000000;
    s.sys.StartEmission();
    s.sys.Advance(1);
    EXPECT_EQ(s.sys.LiveCount(), 100);
    s.sys.Advance(std::numeric_limits<float>::infinity());  // ignored
    EXPECT_EQ(s.sys.LiveCount(), 100);
    s.sys.StopEmission(false);
    s.sys.Advance(0.1f);  // a life that is not a number ends at once
    EXPECT_EQ(s.sys.LiveCount(), 0);
}

TEST(ParticleManager, HoldsAtMostAHundredSystems) {
    uint32_t seed = 1;
    TParticleManager m(nullptr);
    for (int i = 0; i < TParticleManager::kMaxSystems; ++i)
        ASSERT_NE(m.Add(std::make_unique<TParticleSystem>(1, TParticleRandom(seed))), nullptr);
    EXPECT_EQ(m.Add(std::make_unique<TParticleSystem>(1, TParticleRandom(seed))), nullptr);
    EXPECT_EQ(m.Count(), 100);
    EXPECT_EQ(m.System(100), nullptr);
    m.Clear();
    EXPECT_EQ(m.Count(), 0);
}

}  // namespace
}  // namespace nb
