// The engine functions through real scripts on a real scene: argument rules
// and failures, the screen-change protocols with their counters and
// releases, the random generator, settings, files and element order.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "archive/ResArchive.h"
#include "media/UnitNBIm.h"
#include "platform/FileSystem.h"
#include "platform/Graphics.h"
#include "platform/Png.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"
#include "scene/Anim.h"
#include "scene/Effect.h"
#include "scene/UnitNBDB.h"
#include "scriptlib/Builtins.h"
#include "tools/GameFile.h"

using namespace nb;

namespace {

class EngineFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        char t[] = "/tmp/nb-engine-XXXXXX";
        dir = std::string(::mkdtemp(t)) + "/";
        gfx = CreateNullGraphics();
        device = std::make_unique<TRenderDevice>(gfx.get());
        ASSERT_TRUE(device->Initialize());
        images = std::make_unique<TRenderImages>(device.get());
        registry = std::make_unique<TImageRegistry>(*images, archive, ctx.imageLoad);
        ctx.device = device.get();
        ctx.images = images.get();
        ctx.imageRegistry = registry.get();
        ctx.archive = &archive;
        RegisterBuiltinsInPool(ctx);
    }
    void TearDown() override {
        ctx.FreeRoot();
        (void)std::system(("rm -rf '" + dir + "'").c_str());
    }

    void picture(const std::string& name) {
        std::vector<uint32_t> px(16 * 8, 0xFF336699u);
        ASSERT_TRUE(WritePng(dir + name, 16, 8, px));
    }

    // Loads a game from nodes and runs the root's Init as the shell does.
    void load(const GameNode& game) {
        std::vector<uint8_t> bytes = WriteGame(game);
        ASSERT_TRUE(fs::writeFile(dir + "g.nbf", bytes.data(), bytes.size()));
        TNBDB& root = ctx.CreateRoot();
        root.WireServices();
        ctx.imageLoad.ready = false;
        ASSERT_TRUE(root.LoadGame(dir + "g.nbf"));
        ctx.imageLoad.ready = true;
        ctx.ui.currentScreen = TNBElement::FindByKey(&root, root.InitScreen());
        root.Init();
    }

    // Runs a script as a hook of the root; answers its variables.
    const TVarList& run(const std::string& src) {
        TNBDB* root = ctx.Root();
        root->SetHook(THook::Update, src);
        root->Update();
        return ctx.Engine(1)->Vars();
    }
    TScriptValue var(const std::string& src, const char* name) {
        const TVar* v = run(src).Find(name);
        return v ? v->value : TScriptValue::string("<missing>");
    }
    std::string log() {
        auto t = fs::readFileString(dir + "nimbel.err");
        return t ? *t : std::string();
    }
    TNBElement* byKey(int32_t key) { return TNBElement::FindByKey(ctx.Root(), key); }

    std::string dir;
    TSceneContext ctx;
    std::unique_ptr<GraphicsBackend> gfx;
    std::unique_ptr<TRenderDevice> device;
    std::unique_ptr<TRenderImages> images;
    TResArchive archive;
    std::unique_ptr<TImageRegistry> registry;
};

GameNode screen(int key, const char* id) { return GameNode("TNBScreen").set("Key", key).set("Id", id); }
GameNode image(int key, const char* id, const char* pic) {
    return GameNode("TNBImage").set("Key", key).set("Id", id).set("imImage", pic);
}

}  // namespace

TEST_F(EngineFunctions, RandomFollowsTheSharedGenerator) {
    load(GameNode("TNBDB").set("Key", 1));
    ctx.randomSeed = 12345;
    uint32_t seed = 12345;
    auto next = [&](uint32_t n) {
        seed = seed * 134775813u + 1u;
        return int32_t(uint32_t((uint64_t(seed) * n) >> 32));
    };
    const TVarList& v = run("a := Random(100); b := Random(1000); c := Random(1); d := Random(0);");
    EXPECT_EQ(v.Find("A")->value.toInt32(), next(100));
    EXPECT_EQ(v.Find("B")->value.toInt32(), next(1000));
    EXPECT_EQ(v.Find("C")->value.toInt32(), 0);
    EXPECT_EQ(v.Find("D")->value.toInt32(), 0);
    next(1);
    next(0);
    EXPECT_EQ(ctx.randomSeed, seed);  // every draw advanced the seed once
    run("x := Random();");
    EXPECT_NE(log().find("Invalid parameters, function RANDOM"), std::string::npos) << log();
}

TEST_F(EngineFunctions, FailuresStopTheScriptWithTheFunctionName) {
    load(GameNode("TNBDB").set("Key", 1));
    run("a := 1; GetIni('Def', 'Snd', '5'); a := 2;");
    EXPECT_EQ(ctx.Engine(1)->Vars().Find("A")->value.toInt32(), 1);
    EXPECT_NE(log().find("Invalid parameters, function GETINI"), std::string::npos);
    run("StopMuz;");
    EXPECT_NE(log().find("Invalid parameters, function STOPMUZ"), std::string::npos);
    run("PlaySnd;");
    EXPECT_NE(log().find("Invalid parameters, function PLAYSND"), std::string::npos);
    run("PlayMuz('Music.A', 'x');");
    EXPECT_NE(log().find("Invalid parameters, function PLAYMUZ"), std::string::npos);
    run("t := GetText();");
    EXPECT_NE(log().find("Invalid parameters, function GETTEXT"), std::string::npos);
    // Without a sound table the name is empty and nothing plays; no failure.
    EXPECT_EQ(var("PlaySnd('Menu.Click'); PlayMuz('Music.A'); TimerReset; ok := 2;", "OK").toInt32(), 2);
    // Functions that never fail ignore unusable arguments; MoveTo and the
    // other byte-0 functions still answer 0.
    TScriptValue r = var("r := MoveTo(5, 1, 2);", "R");
    EXPECT_EQ(r.kind(), ValueKind::UInt8);
    EXPECT_EQ(r.toInt32(), 0);
    EXPECT_TRUE(var("StopMuz(0); AnimStop(NBDB); ListAdd(1, 2); ok := 1;", "OK").toInt32() == 1);
    EXPECT_EQ(var("t := GetText('Nowhere.Key');", "T").toString(), "");
    // GetAlpha with two arguments sets no result and does not fail.
    EXPECT_EQ(var("g := GetAlpha(NBDB, 1);", "G").kind(), ValueKind::Empty);
}

TEST_F(EngineFunctions, SettingsFilesAndExit) {
    std::string outside = dir + "../nb-engine-outside.txt";
    ASSERT_TRUE(fs::writeFile(outside, "x", 1));
    ASSERT_TRUE(fs::writeFile(dir + "victim.txt", "x", 1));
    load(GameNode("TNBDB").set("Key", 1).set("IniFile", "game.ini"));
    EXPECT_EQ(var("r := SetIni('Sec', 'Key', 'v1'); g := GetIni('SEC', 'key', 'd');", "G").toString(), "v1");
    EXPECT_EQ(*fs::readFileString(dir + "game.ini"), "[Sec]\r\nKey=v1\r\n");
    EXPECT_EQ(var("g := GetIni('Sec', 'Other', 'dflt');", "G").toString(), "dflt");
    // A settings file that cannot be written: SetIni fails and the value it
    // tried to write is not read back either.
    ASSERT_TRUE(fs::writeFile(dir + "blocker", "x", 1));
    ctx.Root()->WritePropByName("IniFile", TPropValue::Str("blocker\\game.ini"));
    ASSERT_NE(ctx.Root()->Settings(), nullptr);
    run("SetIni('Def', 'Snd', '7');");
    EXPECT_NE(log().find("Invalid parameters, function SETINI"), std::string::npos) << log();
    EXPECT_EQ(var("g := GetIni('Def', 'Snd', 'none');", "G").toString(), "none");
    ctx.Root()->WritePropByName("IniFile", TPropValue::Str("game.ini"));
    // DelFile works inside the game folder only.
    run("DelFile('victim.txt');");
    EXPECT_FALSE(fs::fileExists(dir + "victim.txt"));
    run("DelFile('../nb-engine-outside.txt');");
    EXPECT_TRUE(fs::fileExists(outside));
    EXPECT_NE(log().find("Invalid parameters, function DELFILE"), std::string::npos);
    std::string abs = "DelFile('" + outside + "');";
    run(abs);
    EXPECT_TRUE(fs::fileExists(outside));
    run("DelFile('missing.txt'); fine := 1;");
    EXPECT_EQ(ctx.Engine(1)->Vars().Find("FINE")->value.toInt32(), 1);
    // An empty name names no file: byte 0, the game folder stays.
    TScriptValue none = var("d := DelFile('');", "D");
    EXPECT_EQ(none.kind(), ValueKind::UInt8);
    EXPECT_TRUE(fs::fileExists(dir + "game.ini"));
    ::unlink(outside.c_str());
    EXPECT_FALSE(ctx.ui.exitRequested);
    run("ExitGame;");
    EXPECT_TRUE(ctx.ui.exitRequested);
}

TEST_F(EngineFunctions, ToFrontListsAndFocus) {
    load(GameNode("TNBDB").set("Key", 1).set("InitScreen", 2).add(
        screen(2, "S")
            .add(image(3, "A", ""))
            .add(image(4, "B", ""))
            .add(image(5, "C", ""))
            .add(GameNode("TNBImList").set("Key", 6).set("Id", "L"))
            .add(GameNode("TNBText").set("Key", 7).set("Id", "T"))));
    TNBElement* s = byKey(2);
    run("ToFront(NBDB.S.A); ToFront(NBDB);");
    ASSERT_EQ(s->ChildCount(), 5u);
    EXPECT_EQ(s->Child(0)->Id(), "B");
    EXPECT_EQ(s->Child(2)->Id(), "L");
    EXPECT_EQ(s->Child(4)->Id(), "A");
    run("ListAdd(NBDB.S.L, NBDB.S.B); ListAdd(NBDB.S.L, NBDB.S.C); ListAdd(NBDB.S.L, NBDB.S.B); ListAdd(NBDB.S.L, NBDB.S.T);");
    EXPECT_EQ(var("e := NBDB.S.L.ELEMENTS;", "E").toString(), "4;5;4;");
    run("ListDel(NBDB.S.L, 'b'); ListDel(NBDB.S.L, 'B');");
    EXPECT_EQ(var("e := NBDB.S.L.ELEMENTS;", "E").toString(), "5;4;");
    run("ListDel(NBDB.S.L, NBDB.S.B);");
    EXPECT_EQ(var("e := NBDB.S.L.ELEMENTS;", "E").toString(), "5;");
    // An image without a picture answers byte 0 before its coordinates are read.
    TScriptValue alpha = var("g := GetAlpha(NBDB.S.A, 'x', 'y');", "G");
    EXPECT_EQ(alpha.kind(), ValueKind::UInt8);
    EXPECT_EQ(alpha.toInt32(), 0);
    run("SetFocus(NBDB.S.A);");
    EXPECT_EQ(ctx.ui.typingTarget, nullptr);
    run("SetFocus(NBDB.S.T);");
    EXPECT_EQ(ctx.ui.typingTarget, byKey(7));
}

TEST_F(EngineFunctions, SetScreenCountsLoadsAndReleases) {
    for (const char* p : {"a1.png", "b1.png", "b2.png", "c1.png", "d1.png", "e1.png"}) picture(p);
    load(GameNode("TNBDB").set("Key", 1).set("InitScreen", 2).set("LoadingScreen", 9)
             .add(screen(2, "S1").add(image(21, "I", "a1.png")))
             .add(screen(3, "S2").add(image(31, "I", "b1.png")).add(image(32, "J", "b2.png")))
             .add(screen(4, "S3").set("AllwaysLoad", true).add(image(41, "I", "c1.png")))
             .add(screen(5, "S4").add(image(51, "I", "d1.png")))
             .add(screen(6, "S5").add(image(61, "I", "e1.png")))
             .add(screen(9, "Loading").set("exInit", "Inited := 1;")));
    ctx.ui.currentScreen->LoadImages();
    ASSERT_NE(registry->Find("a1.png"), nullptr);
    ASSERT_NE(registry->Find("a1.png")->image, nullptr);

    // A string or a non-screen does nothing.
    run("SetScreen('S2'); SetScreen(NBDB.S1.I);");
    EXPECT_FALSE(ctx.imageLoad.loading);

    // Further screens are marked too; a further value that is not an
    // element is skipped.
    run("SetScreen(NBDB.S2, 'S4', NBDB.S5);");
    EXPECT_TRUE(ctx.imageLoad.loading);
    EXPECT_TRUE(ctx.imageLoad.ready);
    EXPECT_EQ(ctx.ui.pendingScreen, byKey(3));
    EXPECT_EQ(ctx.imageLoad.forLoadCount, 3);  // S2's two pictures and S5's, counted not loaded
    EXPECT_EQ(registry->Find("e1.png")->image, nullptr);
    EXPECT_EQ(registry->Find("b1.png")->image, nullptr);
    EXPECT_NE(registry->Find("c1.png")->image, nullptr);  // always-loaded: loaded at once
    TScriptValue inited;
    ASSERT_TRUE(byKey(9)->GetValue("INITED", inited));  // the loading screen's Init ran

    run("LoadIm;");
    EXPECT_EQ(ctx.ui.currentScreen, byKey(3));
    EXPECT_NE(registry->Find("b1.png")->image, nullptr);
    EXPECT_NE(registry->Find("b2.png")->image, nullptr);
    EXPECT_NE(registry->Find("c1.png")->image, nullptr);
    EXPECT_NE(registry->Find("e1.png")->image, nullptr);
    EXPECT_EQ(registry->Find("d1.png")->image, nullptr);
    EXPECT_EQ(registry->Find("a1.png")->image, nullptr);  // no marked screen uses it: released
    EXPECT_TRUE(ctx.imageLoad.loading);
    run("EndLoadIm;");
    EXPECT_FALSE(ctx.imageLoad.loading);

    // FastSetScreen switches at once: nothing released, counters untouched.
    int32_t count = ctx.imageLoad.forLoadCount;
    run("FastSetScreen(NBDB.S4);");
    EXPECT_EQ(ctx.ui.currentScreen, byKey(5));
    EXPECT_NE(registry->Find("d1.png")->image, nullptr);
    EXPECT_NE(registry->Find("b1.png")->image, nullptr);
    EXPECT_EQ(ctx.imageLoad.forLoadCount, count);
    EXPECT_FALSE(ctx.imageLoad.loading);

    // The next change forgets the earlier marks: S5 (marked last time) and
    // S4 (shown without loading) are released, S2 and S3 stay.
    run("SetScreen(NBDB.S2); LoadIm; EndLoadIm;");
    EXPECT_EQ(ctx.ui.currentScreen, byKey(3));
    EXPECT_EQ(registry->Find("e1.png")->image, nullptr);
    EXPECT_EQ(registry->Find("d1.png")->image, nullptr);
    EXPECT_NE(registry->Find("b1.png")->image, nullptr);
    EXPECT_NE(registry->Find("c1.png")->image, nullptr);
}

TEST_F(EngineFunctions, AnimationsEffectsAndHookRunners) {
    load(GameNode("TNBDB").set("Key", 1).set("InitScreen", 2)
             .set("exInit", "Started := 0; Hooks := '';")
             .add(screen(2, "S")
                      .set("exShow", "NBDB.Hooks := NBDB.Hooks + 'show,';")
                      .set("exInit", "NBDB.Hooks := NBDB.Hooks + 'init,';")
                      .set("exUpdate", "NBDB.Hooks := NBDB.Hooks + 'update,';")
                      .set("exProcess", "NBDB.Hooks := NBDB.Hooks + 'process,';")
                      .add(GameNode("TNBShape").set("Key", 3).set("Id", "Btn")
                               .set("exMouseDown", "NBDB.Hooks := NBDB.Hooks + 'down,';")
                               .set("exMouseMove", "NBDB.Hooks := NBDB.Hooks + 'move,';"))
                      .add(GameNode("TNBEffect").set("Key", 4).set("Id", "Fx")
                               .set("exStart", "NBDB.Started := NBDB.Started + 10;")))
             .add(GameNode("TNBAnim").set("Key", 5).set("Id", "Anim").set("Vis", false)
                      .set("exStart", "NBDB.Started := NBDB.Started + 1;")
                      .add(GameNode("TNBAnKey").set("Key", 51).set("Id", "K1").set("Count", 1))
                      .add(GameNode("TNBAnKey").set("Key", 52).set("Id", "K2").set("Count", 1))));
    auto value = [&](int32_t key, const char* name) {
        TScriptValue v;
        return byKey(key)->GetValue(name, v) ? v : TScriptValue::string("<unhandled>");
    };
    run("AnimStart(NBDB.Anim);");
    EXPECT_EQ(value(5, "ACTIVE").toInt32(), 1);
    EXPECT_TRUE(byKey(5)->Vis());
    EXPECT_EQ(value(1, "STARTED").toInt32(), 1);
    run("AnimStop(NBDB.Anim); AnimBreak(NBDB.Anim);");  // animations ignore both
    EXPECT_EQ(value(5, "ACTIVE").toInt32(), 1);
    byKey(5)->WritePropByName("Active", TPropValue::Int(0));
    run("AnimPlay(NBDB.Anim);");  // resumes without its start hook
    EXPECT_EQ(value(5, "ACTIVE").toInt32(), 1);
    EXPECT_EQ(value(1, "STARTED").toInt32(), 1);
    // Four frames: standing on the last one AnimPlay starts over, in the
    // middle it goes on from there.
    ASSERT_EQ(static_cast<TNBAnim*>(byKey(5))->FrameCount(), 4);
    EXPECT_EQ(var("NBDB.Anim.Pos := 3; AnimPlay(NBDB.Anim); p := NBDB.Anim.Pos;", "P").toInt32(), 0);
    EXPECT_EQ(var("NBDB.Anim.Pos := 2; AnimPlay(NBDB.Anim); p := NBDB.Anim.Pos;", "P").toInt32(), 2);
    EXPECT_EQ(var("NBDB.Anim.Pos := 1; AnimStart(NBDB.Anim); p := NBDB.Anim.Pos;", "P").toInt32(), 0);
    EXPECT_EQ(value(1, "STARTED").toInt32(), 2);

    run("AnimStart(NBDB.S.Fx);");
    EXPECT_EQ(value(4, "ACTIVE").toInt32(), 1);
    EXPECT_EQ(value(1, "STARTED").toInt32(), 12);
    run("AnimStop(NBDB.S.Fx);");
    EXPECT_EQ(value(4, "ACTIVE").toInt32(), 0);
    run("AnimStart(NBDB.S.Fx); AnimBreak(NBDB.S.Fx);");
    EXPECT_EQ(value(4, "ACTIVE").toInt32(), 0);

    TScriptValue reset = TScriptValue::string("");
    ASSERT_TRUE(byKey(1)->SetValue("HOOKS", reset));
    run("Show(NBDB.S); Init(NBDB.S); Update(NBDB.S); Process(NBDB.S); MsDown(NBDB.S.Btn); MsMove(NBDB.S.Btn);"
        "Show(5); Process('S');");  // values that are not element references are ignored
    EXPECT_EQ(value(1, "HOOKS").toString(), "show,init,update,process,down,move,");
}

TEST_F(EngineFunctions, SaveStateAndLoadStateThroughScripts) {
    load(GameNode("TNBDB").set("Key", 1).set("InitScreen", 2).set("FileRS", "save.dat")
             .add(screen(2, "S").set("exInit", "Score := 5;")
                      .add(GameNode("TNBShape").set("Key", 3).set("Id", "Box").set("rX", 10.0))));
    run("NBDB.S.Box.rX := 42.5; NBDB.S.Score := 7; SaveState;");
    ASSERT_TRUE(fs::fileExists(dir + "save.dat"));
    run("NBDB.S.Box.rX := 1; NBDB.S.Score := 0; LoadState;");
    EXPECT_EQ(byKey(3)->RX(), 42.5);
    TScriptValue score;
    ASSERT_TRUE(byKey(2)->GetValue("SCORE", score));
    EXPECT_EQ(score.toInt32(), 7);
    EXPECT_TRUE(ctx.imageLoad.ready);  // ready is set again after loading
}

// ProcEf advances an effect's particle system by t / Speed * DAnim seconds:
// 15 ticks at DAnim 2 is one second of a 10-per-second emitter; DAnim 0
// advances nothing; other kinds are left alone.
TEST_F(EngineFunctions, ProcEfAdvancesTheEffectByTicksOverSpeedTimesDAnim) {
    TRenderCanvas canvas(device.get());
    ctx.canvas = &canvas;
    TParticleParams p;
    p.emissionRate = 10;
    p.emissionTime = 100;
    p.life1 = p.life2 = 100;
    p.midLife = 0.5f;
    p.sizeBirth = p.sizeMid = p.sizeDeath = 1;
    p.colorBirth = p.colorMid = p.colorDeath = 0xFFFFFFFFu;
    const auto bytes = p.ToBytes();
    ASSERT_TRUE(fs::writeFile(dir + "spark.fx", bytes.data(), bytes.size()));
    load(GameNode("TNBDB").set("Key", 1).set("InitScreen", 2)
             .add(screen(2, "S")
                      .add(GameNode("TNBEffect").set("Key", 5).set("Id", "FX").set("EffectFN", "spark.fx")
                               .set("DAnim", 2.0).set("Active", true))
                      .add(image(6, "Pic", "pic.png"))));
    auto* fx = static_cast<TNBEffect*>(byKey(5));
    ASSERT_TRUE(fx && fx->System());
    ASSERT_EQ(fx->System()->LiveCount(), 0);
    run("ProcEf(NBDB.S.FX, 15);");
    EXPECT_EQ(fx->System()->LiveCount(), 10);
    run("ProcEf(NBDB.S.FX, 7.5);");
    EXPECT_EQ(fx->System()->LiveCount(), 15);
    run("NBDB.S.FX.DAnim := 0; ProcEf(NBDB.S.FX, 30); ProcEf(NBDB.S.Pic, 30);");
    EXPECT_EQ(fx->System()->LiveCount(), 15);
    EXPECT_EQ(log(), "");
    ctx.FreeRoot();
    ctx.canvas = nullptr;
}
