// The shell in-process: logo-phase timing, input routing rules and window
// mode requests, driven tick by tick with the fast timer.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "TestGame.h"
#include "app/MainForm.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Png.h"
#include "platform/Window.h"
#include "render/RenderDevices.h"
#include "render/RenderTimers.h"
#include "scene/UnitNBDB.h"
#include "tests/media/PictureFiles.h"

using nb::GameNode;
using nbtest::TempDir;

namespace {

bool writeJpeg(const std::string& path, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    const auto bytes = nb::testpics::Jpeg(
        w, h, std::vector<uint32_t>(size_t(w) * size_t(h), uint32_t(r) << 16 | uint32_t(g) << 8 | b));
    return nb::fs::writeFile(path, bytes.data(), bytes.size());
}

struct Shell {
    explicit Shell(const std::string& game) {
        nb::PlayerOptions o;
        o.headless = true;
        o.fast = true;
        o.seed = 1;
        o.gamePath = game;
        form = std::make_unique<nb::TFormMain>(o);
        ok = form->FormCreate();
    }
    // Runs frames until `tick` process ticks have run.
    void runTo(int64_t tick) {
        while (form->Ticks() < tick) form->Timer()->Idle();
    }
    std::unique_ptr<nb::TFormMain> form;
    bool ok = false;
};

GameNode simpleGame() {
    return GameNode("TNBDB").set("Key", 1).set("InitScreen", 2).add(GameNode("TNBScreen").set("Key", 2).set("Id", "Main"));
}

// A root that keeps its settings in "s.ini", with the given hooks, over one
// screen.
GameNode settingsGame(std::initializer_list<std::pair<const char*, const char*>> hooks) {
    GameNode root = GameNode("TNBDB").set("Key", 1).set("InitScreen", 2).set("IniFile", "s.ini");
    for (const auto& [name, text] : hooks) root.set(name, text);
    root.add(GameNode("TNBScreen").set("Key", 2).set("Id", "Main"));
    return root;
}

}  // namespace

TEST(ShellLogos, WithoutLogosInitOnTick19AndShowOnTick102) {
    TempDir dir;
    ASSERT_TRUE(dir.writeGame("g.nbf", simpleGame()));
    Shell s(dir.file("g.nbf"));
    ASSERT_TRUE(s.ok);
    s.runTo(18);
    EXPECT_FALSE(s.form->GameInitialised());
    s.runTo(19);
    EXPECT_TRUE(s.form->GameInitialised());
    s.runTo(101);
    EXPECT_FALSE(s.form->FirstScreenShown());
    EXPECT_EQ(s.form->LogoIndex(), 10);
    s.runTo(102);
    EXPECT_TRUE(s.form->FirstScreenShown());
    EXPECT_EQ(s.form->LogoIndex(), -1);
}

TEST(ShellLogos, LogosOneAndThreeShowForAHundredTicksEachThenAGap) {
    TempDir dir;
    ASSERT_TRUE(dir.writeGame("g.nbf", simpleGame()));
    ASSERT_EQ(std::system(("mkdir -p '" + dir.path() + "logos'").c_str()), 0);
    ASSERT_TRUE(writeJpeg(dir.file("logos/logo1.jpg"), 64, 32, 200, 10, 10));
    ASSERT_TRUE(writeJpeg(dir.file("logos/logo3.jpg"), 64, 32, 10, 200, 10));
    Shell s(dir.file("g.nbf"));
    ASSERT_TRUE(s.ok);
    s.runTo(1);
    EXPECT_EQ(s.form->LogoIndex(), 1);
    s.runTo(19);
    EXPECT_TRUE(s.form->GameInitialised());
    EXPECT_FALSE(s.form->FirstScreenShown());
    s.runTo(101);
    EXPECT_EQ(s.form->LogoIndex(), 1);
    EXPECT_EQ(s.form->FadeCounter(), 100);
    s.runTo(102);
    EXPECT_EQ(s.form->LogoIndex(), 3);
    s.runTo(119);
    EXPECT_FALSE(s.form->FirstScreenShown());
    s.runTo(120);
    EXPECT_TRUE(s.form->FirstScreenShown());
    s.runTo(203);
    EXPECT_EQ(s.form->LogoIndex(), 10);
    s.runTo(303);
    EXPECT_EQ(s.form->LogoIndex(), 10);
    s.runTo(304);
    EXPECT_EQ(s.form->LogoIndex(), -1);
}

// A press during the logos only moves the fade; a release is not held back
// and runs the release hooks of the first screen and of the root.
TEST(ShellLogos, PressesDuringTheLogoJumpToTheFadeOut) {
    TempDir dir;
    GameNode screen = GameNode("TNBScreen").set("Key", 2).set("Id", "Main");
    screen.add(GameNode("TNBShape").set("Key", 3).set("Id", "Pad").set("SizeX", 20).set("SizeY", 20)
                   .set("exMouseDown", "NBDB.Downs := NBDB.Downs + 1;")
                   .set("exMouseUp", "NBDB.Ups := NBDB.Ups + 1;"));
    GameNode game = GameNode("TNBDB").set("Key", 1).set("InitScreen", 2)
                        .set("exInit", "Downs := 0; Ups := 0; RootDowns := 0; RootUps := 0;")
                        .set("exMouseDown", "RootDowns := RootDowns + 1;")
                        .set("exMouseUp", "RootUps := RootUps + 1;")
                        .add(std::move(screen));
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    ASSERT_EQ(std::system(("mkdir -p '" + dir.path() + "logos'").c_str()), 0);
    ASSERT_TRUE(writeJpeg(dir.file("logos/logo1.jpg"), 64, 32, 200, 10, 10));
    Shell s(dir.file("g.nbf"));
    s.runTo(11);  // counter 10: ignored
    s.form->FormMouseDown(5, 5, 0);
    EXPECT_EQ(s.form->FadeCounter(), 10);
    s.runTo(51);  // counter 50: jumps to 83
    s.form->FormMouseDown(5, 5, 0);
    EXPECT_EQ(s.form->FadeCounter(), 83);
    s.runTo(58);  // counter 90: restarts the fade-out at 83
    s.form->FormMouseDown(5, 5, 0);
    EXPECT_EQ(s.form->FadeCounter(), 83);
    s.form->FormMouseUp(5, 5);
    auto var = [&](const char* n) {
        nb::TScriptValue v;
        return s.form->Ctx().Root()->GetValue(n, v) ? v.toInt32() : -999;
    };
    EXPECT_EQ(var("DOWNS"), 0);
    EXPECT_EQ(var("ROOTDOWNS"), 0);
    EXPECT_EQ(var("UPS"), 1);
    EXPECT_EQ(var("ROOTUPS"), 1);
    EXPECT_FALSE(s.form->Ctx().ui.mouseDown);
}

TEST(ShellInput, ProbeNoMsNBDBAndLoadingIgnoresTheMouse) {
    TempDir dir;
    // A small button with a press hook and a shape with NoMsNBDB; the root's press hook counts the presses it sees.
    GameNode screen = GameNode("TNBScreen").set("Key", 2).set("Id", "Main");
    screen.add(GameNode("TNBShape").set("Key", 3).set("Id", "Btn").set("rX", 100.0).set("rY", 100.0)
                   .set("SizeX", 4).set("SizeY", 4).set("exMouseDown", "NBDB.BtnHits := NBDB.BtnHits + 1;"));
    screen.add(GameNode("TNBShape").set("Key", 5).set("Id", "Quiet").set("rX", 500.0).set("rY", 500.0)
                   .set("SizeX", 50).set("SizeY", 50).set("NoMsNBDB", true));
    GameNode game = GameNode("TNBDB").set("Key", 1).set("InitScreen", 2)
                        .set("exInit", "BtnHits := 0; RootHits := 0;")
                        .set("exMouseDown", "RootHits := RootHits + 1;")
                        .add(std::move(screen));
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    Shell s(dir.file("g.nbf"));
    s.runTo(102);
    auto& ctx = s.form->Ctx();
    auto var = [&](const char* n) {
        nb::TScriptValue v;
        return ctx.Root()->GetValue(n, v) ? v.toInt32() : -999;
    };
    // Two pixels left of the button still reaches it (probe (2, 0)).
    s.form->FormMouseDown(98, 101, 0);
    s.form->FormMouseUp(98, 101);
    EXPECT_EQ(var("BTNHITS"), 1);
    EXPECT_EQ(var("ROOTHITS"), 1);
    // NoMsNBDB: the root's hook does not run.
    int before = var("ROOTHITS");
    s.form->FormMouseDown(520, 520, 0);
    s.form->FormMouseUp(520, 520);
    EXPECT_EQ(var("ROOTHITS"), before);
    // No probe finds a press hook: the element under the last probe point
    // (x + 2, y + 2) takes the press, so the quiet shape still keeps the
    // root's hook from running; one pixel further off nothing is hit.
    s.form->FormMouseDown(498, 498, 0);
    s.form->FormMouseUp(498, 498);
    EXPECT_EQ(var("ROOTHITS"), before);
    s.form->FormMouseDown(497, 497, 0);
    s.form->FormMouseUp(497, 497);
    EXPECT_EQ(var("ROOTHITS"), before + 1);
    // While loading, mouse events change nothing.
    ctx.imageLoad.loading = true;
    nb::TNBElement* hoveredBefore = ctx.ui.hovered;
    s.form->FormMouseMove(100, 100);
    EXPECT_EQ(ctx.ui.hovered, hoveredBefore);
    s.form->FormMouseDown(101, 101, 0);
    EXPECT_EQ(var("BTNHITS"), 1);
    ctx.imageLoad.loading = false;
}

// MsKeep holds the hover on a pressed image while the mouse is dragged off
// it: the image keeps getting the moves and the release, nothing else is
// entered, and the hover moves on only with the first move after the
// release. Without MsKeep the hover follows the mouse during the drag.
TEST(ShellInput, MsKeepHoldsTheHoverWhileTheButtonIsDown) {
    TempDir dir;
    ASSERT_TRUE(nb::WritePng(dir.file("knob.png"), 40, 40, std::vector<uint32_t>(40 * 40, 0xFF808080u)));
    auto button = [](int key, const char* id, double x, bool keep) {
        const std::string n = id;
        return GameNode("TNBImage").set("Key", key).set("Id", id).set("imImage", "knob.png")
            .set("rX", x).set("rY", 100.0).set("MsKeep", keep)
            .set("exMouseIn", "NBDB.Log := NBDB.Log + 'in" + n + ",';")
            .set("exMouseOut", "NBDB.Log := NBDB.Log + 'out" + n + ",';")
            .set("exMouseMove", "NBDB.Moves" + n + " := NBDB.Moves" + n + " + 1;")
            .set("exMouseDown", "NBDB.Log := NBDB.Log + 'down" + n + ",';")
            .set("exMouseUp", "NBDB.Log := NBDB.Log + 'up" + n + ",';");
    };
    GameNode screen = GameNode("TNBScreen").set("Key", 2).set("Id", "Main");
    screen.add(button(3, "K", 100.0, true));
    screen.add(button(4, "O", 300.0, false));
    GameNode game = GameNode("TNBDB").set("Key", 1).set("InitScreen", 2)
                        .set("exInit", "Log := ''; MovesK := 0; MovesO := 0;")
                        .add(std::move(screen));
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    Shell s(dir.file("g.nbf"));
    s.runTo(102);
    auto& ctx = s.form->Ctx();
    auto text = [&](const char* n) {
        nb::TScriptValue v;
        return ctx.Root()->GetValue(n, v) ? v.toString() : std::string("<missing>");
    };
    auto takeLog = [&] {
        std::string l = text("LOG");
        nb::TScriptValue empty = nb::TScriptValue::string("");
        ctx.Root()->SetValue("LOG", empty);
        return l;
    };
    nb::TNBElement* knob = nb::TNBElement::FindByKey(ctx.Root(), 3);
    nb::TNBElement* other = nb::TNBElement::FindByKey(ctx.Root(), 4);
    ASSERT_TRUE(knob && other);

    s.form->FormMouseMove(110, 110);
    s.form->FormMouseDown(110, 110, 0);
    EXPECT_EQ(takeLog(), "inK,downK,");
    const std::string movesBefore = text("MOVESK");
    s.form->FormMouseMove(310, 110);  // dragged onto the other button
    s.form->FormMouseMove(320, 115);
    EXPECT_EQ(ctx.ui.hovered, knob);
    EXPECT_EQ(takeLog(), "");
    EXPECT_EQ(std::stoi(text("MOVESK")), std::stoi(movesBefore) + 2);
    EXPECT_EQ(text("MOVESO"), "0");
    // The kept button gets the release; once no button is held the hover
    // moves on at once to what is under the mouse.
    s.form->FormMouseUp(320, 115);
    EXPECT_EQ(takeLog(), "upK,outK,inO,");
    EXPECT_EQ(ctx.ui.hovered, other);
    s.form->FormMouseMove(321, 115);
    EXPECT_EQ(takeLog(), "");

    // With a second button still held, releasing one keeps the hover; the
    // press has ended all the same, so the next release moves it first.
    s.form->FormMouseMove(110, 110);
    takeLog();
    s.form->FormMouseDown(110, 110, 0);
    s.form->FormMouseDown(110, 110, 0);
    s.form->FormMouseMove(310, 110);
    s.form->FormMouseUp(310, 110);
    EXPECT_EQ(ctx.ui.hovered, knob);
    s.form->FormMouseUp(310, 110);
    EXPECT_EQ(ctx.ui.hovered, other);
    EXPECT_EQ(takeLog(), "downK,downK,upK,outK,inO,upO,");

    // The other button has no MsKeep: dragging off it leaves it at once and
    // the release goes to what is under the mouse.
    s.form->FormMouseDown(321, 115, 0);
    s.form->FormMouseMove(110, 110);
    EXPECT_EQ(ctx.ui.hovered, knob);
    s.form->FormMouseUp(110, 110);
    EXPECT_EQ(takeLog(), "downO,outO,inK,upK,");
}

TEST(ShellInput, TypedCharactersEditTheTypingTarget) {
    TempDir dir;
    GameNode screen = GameNode("TNBScreen").set("Key", 2).set("Id", "Main");
    screen.add(GameNode("TNBText").set("Key", 3).set("Id", "Edit").set("Text", "ab"));
    GameNode game = GameNode("TNBDB").set("Key", 1).set("InitScreen", 2).add(std::move(screen));
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    Shell s(dir.file("g.nbf"));
    s.runTo(102);
    auto& ctx = s.form->Ctx();
    nb::TNBElement* text = nb::TNBElement::FindByKey(ctx.Root(), 3);
    ASSERT_NE(text, nullptr);
    s.form->FormKeyPress('x');  // no typing target yet: ignored
    ctx.ui.typingTarget = text;
    s.form->FormKeyPress('c');
    s.form->FormKeyPress(0xE0);  // a Cyrillic letter is a character too
    s.form->FormKeyPress(7);     // control characters are ignored
    nb::TPropValue v;
    ASSERT_TRUE(text->ReadPropByName("Text", v));
    EXPECT_EQ(v.s, std::string("abc\xE0"));
    for (int i = 0; i < 6; ++i) s.form->FormKeyPress(8);
    ASSERT_TRUE(text->ReadPropByName("Text", v));
    EXPECT_EQ(v.s, "");
}

// Alt+Enter toggles the window mode and still reaches the key hook as 13;
// any other modifier with it is just a key. In test mode the switch to full
// screen is undone on the next tick and the settings keep "FS" false;
// otherwise it stays and the settings say full screen.
TEST(ShellWindowMode, AltEnterTogglesAndTestModeSwitchesBack) {
    TempDir dir;
    GameNode game = settingsGame(
        {{"exInit", "Keys := '';"}, {"exKeyDown", "Keys := Keys + 'k' + IntToStr(KEYDOWNED);"}});
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    for (bool testMode : {true, false}) {
        SCOPED_TRACE(testMode ? "test mode" : "normal");
        ASSERT_TRUE(dir.write("s.ini", "[Def]\r\nFS=0\r\n"));
        nb::PlayerOptions o;
        o.headless = true;
        o.fast = true;
        o.seed = 1;
        o.testMode = o.windowed = testMode;
        o.gamePath = dir.file("g.nbf");
        nb::TFormMain form(o);
        ASSERT_TRUE(form.FormCreate());
        while (form.Ticks() < 102) form.Timer()->Idle();
        auto& ctx = form.Ctx();
        auto fs = [&] { return nb::IniFile::fromFile(dir.file("s.ini")).readString("Def", "FS", ""); };
        ASSERT_TRUE(form.Device()->Windowed());

        form.FormKeyDown(13, nb::ssAlt | nb::ssShift);  // not exactly Alt: no switch
        form.FormKeyDown(13, nb::ssAlt | nb::ssLeft);   // a button held: no switch
        EXPECT_TRUE(form.Device()->Windowed());
        EXPECT_EQ(fs(), "0");

        form.FormKeyDown(13, nb::ssAlt);
        EXPECT_FALSE(form.Device()->Windowed());
        EXPECT_EQ(fs(), "1");
        EXPECT_EQ(ctx.ui.fullScreenWanted, !testMode);
        EXPECT_TRUE(form.Timer()->Enabled);
        form.Timer()->Idle();  // the next tick
        EXPECT_EQ(form.Device()->Windowed(), testMode);
        EXPECT_EQ(fs(), testMode ? "0" : "1");

        nb::TScriptValue keys;
        ASSERT_TRUE(ctx.Root()->GetValue("KEYS", keys));
        EXPECT_EQ(keys.toString(), "k13k13k13");

        // A script asking for full screen: the next tick switches, and in
        // test mode the one after switches back.
        if (testMode) {
            nb::TScriptValue one = nb::TScriptValue::int32(1);
            ASSERT_TRUE(ctx.Root()->SetValue("FULLSCREEN", one));
            form.Timer()->Idle();
            EXPECT_FALSE(form.Device()->Windowed());
            EXPECT_EQ(fs(), "1");
            form.Timer()->Idle();
            EXPECT_TRUE(form.Device()->Windowed());
            EXPECT_EQ(fs(), "0");
        }
    }
}

// The game beside the executable: the one named after it wins over any
// other game file; otherwise the first "*.nbf" the folder listing returns.
// Either way the editor's settings are not consulted.
TEST(ShellStartUp, GameFileNamedAfterTheExecutableWins) {
    TempDir dir;
    ASSERT_TRUE(dir.write("aaa.nbf", "x"));
    ASSERT_TRUE(dir.write("Player.NBF", "x"));
    ASSERT_TRUE(dir.write("notes.txt", "x"));
    std::unique_ptr<nb::IniFile> editor;
    EXPECT_EQ(nb::FindGameFile(dir.file("player"), editor), dir.file("Player.NBF"));
    EXPECT_EQ(nb::FindGameFile(dir.file("player.exe"), editor), dir.file("Player.NBF"));
    EXPECT_EQ(editor, nullptr);

    TempDir other;
    ASSERT_TRUE(other.write("b.nbf", "x"));
    ASSERT_TRUE(other.write("c.txt", "x"));
    ASSERT_TRUE(other.write("a.nbf", "x"));
    std::string first;
    for (const std::string& e : nb::fs::listDir(other.path()))
        if (first.empty() && e.size() > 4 && e.substr(e.size() - 4) == ".nbf") first = e;
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(nb::FindGameFile(other.file("player"), editor), other.file(first));
    EXPECT_EQ(editor, nullptr);
}

// An exit asked for while a screen loads waits for the load to end: the
// window closes at the end of the first tick after it, once the new screen
// has been processed.
TEST(ShellRun, ExitRequestedWhileLoadingWaitsForTheLoadToEnd) {
    TempDir dir;
    GameNode game =
        GameNode("TNBDB").set("Key", 1).set("InitScreen", 2).set("LoadingScreen", 3).set("exInit", "T := 0;")
            .add(GameNode("TNBScreen").set("Key", 2).set("Id", "Main")
                     .set("exProcess", "NBDB.T := NBDB.T + 1; if NBDB.T = 3 then SetScreen(NBDB.Other);"))
            .add(GameNode("TNBScreen").set("Key", 3).set("Id", "Loading")
                     .set("exProcess", "NBDB.T := NBDB.T + 1; if NBDB.T = 4 then ExitGame; "
                                       "if NBDB.T = 6 then begin LoadIm; EndLoadIm; end;"))
            .add(GameNode("TNBScreen").set("Key", 4).set("Id", "Other").set("exProcess", "NBDB.T := NBDB.T + 1;"));
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    Shell s(dir.file("g.nbf"));
    ASSERT_TRUE(s.ok);
    // The game runs from tick 103: T is 3 at tick 105, which starts the load;
    // the loading screen asks to exit at tick 106 and ends the load at 108.
    while (!s.form->Closing() && s.form->Ticks() < 200) s.form->Timer()->Idle();
    EXPECT_EQ(s.form->Ticks(), 109);
    nb::TScriptValue t;
    ASSERT_TRUE(s.form->Ctx().Root()->GetValue("T", t));
    EXPECT_EQ(t.toInt32(), 7);
    EXPECT_EQ(s.form->Ctx().ui.currentScreen, nb::TNBElement::FindByKey(s.form->Ctx().Root(), 4));
}

// --max-ticks N runs exactly N process ticks; 0 runs none, yet the exit
// hook still runs as on any close.
TEST(ShellRun, MaxTicksRunsExactlyThatManyTicks) {
    TempDir dir;
    GameNode game = settingsGame({{"exExit", "SetIni('T', 'exit', 'yes');"}});
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    for (int64_t n : {0, 3}) {
        ASSERT_TRUE(dir.write("s.ini", ""));
        nb::PlayerOptions o;
        o.headless = true;
        o.fast = true;
        o.maxTicks = n;
        o.gamePath = dir.file("g.nbf");
        nb::TFormMain form(o);
        EXPECT_EQ(form.Run(), 0);
        EXPECT_EQ(form.Ticks(), n);
        EXPECT_NE(dir.read("s.ini").find("exit=yes"), std::string::npos) << n;
    }
}

// A replayed press that is not yet released holds the button for the keys
// that follow, as the window's shift state would: Alt+Enter then leaves the
// window mode alone, and after the release it switches.
TEST(ShellInput, ReplayedKeysSeeTheHeldButton) {
    TempDir dir;
    GameNode game = settingsGame(
        {{"exInit", "N := 0;"}, {"exKeyDown", "N := N + 1; SetIni('T', 'k' + IntToStr(N), IntToStr(FULLSCREEN));"}});
    ASSERT_TRUE(dir.writeGame("g.nbf", game));
    ASSERT_TRUE(dir.write("s.ini", "[Def]\r\nFS=0\r\n"));
    ASSERT_TRUE(dir.write("in.txt", "103 down 5 5\n104 key 13 alt\n105 up 5 5\n106 key 13 alt\n"));
    nb::PlayerOptions o;
    o.headless = true;
    o.fast = true;
    o.maxTicks = 106;
    o.inputFile = dir.file("in.txt");
    o.gamePath = dir.file("g.nbf");
    nb::TFormMain form(o);
    EXPECT_EQ(form.Run(), 0);
    nb::IniFile ini = nb::IniFile::fromFile(dir.file("s.ini"));
    EXPECT_EQ(ini.readString("T", "k1", ""), "0");
    EXPECT_EQ(ini.readString("T", "k2", ""), "1");
    EXPECT_EQ(ini.readString("Def", "FS", ""), "1");
}
