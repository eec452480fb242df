// The game root: companion files, text ids, sounds, settings and screen loads.
#include "scene_fixture.h"

namespace nb::scene_test {
namespace {

TEST(SceneRoot, SettingsAreReadAndWrittenThrough) {
    SceneWorld w;
    // A missing settings file reads as the defaults, full screen included.
    SceneWorld::Set(w.root, "IniFile", TPropValue::Str("player.ini"));
    EXPECT_EQ(w.root->SoundVolume(), 100);
    EXPECT_EQ(w.root->MusicVolume(), 50);
    EXPECT_TRUE(w.ctx.ui.fullScreenWanted);

    w.dir.write("Settings.INI", "; player settings\r\n[Def]\r\nSnd=30\r\nMuz=40\r\nFS=0\r\n[Other]\r\nKeep=1\r\n");
    SceneWorld::Set(w.root, "IniFile", TPropValue::Str("settings.ini"));
    EXPECT_EQ(w.root->SoundVolume(), 30);
    EXPECT_EQ(w.root->MusicVolume(), 40);
    EXPECT_FALSE(w.ctx.ui.fullScreenWanted);
    EXPECT_EQ(Val(w.root, "VOLSND").rawInt(), 30);
    EXPECT_EQ(Val(w.root, "VOLMUZ").rawInt(), 40);
    EXPECT_EQ(Val(w.root, "FULLSCREEN").kind(), ValueKind::UInt8);
    EXPECT_EQ(Val(w.root, "FULLSCREEN").rawInt(), 0);

    TScriptValue v = TScriptValue::int32(70);
    EXPECT_TRUE(w.root->SetValue("VOLSND", v));
    v = TScriptValue::string("25");
    EXPECT_TRUE(w.root->SetValue("VOLMUZ", v));
    v = TScriptValue::int32(2);
    EXPECT_TRUE(w.root->SetValue("FULLSCREEN", v));
    EXPECT_TRUE(w.ctx.ui.fullScreenWanted);
    EXPECT_EQ(Val(w.root, "FULLSCREEN").rawInt(), 1);
    EXPECT_EQ(w.root->SoundVolume(), 70);
    EXPECT_EQ(w.ctx.settings.musicVolume, 25);
    EXPECT_EQ(w.dir.read("Settings.INI"),
              "; player settings\r\n[Def]\r\nSnd=70\r\nMuz=25\r\nFS=1\r\n[Other]\r\nKeep=1\r\n");
    v = TScriptValue::boolean(false);
    w.root->SetValue("FULLSCREEN", v);
    EXPECT_FALSE(w.ctx.ui.fullScreenWanted);
    EXPECT_NE(w.dir.read("Settings.INI").find("FS=0\r\n"), std::string::npos);

    // The same name again changes nothing, even when the file changed.
    w.dir.write("Settings.INI", "[Def]\r\nSnd=5\r\n");
    SceneWorld::Set(w.root, "IniFile", TPropValue::Str("settings.ini"));
    EXPECT_EQ(w.root->SoundVolume(), 70);

    // Without a settings file the values are kept all the same.
    SceneWorld w2;
    v = TScriptValue::int32(12);
    EXPECT_TRUE(w2.root->SetValue("VOLMUZ", v));
    EXPECT_EQ(Val(w2.root, "VOLMUZ").rawInt(), 12);
    // Base names still come first.
    EXPECT_FALSE(Handles(w2.root, "VOLUME"));
}

TEST(SceneRoot, LanguageFilesFallBackInOrder) {
    SceneWorld w;
    w.dir.write("rus.lng", "[Menu]\r\nTitle=Start RU\r\n");
    w.dir.write("deu.lng", "[Menu]\r\nTitle=Start DE\r\n");
    SceneWorld::Set(w.root, "Lang", TPropValue::Str("fr.lng"));
    EXPECT_EQ(SceneWorld::Get(w.root, "Lang").s, "rus.lng");
    EXPECT_EQ(w.root->LookupText("Menu.Title"), "Start RU");
    w.dir.write("eng.lng", "[Menu]\r\nTitle=Start EN\r\n");
    SceneWorld::Set(w.root, "Lang", TPropValue::Str("none.lng"));
    EXPECT_EQ(w.root->Lang(), "eng.lng");
    EXPECT_EQ(w.root->LookupText("Menu.Title"), "Start EN");
    SceneWorld::Set(w.root, "Lang", TPropValue::Str("DEU.LNG"));
    EXPECT_EQ(w.root->Lang(), "DEU.LNG") << "found without regard to case";
    EXPECT_EQ(w.root->LookupText("Menu.Title"), "Start DE");

    // None of the fall-backs: the named file is used as an empty one.
    SceneWorld w2;
    SceneWorld::Set(w2.root, "Lang", TPropValue::Str("fr.lng"));
    EXPECT_EQ(w2.root->Lang(), "fr.lng");
    EXPECT_TRUE(w2.root->HasLanguage());
    EXPECT_EQ(w2.root->LookupText("Menu.Title"), "");

    // The default language is opened but never looked up.
    SceneWorld w3;
    w3.dir.write("base.lng", "[Menu]\r\nTitle=Base\r\n");
    SceneWorld::Set(w3.root, "DefLang", TPropValue::Str("base.lng"));
    EXPECT_EQ(w3.root->LookupText("Menu.Title"), "");
}

TEST(SceneRoot, TextIdsTranslateIntoLiterals) {
    SceneWorld w;
    w.dir.write("eng.lng",
                "[Menu]\r\nTitle=Start\r\nQuote=It's\r\nDq=say \"hi\"\r\n[Default]\r\nHello=Hi there\r\n"
                "[Sec]\r\nKey=Trimmed\r\n");
    SceneWorld::Set(w.root, "Lang", TPropValue::Str("eng.lng"));
    EXPECT_EQ(w.root->LookupText("Menu.Title"), "Start");
    EXPECT_EQ(w.root->LookupText("Hello"), "Hi there");
    EXPECT_EQ(w.root->LookupText(" Sec . Key "), "Trimmed");
    EXPECT_EQ(w.root->LookupText("Menu.Nope"), "");
    EXPECT_EQ(w.root->LookupText(".Title"), "");
    EXPECT_EQ(w.root->LookupText("Menu."), "");

    EXPECT_EQ(w.root->TranslateIds("T := \"Menu.Title\""), "T := 'Start'");
    EXPECT_EQ(w.root->TranslateIds("T := \"Menu.Nope\""), "T := ''");
    EXPECT_EQ(w.root->TranslateIds("T := \"Menu.Quote\""), "T := \"Menu.Quote\"");
    EXPECT_EQ(w.root->TranslateIds("T := \"Menu.Dq\""), "T := \"Menu.Dq\"");
    EXPECT_EQ(w.root->TranslateIds("A(\"Hello\", 'x', \"Menu.Title\")"), "A('Hi there', 'x', 'Start')");
    EXPECT_EQ(w.root->TranslateIds("T := \"Menu.Title"), "T := Menu.Title") << "a lone quote is dropped";
    EXPECT_EQ(w.root->TranslateIds("no ids here"), "no ids here");
    EXPECT_EQ(w.root->TranslateIds(""), "");

    // SetValue resolves a double-quoted id when the string is assigned.
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    TScriptValue v = TScriptValue::string("\"Menu.Quote\"");
    EXPECT_TRUE(s->SetValue("TAG", v));
    EXPECT_EQ(s->Tag(), "It's");
    EXPECT_EQ(v.rawString(), "It's") << "the caller's value is replaced too";
    v = TScriptValue::string("\"Menu.Nope\"");
    s->SetValue("TAG", v);
    EXPECT_EQ(s->Tag(), "\"Menu.Nope\"");
    v = TScriptValue::string("\"");
    s->SetValue("TAG", v);
    EXPECT_EQ(s->Tag(), "\"");

    // Without a language file every id translates to an empty string.
    SceneWorld w2;
    EXPECT_EQ(w2.root->TranslateIds("\"Menu.Title\""), "''");
}

TEST(SceneRoot, SoundNamesResolveThroughTheSoundTable) {
    SceneWorld w;
    std::string file = "keep";
    int32_t vol = 33;
    w.root->LookupSound("Doors.Open", file, vol);
    EXPECT_EQ(file, "keep") << "no sound table: both outputs stay";
    EXPECT_EQ(vol, 33);

    w.dir.write("sounds.ini", "[Doors]\r\nOpen=80:door.ogg\r\nShut=door.ogg\r\nBad=x:door.ogg\r\n");
    SceneWorld::Set(w.root, "SoundFile", TPropValue::Str("sounds.ini"));
    w.root->LookupSound("Doors.Open", file, vol);
    EXPECT_EQ(file, "door.ogg");
    EXPECT_EQ(vol, 80);
    w.root->LookupSound("Doors.Shut", file, vol);
    EXPECT_EQ(file, "door.ogg");
    EXPECT_EQ(vol, 100);
    vol = 42;
    w.root->LookupSound("Doors.Bad", file, vol);
    EXPECT_EQ(file, "door.ogg");
    EXPECT_EQ(vol, 42);
    w.root->LookupSound("Doors.Missing", file, vol);
    EXPECT_EQ(file, "");
    EXPECT_EQ(vol, 100);
    w.root->LookupSound(".Open", file, vol);
    EXPECT_EQ(file, "");
    EXPECT_EQ(vol, 0);
}

TEST(SceneRoot, StateFileIsCreatedWhenNamed) {
    SceneWorld w;
    EXPECT_FALSE(w.root->HasStateFile());
    SceneWorld::Set(w.root, "FileRS", TPropValue::Str("save.dat"));
    ASSERT_TRUE(w.root->HasStateFile());
    EXPECT_TRUE(fs::fileExists(w.dir.file("save.dat")));
    SceneWorld::Set(w.root, "FileRS", TPropValue::Str(""));
    EXPECT_FALSE(w.root->HasStateFile());
    // A name that can be neither opened nor created: no state file.
    SceneWorld::Set(w.root, "FileRS", TPropValue::Str("no\\such\\folder\\save.dat"));
    EXPECT_FALSE(w.root->HasStateFile());
    EXPECT_FALSE(w.root->SaveState());
}

TEST(SceneRoot, KeyExitAndProgressHooks) {
    SceneWorld w;
    w.root->SetId("G");
    SceneWorld::Set(w.root, "exKeyDown", TPropValue::Str("Mark(KEYDOWNED)"));
    SceneWorld::Set(w.root, "exExit", TPropValue::Str("Mark('bye')"));
    SceneWorld::Set(w.root, "exLoadImProcess", TPropValue::Str("Mark(IMFORLOADPOS)"));
    w.root->KeyHook(13);
    EXPECT_EQ(w.ctx.hookName, "key_Down");
    EXPECT_EQ(w.ctx.ui.lastKey, 13);
    w.root->ExitHook();
    EXPECT_EQ(w.ctx.hookName, "Exit");
    w.ctx.imageLoad.forLoadPos = 4;
    w.root->ProgressHook();
    EXPECT_EQ(w.ctx.hookName, "LIProcess");
    EXPECT_EQ(w.marks, (std::vector<std::string>{"G:13", "G:bye", "G:4"}));
}

TEST(SceneRoot, FinishLoadingMakesThePendingScreenCurrent) {
    SceneWorld w;
    TNBElement* a = w.MakeByName(w.root, "TNBScreen", "A", 1);
    TNBElement* b = w.MakeByName(w.root, "TNBScreen", "B", 2);
    TNBElement* btn = w.MakeByName(a, "TNBImage", "Btn", 3);
    SceneWorld::Set(btn, "exMouseOut", TPropValue::Str("Mark('out')"));
    SceneWorld::Set(b, "exShow", TPropValue::Str("Mark('show')"));
    SceneWorld::Set(b, "AllwaysLoad", TPropValue::Int(1));
    w.ctx.ui.currentScreen = a;
    w.ctx.ui.pendingScreen = b;
    w.ctx.ui.hovered = btn;
    w.ctx.ui.mouseDown = true;
    w.ctx.imageLoad.forLoadCount = 3;
    w.ctx.imageLoad.forLoadPos = 2;

    // Not loading: nothing happens.
    w.root->FinishLoading();
    EXPECT_EQ(w.ctx.ui.currentScreen, a);
    EXPECT_TRUE(w.marks.empty());

    w.root->MarkKeepLoaded();
    EXPECT_FALSE(a->KeepLoaded());
    EXPECT_TRUE(b->KeepLoaded());
    EXPECT_TRUE(b->Loaded());
    w.ctx.imageLoad.loading = true;
    w.root->FinishLoading();
    EXPECT_EQ(w.ctx.ui.currentScreen, b);
    EXPECT_EQ(w.ctx.ui.hovered, nullptr);
    EXPECT_FALSE(w.ctx.ui.mouseDown);
    EXPECT_EQ(w.ctx.imageLoad.forLoadCount, 4);
    EXPECT_EQ(w.ctx.imageLoad.forLoadPos, 0);
    EXPECT_EQ(w.marks, (std::vector<std::string>{"Btn:out", "B:show"}));
    EXPECT_TRUE(b->Loaded()) << "the marked screen loaded again";
    EXPECT_FALSE(a->Loaded());
}

}  // namespace
}  // namespace nb::scene_test
