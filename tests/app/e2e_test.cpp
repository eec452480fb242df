// End-to-end: the real player binary, headless, on small games written with
// the nbtool library; observations through the files the game writes
// (settings INI via SetIni, the error log) and screenshots.
#include <gtest/gtest.h>

#include "TestGame.h"
#include "app/CommandLine.h"
#include "media/Decoders.h"
#include "particles/ParticleSystems.h"
#include "platform/Bitmap.h"
#include "platform/ByteIO.h"
#include "platform/Png.h"
#include "tests/media/PictureFiles.h"

using nb::GameNode;
using nbtest::RunPlayer;
using nbtest::TempDir;

namespace {

// Player arguments that keep the run isolated from the user's configuration.
std::string env(const TempDir& dir) { return "XDG_CONFIG_HOME='" + dir.path() + "' "; }

int run(const TempDir& dir, const std::string& args) {
    std::string cmd = "cd '" + dir.path() + "' && " + env(dir) + std::string(NB_BINARY_DIR) +
                      "/nbplayer " + args + " >'" + dir.path() + "player.log' 2>&1";
    int rc = std::system(cmd.c_str());
    if (rc == -1 || !WIFEXITED(rc)) return -1;
    return WEXITSTATUS(rc);
}

bool loadPng(const std::string& path, nb::Bitmap& bmp) {
    auto bytes = nb::fs::readFile(path);
    return bytes && nb::DecodePng(bytes->data(), bytes->size(), bmp);
}

bool drawingDisabled(const TempDir& dir) {
    return dir.read("player.log").find("drawing disabled") != std::string::npos;
}

// A game: root with settings INI "s.ini", one screen (Key 2) with the given
// hooks, children added by the caller.
GameNode baseGame(GameNode screen) {
    return GameNode("TNBDB")
        .set("Key", 1)
        .set("Id", "Test Game")
        .set("InitScreen", 2)
        .set("IniFile", "s.ini")
        .add(std::move(screen.set("Key", 2).set("Id", "Main")));
}

}  // namespace

TEST(PlayerCommandLine, HelpVersionAndUnknownOptions) {
    TempDir dir;
    EXPECT_EQ(run(dir, "--help"), 0);
    std::string help = dir.read("player.log");
    for (const char* opt : {"--headless", "--fast", "--max-ticks", "--seed", "--input", "--screenshot", "--windowed"})
        EXPECT_NE(help.find(opt), std::string::npos) << opt;
    EXPECT_EQ(run(dir, "--version"), 0);
    EXPECT_EQ(run(dir, "--no-such-option"), 2);
    std::string err = dir.read("player.log");
    EXPECT_NE(err.find("--no-such-option"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(run(dir, "--max-ticks abc"), 2);
    EXPECT_EQ(run(dir, "--screenshot ''"), 2);
    EXPECT_EQ(run(dir, "--screenshot 5:"), 2);
    EXPECT_EQ(run(dir, "--screenshot"), 2);
    EXPECT_EQ(run(dir, "--headless --fast --max-ticks 1 missing.nbf"), 2);
    EXPECT_NE(dir.read("player.log").find("'missing.nbf' not found"), std::string::npos) << dir.read("player.log");
    ASSERT_TRUE(dir.write("bad.txt", "5 click 1 2\n"));
    EXPECT_EQ(run(dir, "--headless --fast --max-ticks 1 --input bad.txt"), 2);
    EXPECT_NE(dir.read("player.log").find("line 1"), std::string::npos) << dir.read("player.log");

    // A bare file is the frame at the end of the run; TICK:FILE the frame
    // after that tick; text before a colon that is no tick is part of the name.
    nb::PlayerOptions o;
    std::string error;
    const char* argv[] = {"nbplayer", "--screenshot", "end.png", "--screenshot=12:a.png", "--screenshot", "x:b.png"};
    ASSERT_TRUE(nb::ParseCommandLine(6, argv, o, error)) << error;
    ASSERT_EQ(o.screenshots.size(), 3u);
    EXPECT_EQ(o.screenshots[0].tick, nb::ScreenshotRequest::kAtEnd);
    EXPECT_EQ(o.screenshots[0].path, "end.png");
    EXPECT_EQ(o.screenshots[1].tick, 12);
    EXPECT_EQ(o.screenshots[1].path, "a.png");
    EXPECT_EQ(o.screenshots[2].tick, nb::ScreenshotRequest::kAtEnd);
    EXPECT_EQ(o.screenshots[2].path, "x:b.png");

    // Switches take no value: "--fast=0" must not quietly mean --fast.
    for (const char* sw : {"--fast=0", "--headless=no", "--windowed=false", "--help=x"}) {
        const char* args[] = {"nbplayer", sw};
        EXPECT_FALSE(nb::ParseCommandLine(2, args, o, error)) << sw;
        EXPECT_NE(error.find("takes no value"), std::string::npos) << error;
    }
    const char* valued[] = {"nbplayer", "--max-ticks=7", "--seed=3", "--fast"};
    ASSERT_TRUE(nb::ParseCommandLine(4, valued, o, error)) << error;
    EXPECT_EQ(o.maxTicks, 7);
    EXPECT_EQ(o.seed, 3u);
    EXPECT_TRUE(o.fast);
}

TEST(PlayerEndToEnd, NoGameRunsTheLogoPhaseAndDrawsBlack) {
    TempDir dir;
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 150 --screenshot 120:out.png"), 0);
    nb::Bitmap shot;
    ASSERT_TRUE(loadPng(dir.file("out.png"), shot));
    ASSERT_EQ(shot.width, 1024);
    ASSERT_EQ(shot.height, 768);
    for (int y = 0; y < 768; y += 7)
        for (int x = 0; x < 1024; x += 7) ASSERT_EQ(shot.argb(x, y) & 0xFFFFFFu, 0u) << x << "," << y;
}

TEST(PlayerEndToEnd, HooksRunAtTheirTicksAndExitHookRunsOnClose) {
    TempDir dir;
    GameNode game = baseGame(GameNode("TNBScreen")
                                 .set("exInit", "SetIni('T', 'screenInit', 'yes');")
                                 .set("exShow", "SetIni('T', 'show', 'yes');"));
    game.set("exInit", "SetIni('T', 'rootInit', 'yes');").set("exExit", "SetIni('T', 'exit', 'yes');");
    ASSERT_TRUE(dir.writeGame("g.nbf", game));

    // Tick 18: nothing initialised yet (no logos: Init runs on tick 19).
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 18 g.nbf"), 0);
    std::string ini = dir.read("s.ini");
    EXPECT_EQ(ini.find("rootInit"), std::string::npos) << ini;
    EXPECT_NE(ini.find("exit=yes"), std::string::npos) << ini;

    dir.write("s.ini", "");
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 101 g.nbf"), 0);
    ini = dir.read("s.ini");
    EXPECT_NE(ini.find("rootInit=yes"), std::string::npos) << ini;
    EXPECT_NE(ini.find("screenInit=yes"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("show=yes"), std::string::npos) << "Show runs on tick 102: " << ini;

    dir.write("s.ini", "");
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 102 g.nbf"), 0);
    EXPECT_NE(dir.read("s.ini").find("show=yes"), std::string::npos);
}

TEST(PlayerEndToEnd, ScriptErrorsAreLoggedWithElementAndHook) {
    TempDir dir;
    ASSERT_TRUE(dir.writeGame("g.nbf", baseGame(GameNode("TNBScreen").set("exShow", "x := zzz"))));
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 110 g.nbf"), 0);
    EXPECT_EQ(dir.read("nimbel.err"), "Variable not found: ZZZ (ZZZ  in Main <TNBScreen>) Show\r\n");
}

TEST(PlayerEndToEnd, ExitGameClosesAndRunsTheExitHook) {
    TempDir dir;
    GameNode game = baseGame(GameNode("TNBScreen").set("exProcess", "ExitGame;"));
    game.set("exExit", "SetIni('T', 'exit', 'yes');");
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 100000 g.nbf"), 0);
    EXPECT_NE(dir.read("s.ini").find("exit=yes"), std::string::npos);
}

TEST(PlayerEndToEnd, ShapesDrawWithExactColoursAndClicksReachThem) {
    TempDir dir;
    GameNode screen("TNBScreen");
    screen.add(GameNode("TNBShape")
                   .set("Key", 3)
                   .set("Id", "Red")
                   .set("rX", 10.0)
                   .set("rY", 20.0)
                   .set("SizeX", 100)
                   .set("SizeY", 50)
                   .set("hxColor", 0xFF0000u)
                   .set("hxDrawFx", 1)
                   .set("exMouseDown", "SetIni('T', 'down', X);"));
    screen.add(GameNode("TNBShape")
                   .set("Key", 4)
                   .set("Id", "Blend")
                   .set("rX", 200.0)
                   .set("rY", 200.0)
                   .set("SizeX", 40)
                   .set("SizeY", 40)
                   .set("hxColor", 0x0000FFu)
                   .set("hxTrans", 128));
    ASSERT_TRUE(dir.writeGame("g.nbf", baseGame(std::move(screen))));
    dir.write("input.txt", "# press inside the red shape\n105 down 50 40\n106 up 50 40\n");
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 110 --input input.txt --screenshot 103:shot.png "
                       "--screenshot end.png g.nbf"),
              0);
    EXPECT_NE(dir.read("s.ini").find("down=10"), std::string::npos) << dir.read("s.ini");
    // A tick the run never reaches: no picture, a message and status 1.
    EXPECT_EQ(run(dir, "--headless --fast --max-ticks 5 --screenshot 6:late.png g.nbf"), 1);
    EXPECT_FALSE(nb::fs::fileExists(dir.file("late.png")));
    EXPECT_NE(dir.read("player.log").find("late.png"), std::string::npos) << dir.read("player.log");
    nb::Bitmap end;
    ASSERT_TRUE(loadPng(dir.file("end.png"), end));
    if (drawingDisabled(dir)) GTEST_SKIP() << "no OpenGL context here: " << dir.read("player.log");
    EXPECT_EQ(end.argb(50, 40) & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(end.argb(5, 5) & 0xFFFFFFu, 0u);
    nb::Bitmap shot;
    ASSERT_TRUE(loadPng(dir.file("shot.png"), shot));
    EXPECT_EQ(shot.argb(10, 20) & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(shot.argb(109, 69) & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(shot.argb(110, 70) & 0xFFFFFFu, 0u);
    EXPECT_EQ(shot.argb(9, 20) & 0xFFFFFFu, 0u);
    uint32_t blend = shot.argb(220, 220) & 0xFFFFFFu;  // 128/255 of blue over black
    EXPECT_EQ(blend >> 16, 0u);
    EXPECT_NEAR(double(blend & 0xFF), 128.0, 1.0);
}

// An animation and a particle effect read from a game file, through the
// real player and the GL path: AnimStart from a press plays the baked frames
// one per tick (the part slides 90 pixels over ten frames and stays), its
// step and end hooks run, and the effect's particles are drawn around the
// emitter.
TEST(PlayerEndToEnd, AnimationsPlayAndEffectsDrawFromTheGameFile) {
    TempDir dir;
    ASSERT_TRUE(nb::WritePng(dir.file("dot.png"), 10, 10, std::vector<uint32_t>(100, 0xFFFFFFFFu)));
    {
        // The shared particle picture: an 8 x 8 white 24-bit bitmap.
        nb::ByteWriter bmp;
        bmp.bytes("BM", 2);
        for (uint32_t v : {54u + 8 * 24, 0u, 54u, 40u, 8u, 8u}) bmp.u32(v);
        bmp.u16(1);
        bmp.u16(24);
        for (int i = 0; i < 6; ++i) bmp.u32(0);
        for (int i = 0; i < 8 * 24; ++i) bmp.u8(0xFF);
        ASSERT_TRUE(nb::fs::writeFile(dir.file("particles.bmp"), bmp.buffer().data(), bmp.size()));
    }
    nb::TParticleParams p;
    p.emissionRate = 200;
    p.emissionTime = 100;
    p.life1 = p.life2 = 100;
    p.midLife = 0.5f;
    p.sizeBirth = p.sizeMid = p.sizeDeath = 1;
    p.colorBirth = p.colorMid = p.colorDeath = 0xFFFFFFFFu;
    p.drawFx = 1284;
    const auto fx = p.ToBytes();
    ASSERT_TRUE(nb::fs::writeFile(dir.file("spark.fx"), fx.data(), fx.size()));

    auto key = [](int k, int count, double x) {
        return GameNode("TNBAnKey").set("Key", k).set("Count", count)
            .add(GameNode("TNBImage").set("Key", k + 1).set("Id", "Dot").set("imImage", "dot.png").set("rX", x));
    };
    GameNode screen("TNBScreen");
    screen.add(GameNode("TNBAnim").set("Key", 10).set("Id", "Walk").set("X", 100).set("Y", 100)
                   .set("ShowAn", true)
                   .set("exAnim", "SetIni('A', 'last', Pos);")
                   .set("exStop", "SetIni('A', 'stop', Pos);")
                   .add(key(11, 9, 0.0))
                   .add(key(13, 0, 90.0)));
    screen.add(GameNode("TNBEffect").set("Key", 20).set("Id", "Sparks").set("X", 600).set("Y", 400)
                   .set("EffectFN", "spark.fx").set("DAnim", 1.0).set("Active", true));
    GameNode game = baseGame(std::move(screen));
    game.set("exMouseDown", "AnimStart(NBDB.Main.Walk);");
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    dir.write("input.txt", "105 down 500 700\n106 up 500 700\n");
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 140 --input input.txt --screenshot 110:mid.png "
                       "--screenshot 130:end.png g.nbf"),
              0)
        << dir.read("player.log");
    const std::string ini = dir.read("s.ini");
    EXPECT_NE(ini.find("stop=10"), std::string::npos) << ini;
    EXPECT_NE(ini.find("last=10"), std::string::npos) << ini;
    EXPECT_EQ(dir.read("nimbel.err"), "");
    if (drawingDisabled(dir)) GTEST_SKIP() << "no OpenGL context here: " << dir.read("player.log");
    nb::Bitmap mid, end;
    ASSERT_TRUE(loadPng(dir.file("mid.png"), mid));
    ASSERT_TRUE(loadPng(dir.file("end.png"), end));
    // At the end the dot rests at 90 pixels from the animation's place.
    EXPECT_EQ(end.argb(195, 105) & 0xFFFFFFu, 0xFFFFFFu);
    EXPECT_EQ(end.argb(105, 105) & 0xFFFFFFu, 0u);
    // Midway it is neither at the start nor at the end.
    int litX = -1;
    for (int x = 95; x < 205; ++x)
        if ((mid.argb(x, 105) & 0xFFFFFFu) == 0xFFFFFFu) {
            litX = x;
            break;
        }
    EXPECT_GT(litX, 100);
    EXPECT_LT(litX, 190);
    // Particles around the emitter, nothing far from it.
    int lit = 0;
    for (int y = 390; y < 410; ++y)
        for (int x = 590; x < 610; ++x) lit += (end.argb(x, y) & 0xFFFFFFu) != 0;
    EXPECT_GT(lit, 0);
    EXPECT_EQ(end.argb(800, 600) & 0xFFFFFFu, 0u);
}

// The logo fills the screen with the colour of its top-left texel and is
// drawn centred over it, fading in over 17 ticks and out over the last 17
// of its 100; once the logos are over the screen stays black until the game.
TEST(PlayerEndToEnd, LogoFillsWithItsCornerColourAndFades) {
    TempDir dir;
    ASSERT_TRUE(dir.writeGame("g.nbf", baseGame(GameNode("TNBScreen"))));
    ASSERT_EQ(std::system(("mkdir -p '" + dir.path() + "logos'").c_str()), 0);
    std::vector<uint32_t> px(64 * 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) px[size_t(y * 64 + x)] = x < 32 ? 0x0A0AC8u : 0xC80A0Au;
    const auto jpg = nb::testpics::Jpeg(64, 32, px, 100);
    ASSERT_TRUE(nb::fs::writeFile(dir.file("logos/logo1.jpg"), jpg.data(), jpg.size()));
    // Tick 1 finds the logo (counter 0); tick T shows it at counter T - 1.
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 150 --screenshot 11:in.png --screenshot 51:full.png "
                       "--screenshot 101:out.png --screenshot 150:gap.png g.nbf"),
              0)
        << dir.read("player.log");
    if (drawingDisabled(dir)) GTEST_SKIP() << "no OpenGL context here: " << dir.read("player.log");
    nb::Bitmap in, full, out, gap;
    ASSERT_TRUE(loadPng(dir.file("in.png"), in));
    ASSERT_TRUE(loadPng(dir.file("full.png"), full));
    ASSERT_TRUE(loadPng(dir.file("out.png"), out));
    ASSERT_TRUE(loadPng(dir.file("gap.png"), gap));
    auto near = [](uint32_t argb, int r, int g, int b) {
        const int pr = int(argb >> 16 & 0xFF), pg = int(argb >> 8 & 0xFF), pb = int(argb & 0xFF);
        return std::abs(pr - r) <= 6 && std::abs(pg - g) <= 6 && std::abs(pb - b) <= 6;
    };
    // The logo spans x 480..543, y 368..399; blue left, red right.
    for (const nb::Bitmap* b : {&in, &full, &out}) {
        EXPECT_TRUE(near(b->argb(10, 10), 10, 10, 200)) << std::hex << b->argb(10, 10);
        EXPECT_TRUE(near(b->argb(1000, 700), 10, 10, 200)) << std::hex << b->argb(1000, 700);
        EXPECT_TRUE(near(b->argb(478, 384), 10, 10, 200)) << std::hex << b->argb(478, 384);
    }
    EXPECT_TRUE(near(full.argb(535, 384), 200, 10, 10)) << std::hex << full.argb(535, 384);
    EXPECT_TRUE(near(full.argb(490, 370), 10, 10, 200)) << std::hex << full.argb(490, 370);
    EXPECT_TRUE(near(full.argb(546, 384), 10, 10, 200)) << std::hex << full.argb(546, 384);
    // Counter 10: alpha 150 of red over the blue fill.
    EXPECT_TRUE(near(in.argb(535, 384), 122, 10, 88)) << std::hex << in.argb(535, 384);
    // Counter 100: alpha 0.
    EXPECT_TRUE(near(out.argb(535, 384), 10, 10, 200)) << std::hex << out.argb(535, 384);
    EXPECT_EQ(gap.argb(535, 384) & 0xFFFFFFu, 0u);
    EXPECT_EQ(gap.argb(10, 10) & 0xFFFFFFu, 0u);
}

// Every layer from the lowest to the highest makes a drawing pass, also the
// layers no element uses, and an image list draws on each pass: a half
// transparent entry over black reaches 128, 192, 224 with one, two, three
// passes. An Order at the 32-bit limit still lets the frame end, and the
// element on that layer is drawn and takes the mouse.
TEST(PlayerEndToEnd, ImageListsDrawOnEveryLayerPass) {
    TempDir dir;
    ASSERT_TRUE(nb::WritePng(dir.file("r.png"), 20, 20, std::vector<uint32_t>(400, 0xFFFF0000u)));
    for (int32_t far : {1, 2, INT32_MAX}) {
        SCOPED_TRACE(far);
        GameNode screen("TNBScreen");
        screen.set("exShow", "List.ELEMENTS := '11;';");
        screen.add(GameNode("TNBImList")
                       .set("Key", 10)
                       .set("Id", "List")
                       .set("X", 100)
                       .set("Y", 100)
                       .set("SizeX", 100)
                       .set("SizeY", 100)
                       .set("ColCount", 1)
                       .set("RowCount", 1));
        screen.add(GameNode("TNBImage").set("Key", 11).set("Id", "E").set("imImage", "r.png").set("Vis", false).set("hxTrans", 128));
        screen.add(GameNode("TNBShape")
                       .set("Key", 12)
                       .set("Id", "Far")
                       .set("rX", 900.0)
                       .set("SizeX", 10)
                       .set("SizeY", 10)
                       .set("hxDrawFx", 1)
                       .set("Order", far)
                       .set("exMouseIn", "SetIni('T', 'far', 'in');"));
        ASSERT_TRUE(dir.writeGame("g.nbf", baseGame(std::move(screen))));
        ASSERT_TRUE(dir.write("s.ini", ""));
        ASSERT_TRUE(dir.write("in.txt", "103 move 905 5\n"));
        ASSERT_EQ(run(dir, "--headless --fast --max-ticks 104 --input in.txt --screenshot 104:a.png g.nbf"), 0)
            << dir.read("player.log");
        EXPECT_NE(dir.read("s.ini").find("far=in"), std::string::npos);
        if (drawingDisabled(dir)) GTEST_SKIP() << "no OpenGL context here: " << dir.read("player.log");
        nb::Bitmap shot;
        ASSERT_TRUE(loadPng(dir.file("a.png"), shot));
        const int red = int(shot.argb(150, 150) >> 16 & 0xFF);
        EXPECT_NEAR(red, far == 1 ? 192 : far == 2 ? 224 : 255, 2);
        EXPECT_EQ(shot.argb(905, 5) & 0xFFFFFFu, 0xFFFFFFu);
    }
}

TEST(PlayerEndToEnd, ScreenshotAtTickZeroIsTheFrameBeforeAnyTick) {
    TempDir dir;
    ASSERT_TRUE(dir.writeGame("g.nbf", baseGame(GameNode("TNBScreen"))));
    ASSERT_EQ(std::system(("mkdir -p '" + dir.path() + "logos'").c_str()), 0);
    const auto jpg = nb::testpics::Jpeg(64, 32, nb::testpics::Flat(64, 32, 0x0A0AC8u), 100);
    ASSERT_TRUE(nb::fs::writeFile(dir.file("logos/logo1.jpg"), jpg.data(), jpg.size()));

    // With no tick at all the frame of tick 0 is still there to take.
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 0 --screenshot 0:none.png g.nbf"), 0) << dir.read("player.log");
    EXPECT_TRUE(nb::fs::fileExists(dir.file("none.png")));

    // Tick 1 finds the logo, whose corner colour fills the frame after it;
    // the frame of tick 0 comes before and is black.
    ASSERT_EQ(run(dir, "--headless --fast --max-ticks 3 --screenshot 1:one.png --screenshot 0:zero.png g.nbf"), 0)
        << dir.read("player.log");
    if (drawingDisabled(dir)) GTEST_SKIP() << "no OpenGL context here: " << dir.read("player.log");
    nb::Bitmap zero, one;
    ASSERT_TRUE(loadPng(dir.file("zero.png"), zero));
    ASSERT_TRUE(loadPng(dir.file("one.png"), one));
    EXPECT_EQ(zero.argb(10, 10) & 0xFFFFFFu, 0u) << std::hex << zero.argb(10, 10);
    EXPECT_NEAR(int(one.argb(10, 10) & 0xFF), 200, 6) << std::hex << one.argb(10, 10);
}
