// Hooks: the interpreter pool and its nesting depth, element variables made
// by Init, dotted names resolved by the scene, and the error log.
#include "scene_fixture.h"

namespace nb::scene_test {
namespace {

TEST(SceneHooks, NestedHooksEachGetTheirOwnInterpreterAndTheEleventhLevelIsRefused) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    TNBElement* btn = w.MakeByName(s, "TNBImage", "BTN1", 7);
    // Every level notes its depth, runs the hook once more, and notes its
    // own variable again afterwards.
    SceneWorld::Set(btn, "exMouseDown", TPropValue::Str("D := Depth(0); Mark(D); Nest(0); Mark(D)"));
    ASSERT_FALSE(btn->HookCompiled(THook::MouseDown).empty());
    btn->MouseDown();

    std::vector<std::string> expected;
    for (int d = 2; d <= 10; ++d) expected.push_back("BTN1:" + std::to_string(d));
    for (int d = 10; d >= 2; --d) expected.push_back("BTN1:" + std::to_string(d));
    EXPECT_EQ(w.marks, expected) << "no level disturbed the variables of another";
    EXPECT_EQ(w.Log(), "Very recursion (in BTN1 <TNBImage #7> ms_Down\r\n");
    EXPECT_EQ(w.ctx.Depth(), 1);
    EXPECT_EQ(w.ctx.currentElement, nullptr);
    EXPECT_EQ(w.ctx.hookName, "ms_Down");

    // A hook without text at the limit is nothing to refuse: no log line.
    TNBElement* quiet = w.MakeByName(s, "TNBImage", "Q", 8);
    SceneWorld::Set(btn, "exMouseDown", TPropValue::Str("Nest(0)"));
    SceneWorld::Set(quiet, "exMouseDown", TPropValue::Str(""));
    btn->MouseDown();
    EXPECT_EQ(w.Log(), "Very recursion (in BTN1 <TNBImage #7> ms_Down\r\n"
                       "Very recursion (in BTN1 <TNBImage #7> ms_Down\r\n");
    quiet->MouseDown();
    EXPECT_EQ(w.ctx.Depth(), 1);

    // Two elements pressing each other: the line names the element whose
    // hook is running at the tenth level, not the one that was refused.
    TNBElement* ping = w.MakeByName(s, "TNBImage", "PING", 11);
    TNBElement* pong = w.MakeByName(s, "TNBImage", "PONG", 12);
    for (int i = 0; i < TSceneContext::kPoolSize; ++i)
        w.ctx.Engine(i)->SetFunction("Other", [&](TScriptEngine&, TVarList&, TVar&) {
            TNBElement* self = w.ctx.currentElement;
            (self == ping ? pong : ping)->MouseDown();
            return true;
        });
    SceneWorld::Set(ping, "exMouseDown", TPropValue::Str("Other(0)"));
    SceneWorld::Set(pong, "exMouseDown", TPropValue::Str("Other(0)"));
    const std::string before = w.Log();
    ping->MouseDown();  // levels 2..10: PING, PONG, ..., PING; PONG is refused
    EXPECT_EQ(w.Log(), before + "Very recursion (in PING <TNBImage #11> ms_Down\r\n");
    EXPECT_EQ(w.ctx.Depth(), 1);
}

TEST(SceneHooks, InitGivesElementsTheirOwnVariables) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    TNBElement* img = w.MakeByName(s, "TNBImage", "IMG", 2);
    TNBElement* lazy = w.MakeByName(w.root, "TNBScreen", "LAZY", 3);
    TNBElement* lazyChild = w.MakeByName(lazy, "TNBImage", "LC", 4);
    SceneWorld::Set(s, "exInit", TPropValue::Str("A := 1; B := 'x'; Mark(A)"));
    SceneWorld::Set(img, "exInit", TPropValue::Str("Mark(2)"));
    SceneWorld::Set(lazy, "exInit", TPropValue::Str("C := 5"));
    SceneWorld::Set(lazyChild, "exInit", TPropValue::Str("Mark(3)"));
    SceneWorld::Set(lazy, "AutoInit", TPropValue::Int(0));

    lazy->InitPr();
    ASSERT_NE(lazy->Vars(), nullptr);
    EXPECT_EQ(Val(lazy, "C").rawInt(), 5);
    EXPECT_EQ(w.marks, std::vector<std::string>{"LC:3"}) << "InitPr runs the children's Init";
    TScriptValue six = TScriptValue::int32(6);
    EXPECT_TRUE(lazy->SetValue("C", six));
    w.marks.clear();

    w.root->Init();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"S:1", "IMG:2"})) << "parent first, then children";
    ASSERT_NE(s->Vars(), nullptr);
    EXPECT_EQ(s->Vars()->Count(), 2u);
    EXPECT_EQ(Val(s, "A").rawInt(), 1);
    EXPECT_EQ(Val(s, "B").rawString(), "x");
    EXPECT_NE(img->Vars(), nullptr);
    EXPECT_EQ(img->Vars()->Count(), 0u);
    EXPECT_EQ(Val(lazy, "C").rawInt(), 6) << "a plain screen with AutoInit false is skipped";
    lazy->InitPr();
    EXPECT_EQ(Val(lazy, "C").rawInt(), 5);
    // Hooks other than Init leave the element's table alone.
    SceneWorld::Set(s, "exShow", TPropValue::Str("Z := 1"));
    s->Show();
    EXPECT_FALSE(s->Vars()->Exists("Z"));
}

TEST(SceneHooks, DottedNamesWalkTheTree) {
    SceneWorld w;
    TNBElement* menu = w.MakeByName(w.root, "TNBScreen", "Menu", 1);
    TNBElement* other = w.MakeByName(w.root, "TNBScreen", "Other", 2);
    TNBElement* start = w.MakeByName(menu, "TNBImage", "Start", 3);
    SceneWorld::Set(start, "exMouseDown",
                    TPropValue::Str("X := 5; .X := 40; NBDB.OTHER.VIS := 0; B := NBDB.MENU; B.TAG := 'viaVar';"
                                    "Mark(NBDB.MENU.START.X); Mark(.X); NBDB.NOSUCH.Y := 1"));
    start->MouseDown();
    EXPECT_EQ(start->X(), 5);
    EXPECT_FALSE(start->Vars()) << "X := 5 wrote the element's X, no variable table appeared";
    EXPECT_EQ(menu->X(), 40);
    EXPECT_FALSE(other->Vis());
    EXPECT_EQ(SceneWorld::Get(menu, "Tag").s, "viaVar");
    EXPECT_EQ(w.marks, (std::vector<std::string>{"Start:5", "Start:40"}));
    EXPECT_EQ(w.Log(), "Add var NBDB.NOSUCH.Y (in Start <TNBImage> ms_Down\r\n");

    // The host directly: a variable holding a non-element cannot be walked
    // through, a leading point at the root fails.
    TVarList vars;
    vars.Put({"V", TScriptValue::int32(5)});
    vars.Put({"M", ElementRef(menu)});
    TScriptValue out;
    w.ctx.currentElement = start;
    EXPECT_FALSE(w.ctx.Host().pathGet("V.X", vars, out));
    EXPECT_TRUE(w.ctx.Host().pathGet("M.START.X", vars, out));
    EXPECT_EQ(out.rawInt(), 5);
    EXPECT_TRUE(w.ctx.Host().pathGet("..ID", vars, out));
    EXPECT_EQ(out.rawString(), "");
    EXPECT_FALSE(w.ctx.Host().pathGet("...ID", vars, out));
    EXPECT_FALSE(w.ctx.Host().pathGet(".", vars, out));
    EXPECT_FALSE(w.ctx.Host().pathGet("MENU..X", vars, out));
    EXPECT_EQ(w.ctx.Host().currentElementText(), "Start <TNBImage>");
    w.ctx.currentElement = nullptr;
    EXPECT_TRUE(w.ctx.Host().pathGet("NBDB.MENU.X", vars, out)) << "NBDB is found without a current element";
    EXPECT_FALSE(w.ctx.Host().pathGet("X", vars, out));
    EXPECT_EQ(w.ctx.Host().currentElementText(), "");
    TScriptValue nine = TScriptValue::int32(9);
    EXPECT_TRUE(w.ctx.Host().pathSet("NBDB.OTHER.X", vars, nine));
    EXPECT_EQ(other->X(), 9);
}

TEST(SceneHooks, ScriptErrorsAreLoggedWithTheElementAndHook) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    TNBElement* btn = w.MakeByName(s, "TNBImage", "BTN1", 2);
    SceneWorld::Set(btn, "exMouseDown", TPropValue::Str("x := zz"));
    btn->MouseDown();
    EXPECT_EQ(w.Log(), "Variable not found: ZZ (ZZ  in BTN1 <TNBImage>) ms_Down\r\n");
    // A second error appends.
    btn->MouseDown();
    EXPECT_EQ(w.Log(), "Variable not found: ZZ (ZZ  in BTN1 <TNBImage>) ms_Down\r\n"
                       "Variable not found: ZZ (ZZ  in BTN1 <TNBImage>) ms_Down\r\n");
}

TEST(SceneHooks, OperationsRunTheirHooksInTreeOrder) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    TNBElement* a = w.MakeByName(s, "TNBEffect", "A", 2);
    TNBElement* b = w.MakeByName(s, "TNBEffect", "B", 3);
    for (TNBElement* e : {s, a, b}) {
        SceneWorld::Set(e, "exProcess", TPropValue::Str("Mark('P')"));
        SceneWorld::Set(e, "exAfterLoad", TPropValue::Str("Mark('L')"));
        SceneWorld::Set(e, "exUpdate", TPropValue::Str("Mark('U')"));
    }
    s->Process();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"S:P", "A:P", "B:P"}));
    w.marks.clear();
    a->SetVis(false);
    s->Process();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"S:P", "B:P"})) << "an invisible element is not processed";
    w.marks.clear();
    a->SetMousedNotVis(true);
    s->Process();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"S:P", "A:P", "B:P"}));
    w.marks.clear();
    s->AfterLoad();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"S:L", "A:L", "B:L"}));
    EXPECT_EQ(w.ctx.hookName, "Load");
    w.marks.clear();
    s->Update();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"S:U"})) << "Update runs only its own hook";
}

TEST(SceneHooks, AHookMayRewriteItselfWhileRunning) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    SceneWorld::Set(s, "exUpdate", TPropValue::Str("EXUPDATE := 'Mark(2)'; Mark(1)"));
    s->Update();
    s->Update();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"S:1", "S:2"}));
}

TEST(SceneHooks, StartHooksKeepTheCallersHookName) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    auto* fx = static_cast<TNBEffect*>(w.MakeByName(s, "TNBEffect", "FX", 2));
    auto* an = static_cast<TNBAnim*>(w.MakeByName(w.root, "TNBAnim", "AN", 3));
    SceneWorld::Set(fx, "exStart", TPropValue::Str("Mark('fx')"));
    SceneWorld::Set(an, "exStart", TPropValue::Str("Mark('an')"));
    w.ctx.hookName = "ms_Up";
    fx->Start();
    an->RunStart();
    EXPECT_TRUE(fx->Active());
    EXPECT_EQ(w.marks, (std::vector<std::string>{"FX:fx", "AN:an"}));
    EXPECT_EQ(w.ctx.hookName, "ms_Up");
    fx->Stop();
    EXPECT_FALSE(fx->Active());
}

}  // namespace
}  // namespace nb::scene_test
