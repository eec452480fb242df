// Effect elements: the particle system an effect owns, loaded from its effect
// file (game folder, else archive), moved with the element, advanced by
// DAnim / Speed per tick, switched off when spent, and drawn on its layer.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "render/RenderTimers.h"
#include "scene/Effect.h"
#include "tests/archive/ArchiveBytes.h"
#include "tests/scene/kinds_fixture.h"
#include "tests/scene/scene_fixture.h"

namespace nb::kinds_test {
namespace {

// A 24-bit bottom-up Windows bitmap of one colour.
std::vector<uint8_t> SolidBmp(int w, int h, uint32_t rgb) {
    const int row = (w * 3 + 3) & ~3;
    ByteWriter out;
    out.bytes("BM", 2);
    out.u32(uint32_t(54 + row * h));
    out.u32(0);
    out.u32(54);
    out.u32(40);
    out.i32(w);
    out.i32(h);
    out.u16(1);
    out.u16(24);
    out.u32(0);
    out.u32(uint32_t(row * h));
    out.i32(2835);
    out.i32(2835);
    out.u32(0);
    out.u32(0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            out.u8(uint8_t(rgb));
            out.u8(uint8_t(rgb >> 8));
            out.u8(uint8_t(rgb >> 16));
        }
        for (int p = w * 3; p < row; ++p) out.u8(0);
    }
    return out.buffer();
}

// A long-lived, motionless, white particle kind emitting `rate` per second.
TParticleParams Kind(int32_t rate, float emissionTime = 100, float life = 100) {
    TParticleParams p;
    p.emissionRate = rate;
    p.emissionTime = emissionTime;
    p.life1 = p.life2 = life;
    p.midLife = 0.5f;
    p.sizeBirth = p.sizeMid = p.sizeDeath = 1;
    p.colorBirth = p.colorMid = p.colorDeath = 0x80FFFFFFu;
    p.drawFx = 1284;
    return p;
}

// The kinds world with its game folder set, an 8 x 8 "particles.bmp" there,
// and the root's particle manager created as reading a game creates it.
struct EffectWorld : KindsWorld {
    explicit EffectWorld(bool withManager = true) {
        ctx.SetGameFolder(folder);
        WriteFile("particles.bmp", SolidBmp(8, 8, 0xFFFFFF));
        if (withManager) root->CreateParticleManager();
        screen = Make<TNBScreen>(root, "S");
    }
    void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(fs::writeFile(folder + name, bytes.data(), bytes.size())) << name;
        written.push_back(name);
    }
    void WriteEffect(const std::string& name, const TParticleParams& p) {
        auto b = p.ToBytes();
        WriteFile(name, std::vector<uint8_t>(b.begin(), b.end()));
    }
    // An effect at (x, y) whose file holds `p`, DAnim 1, active.
    TNBEffect* Effect(const TParticleParams& p, int x = 100, int y = 50) {
        WriteEffect("fx.eff", p);
        TNBEffect* fx = Make<TNBEffect>(screen, "FX");
        SetI(fx, "X", x);
        SetI(fx, "Y", y);
        SetS(fx, "EffectFN", "fx.eff");
        SetR(fx, "DAnim", 1.0);
        SetI(fx, "Active", 1);
        return fx;
    }
    TNBScreen* screen = nullptr;
};

TEST(SceneEffect, EffectFileFromFolderOrArchiveAndTheManagersTexture) {
    // Without a particle manager the name is only stored.
    {
        EffectWorld w(false);
        w.WriteEffect("spark.eff", Kind(30));
        TNBEffect* fx = w.Make<TNBEffect>(w.screen, "FX");
        KindsWorld::SetS(fx, "EffectFN", "spark.eff");
        EXPECT_EQ(fx->System(), nullptr);
        EXPECT_EQ(KindsWorld::Get(fx, "EffectFN").s, "spark.eff");
        fx->Process();  // nothing to advance, nothing fails
    }

    EffectWorld w;
    ASSERT_NE(w.root->ParticleManager(), nullptr);
    TRenderImage* tex = w.root->ParticleManager()->Texture();
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(tex->PatternWidth, 8);

    // A file in a subfolder, named with a backslash and in another case.
    std::filesystem::create_directory(w.folder + "fx");
    w.WriteEffect("fx/spark.eff", Kind(45));
    TNBEffect* a = w.Make<TNBEffect>(w.screen, "A");
    KindsWorld::SetI(a, "X", 120);
    KindsWorld::SetI(a, "Y", 30);
    KindsWorld::SetS(a, "EffectFN", "FX\\Spark.EFF");
    ASSERT_NE(a->System(), nullptr);
    EXPECT_EQ(a->System()->Params().emissionRate, 45);
    EXPECT_EQ(a->System()->Capacity(), 5000);
    EXPECT_EQ(a->System()->Texture(), tex);
    EXPECT_EQ(a->System()->PosX(), 120);
    EXPECT_EQ(a->System()->PosY(), 30);
    EXPECT_FALSE(a->System()->Emitting());  // not Active yet
    KindsWorld::SetI(a, "Active", 1);
    EXPECT_TRUE(a->System()->Emitting());
    // Writing the name again replaces the system; Active starts it at once.
    TParticleSystem* first = a->System();
    w.WriteEffect("other.eff", Kind(7));
    KindsWorld::SetS(a, "EffectFN", "other.eff");
    EXPECT_NE(a->System(), first);
    EXPECT_EQ(a->System()->Params().emissionRate, 7);
    EXPECT_TRUE(a->System()->Emitting());

    // Not in the folder: the archive record of that name.
    auto rec = Kind(77).ToBytes();
    nbtest::writeBytes(w.folder + "res.dat",
                       nbtest::buildArchive({nbtest::packed("Boom.eff", std::vector<uint8_t>(rec.begin(), rec.end()))}));
    w.written.push_back("res.dat");
    w.archive.SetFileName(w.folder + "res.dat");
    TNBEffect* b = w.Make<TNBEffect>(w.screen, "B");
    KindsWorld::SetS(b, "EffectFN", "boom.eff");
    ASSERT_NE(b->System(), nullptr);
    EXPECT_EQ(b->System()->Params().emissionRate, 77);
    std::filesystem::remove_all(w.folder + "fx");

    // Found nowhere, empty or cut short: the system exists, what the file
    // lacks is zero, and an emission time of 0 never emits.
    w.WriteFile("empty.eff", {});
    std::vector<uint8_t> cut(18, 0);
    cut[16] = 99;
    w.WriteFile("cut.eff", cut);
    for (const char* name : {"missing.eff", "empty.eff", "cut.eff"}) {
        TNBEffect* c = w.Make<TNBEffect>(w.screen, name);
        KindsWorld::SetI(c, "Active", 1);
        KindsWorld::SetR(c, "DAnim", 1.0);
        KindsWorld::SetS(c, "EffectFN", name);
        ASSERT_NE(c->System(), nullptr) << name;
        EXPECT_EQ(c->System()->Params().emissionRate, std::string(name) == "cut.eff" ? 99 : 0) << name;
        EXPECT_EQ(c->System()->Params().life1, 0) << name;
        EXPECT_FALSE(c->System()->Emitting()) << name;
        c->Process();
        EXPECT_EQ(c->System()->LiveCount(), 0) << name;
        EXPECT_FALSE(c->Active()) << name << ": turns inactive in its first tick";
    }
}

TEST(SceneEffect, ReadingAGameCreatesTheManagerBeforeTheEffects) {
    EffectWorld w(false);
    w.WriteEffect("spark.eff", Kind(12));
    using scene_test::Rec;
    const std::string game = scene_test::Encode(
        Rec("TNBDB").I("Key", 1).Child(Rec("TNBScreen").I("Key", 2).Child(
            Rec("TNBEffect").I("Key", 3).S("Id", "FX").I("X", 40).I("Y", 60).S("EffectFN", "spark.eff")
                .R("DAnim", 1.0).I("Active", 1))));
    w.WriteFile("game.nbf", std::vector<uint8_t>(game.begin(), game.end()));
    ASSERT_TRUE(w.root->LoadGame(w.folder + "game.nbf"));
    ASSERT_NE(w.root->ParticleManager(), nullptr);
    EXPECT_NE(w.root->ParticleManager()->Texture(), nullptr);
    auto* fx = static_cast<TNBEffect*>(TNBElement::FindByKey(w.root, 3));
    ASSERT_NE(fx, nullptr);
    ASSERT_NE(fx->System(), nullptr);
    EXPECT_EQ(fx->System()->Params().emissionRate, 12);
    EXPECT_EQ(fx->System()->PosX(), 40);
    EXPECT_EQ(fx->System()->PosY(), 60);
    EXPECT_TRUE(fx->System()->Emitting());
}

TEST(SceneEffect, ProcessAdvancesByDAnimOverSpeed) {
    EffectWorld w;
    TParticleParams p = Kind(30);
    p.speed1 = p.speed2 = 60;
    TNBEffect* fx = w.Effect(p);
    TParticleSystem* sys = fx->System();
    ASSERT_NE(sys, nullptr);
    ASSERT_TRUE(sys->Emitting());

    // Hidden, the effect still advances every tick; only its "Process" hook
    // waits for it to be shown.
    KindsWorld::SetS(fx, "exProcess", "Mark('p')");
    KindsWorld::SetI(fx, "Vis", 0);
    fx->Process();
    EXPECT_EQ(sys->LiveCount(), 1);
    EXPECT_TRUE(w.marks.empty());
    KindsWorld::SetI(fx, "Vis", 1);
    fx->Process();
    EXPECT_EQ(sys->LiveCount(), 2);
    EXPECT_EQ(w.marks, (std::vector<std::string>{"FX:P"}));
    KindsWorld::SetS(fx, "exProcess", "");
    fx->Break();
    KindsWorld::SetI(fx, "Active", 1);  // empty again, emission clock at 0

    // DAnim 0 never advances: nothing emitted.
    KindsWorld::SetR(fx, "DAnim", 0.0);
    for (int i = 0; i < 10; ++i) fx->Process();
    EXPECT_EQ(sys->LiveCount(), 0);
    EXPECT_EQ(sys->EmissionClock(), 0);

    KindsWorld::SetR(fx, "DAnim", 1.0);
    fx->Process();
    fx->Process();
    ASSERT_EQ(sys->LiveCount(), 2);
    const float clock = sys->EmissionClock();
    EXPECT_FLOAT_EQ(clock, 2.0f / 30.0f);

    // ... nor moves or retires anything.
    const float y0 = sys->Particle(0).y;
    KindsWorld::SetR(fx, "DAnim", 0.0);
    for (int i = 0; i < 5; ++i) fx->Process();
    EXPECT_EQ(sys->LiveCount(), 2);
    EXPECT_EQ(sys->Particle(0).y, y0);
    EXPECT_EQ(sys->EmissionClock(), clock);

    // DAnim 2: each tick advances 2/30 s, twice the particles.
    KindsWorld::SetR(fx, "DAnim", 2.0);
    fx->Process();
    EXPECT_EQ(sys->EmissionClock(), clock + float(2.0 / 30.0));
    EXPECT_EQ(sys->LiveCount(), 4);
    EXPECT_FLOAT_EQ(sys->Particle(0).y, y0 + 60 * float(2.0 / 30.0));

    // The processing rate is the frame timer's Speed.
    ManualClock manual;
    TRenderTimer timer(&manual);
    timer.Speed = 60;
    w.ctx.timer = &timer;
    const float before = sys->EmissionClock();
    fx->Process();
    EXPECT_FLOAT_EQ(sys->EmissionClock(), before + float(2.0 / 60.0));
    w.ctx.timer = nullptr;

    // ProcEf's advance: any amount, straight to the system.
    fx->AdvanceSystem(0.5f);
    EXPECT_EQ(sys->LiveCount(), 4 + 1 + 15);
}

TEST(SceneEffect, SwitchOffStopBreakAndStart) {
    EffectWorld w;
    TNBEffect* fx = w.Effect(Kind(30, 0.1f, 0.2f));
    TParticleSystem* sys = fx->System();
    ASSERT_NE(sys, nullptr);
    int ticks = 0, liveBefore = 0;
    bool emittingBefore = false;
    while (fx->Active() && ticks < 100) {
        liveBefore = sys->LiveCount();
        emittingBefore = sys->Emitting();
        fx->Process();
        ++ticks;
        if (fx->Active()) {
            ASSERT_TRUE(sys->Emitting() || sys->LiveCount() > 0) << ticks;
        }
    }
    ASSERT_FALSE(fx->Active());
    // It went off in the very tick its last particle died, emission long over.
    EXPECT_GT(liveBefore, 0);
    EXPECT_FALSE(emittingBefore);
    EXPECT_EQ(sys->LiveCount(), 0);
    EXPECT_GT(ticks, 6);

    // AnimStart: active again, emitting, exStart run.
    KindsWorld::SetS(fx, "exStart", "Mark('go')");
    fx->Start();
    EXPECT_TRUE(fx->Active());
    EXPECT_TRUE(sys->Emitting());
    EXPECT_EQ(w.marks, (std::vector<std::string>{"FX:GO"}));
    fx->Process();
    fx->Process();
    ASSERT_GT(sys->LiveCount(), 0);

    // AnimStop: emission ends, the particles live on.
    const int live = sys->LiveCount();
    fx->Stop();
    EXPECT_FALSE(fx->Active());
    EXPECT_FALSE(sys->Emitting());
    EXPECT_EQ(sys->LiveCount(), live);
    fx->Process();
    EXPECT_EQ(sys->LiveCount(), live);

    // AnimBreak: the particles go at once.
    fx->Start();
    fx->Process();
    ASSERT_GT(sys->LiveCount(), 0);
    fx->Break();
    EXPECT_FALSE(fx->Active());
    EXPECT_FALSE(sys->Emitting());
    EXPECT_EQ(sys->LiveCount(), 0);

    // An emission time of 0: never emits, off in its first tick.
    EffectWorld w0;
    TNBEffect* idle = w0.Effect(Kind(30, 0.0f));
    ASSERT_NE(idle->System(), nullptr);
    EXPECT_TRUE(idle->Active());
    EXPECT_FALSE(idle->System()->Emitting());
    idle->Process();
    EXPECT_FALSE(idle->Active());
    EXPECT_EQ(idle->System()->LiveCount(), 0);
}

TEST(SceneEffect, TheEmitterMovesWithTheElement) {
    EffectWorld w;
    TNBEffect* fx = w.Effect(Kind(3000), 100, 50);
    TParticleSystem* sys = fx->System();
    ASSERT_NE(sys, nullptr);
    fx->Process();
    ASSERT_EQ(sys->LiveCount(), 100);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(sys->Particle(i).x, 100);

    // Writing X of an active effect: the next tick's particles spread along
    // the path from the old place to the new one.
    KindsWorld::SetI(fx, "X", 400);
    fx->Process();
    ASSERT_EQ(sys->LiveCount(), 200);
    float lo = 1e9f, hi = -1e9f;
    for (int i = 100; i < 200; ++i) {
        lo = std::min(lo, sys->Particle(i).x);
        hi = std::max(hi, sys->Particle(i).x);
        EXPECT_EQ(sys->Particle(i).y, 50);
    }
    EXPECT_GE(lo, 100);
    EXPECT_LE(hi, 400);
    EXPECT_LT(lo, 175);
    EXPECT_GT(hi, 325);

    // MoveTo restarts the emission at the new place: no trail.
    fx->SetPos(700, 300);
    EXPECT_EQ(sys->EmissionClock(), 0);
    EXPECT_EQ(fx->X(), 700);
    fx->Process();
    ASSERT_EQ(sys->LiveCount(), 300);
    for (int i = 200; i < 300; ++i) {
        ASSERT_EQ(sys->Particle(i).x, 700);
        ASSERT_EQ(sys->Particle(i).y, 300);
    }

    // Inactive: MoveTo only moves the emitter.
    fx->Stop();
    fx->SetPos(10, 20);
    EXPECT_FALSE(sys->Emitting());
    EXPECT_EQ(sys->PosX(), 10);
    EXPECT_EQ(sys->PosY(), 20);
}

TEST(SceneEffect, RenderDrawsOnItsLayerWithTheColourMask) {
    EffectWorld w;
    TNBEffect* fx = w.Effect(Kind(60), 100, 50);
    KindsWorld::SetI(fx, "Order", 2);
    KindsWorld::SetI(fx, "hxColor", 0x00FF00);
    fx->Process();
    fx->Process();
    ASSERT_EQ(fx->System()->LiveCount(), 4);

    auto on = [&](int layer) {
        return w.Frame([&] { fx->Render(layer, 0xFFFFFFFFu, 10.5, 21.5, 0); });
    };
    EXPECT_TRUE(on(1).empty());
    auto quads = on(2);
    ASSERT_EQ(quads.size(), 4u);
    for (const Quad& q : quads) {
        // Offsets rounded half to even (10.5 -> 10, 21.5 -> 22); the effect's
        // own X and Y are already in the emitter position.
        EXPECT_NEAR((q.Left() + q.Right()) / 2, 110, 1e-3);
        EXPECT_NEAR((q.Top() + q.Bottom()) / 2, 72, 1e-3);
        EXPECT_NEAR(q.Right() - q.Left(), 8, 1e-3);
        EXPECT_EQ(q.color[0], 0x8000FF00u);  // hxColor keeps green, alpha stays
        EXPECT_EQ(q.effect & ~(1u << 28), 1284u);
        EXPECT_TRUE(q.filtered);
        EXPECT_NE(q.texture, 0u);
    }

    // The picture entry's image is replaced when pictures are reloaded; the
    // effect draws with the new one, never the freed one.
    w.registry.ReloadAll();
    w.registry.LoadImage("particles.bmp", true);
    quads = on(2);
    ASSERT_EQ(quads.size(), 4u);
    EXPECT_EQ(fx->System()->Texture(), w.root->ParticleImage()->image);
}

}  // namespace
}  // namespace nb::kinds_test
