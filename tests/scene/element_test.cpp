// The element base: creation and defaults, properties and their narrowing,
// the tree, FindByKey, hit-test order and the script value access.
#include "scene_fixture.h"

namespace nb::scene_test {
namespace {

// An element that is hit anywhere inside a 10 x 10 box at its position,
// for checking the order in which the base asks its children.
class Probe final : public TNBStored {
public:
    Probe(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBEffect, parent) {}
    TNBElement* HitTest(int32_t, int32_t x, int32_t y, int32_t, int32_t) override {
        lastX = x;
        lastY = y;
        return (x >= X() && x < X() + 10 && y >= Y() && y < Y() + 10) ? this : nullptr;
    }
    int32_t lastX = 0, lastY = 0;
};

// The parent each class is created under.
TNBElement* MakeOfClass(SceneWorld& w, const TClassInfo& c) {
    if (c.id == TClassId::TNBDB) return w.root;
    if (c.id == TClassId::TNBScreen || c.id == TClassId::TNBAnim) return w.root->CreateChild(c.name);
    if (c.id == TClassId::TNBAnKey) return w.root->CreateChild("TNBAnim")->CreateChild(c.name);
    return w.root->CreateChild("TNBScreen")->CreateChild(c.name);
}

TEST(SceneElement, EveryClassStartsWithItsTableDefaults) {
    SceneWorld w;
    for (const TClassInfo& c : ClassTable()) {
        TNBElement* e = MakeOfClass(w, c);
        ASSERT_NE(e, nullptr) << c.name;
        ASSERT_EQ(e->ClassName(), c.name);
        ASSERT_EQ(e->PropCount(), int(c.props.size()));
        for (int i = 0; i < e->PropCount(); ++i) {
            const TPropInfo& p = c.props[size_t(i)];
            TPropValue v = e->ReadProp(i);
            switch (p.kind) {
                case TPropKind::Real:
                    EXPECT_EQ(v.kind, TPropValue::Kind::Real) << c.name << "." << p.name;
                    EXPECT_EQ(v.r, p.realDefault) << c.name << "." << p.name;
                    break;
                case TPropKind::String:
                    EXPECT_EQ(v.kind, TPropValue::Kind::Str) << c.name << "." << p.name;
                    EXPECT_EQ(v.s, p.strDefault) << c.name << "." << p.name;
                    break;
                default:
                    EXPECT_EQ(v.kind, TPropValue::Kind::Int) << c.name << "." << p.name;
                    EXPECT_EQ(v.i, p.intDefault) << c.name << "." << p.name;
                    break;
            }
        }
        // Flags that are not published everywhere but belong to creation.
        if (c.id != TClassId::TNBDB) {
            EXPECT_TRUE(e->Vis()) << c.name;
            EXPECT_TRUE(e->MousedVis()) << c.name;
        }
        EXPECT_TRUE(e->AutoInit()) << c.name;
    }
    TNBElement* list = w.root->CreateChild("TNBScreen")->CreateChild("TNBImList");
    EXPECT_TRUE(list->NoMsNBDB());
    EXPECT_TRUE(w.root->CreateChild("TNBAnim")->MousedNotVis());
}

TEST(SceneElement, WritesConvertAndNarrowByDeclaredType) {
    SceneWorld w;
    TNBElement* anim = w.MakeByName(w.root, "TNBAnim");
    TNBElement* key = w.MakeByName(anim, "TNBAnKey");
    TNBElement* ref = w.MakeByName(w.MakeByName(w.root, "TNBScreen"), "TNBExAnim");

    SceneWorld::Set(w.root, "hxTransLev", TPropValue::Int(0x1FF));  // Byte
    EXPECT_EQ(SceneWorld::Get(w.root, "hxTransLev").i, 0xFF);
    SceneWorld::Set(key, "Count", TPropValue::Int(70000));  // Word
    EXPECT_EQ(SceneWorld::Get(key, "Count").i, 70000 - 65536);
    SceneWorld::Set(ref, "obAnim", TPropValue::Int(-1));  // Cardinal: the bit pattern
    EXPECT_EQ(SceneWorld::Get(ref, "obAnim").i, 0xFFFFFFFFll);
    EXPECT_EQ(Val(ref, "OBANIM").rawInt(), -1);  // scripts see it as a signed 32-bit integer
    SceneWorld::Set(anim, "Rep", TPropValue::Int(2));  // Boolean
    EXPECT_EQ(SceneWorld::Get(anim, "Rep").i, 1);
    SceneWorld::Set(anim, "Order", TPropValue::Int(0x100000005ll));  // Integer wraps to 32 bits
    EXPECT_EQ(anim->Order(), 5);

    // Script writes: strings through the standard conversion, reals rounded.
    TScriptValue v = TScriptValue::string("12");
    EXPECT_TRUE(anim->SetValue("SIZEX", v));
    EXPECT_EQ(anim->GetSizeX(), 12);
    v = TScriptValue::string("abc");
    EXPECT_TRUE(anim->SetValue("SIZEX", v));
    EXPECT_EQ(anim->GetSizeX(), 0);
    v = TScriptValue::string("$1F");
    anim->SetValue("SIZEX", v);
    EXPECT_EQ(anim->GetSizeX(), 31);
    v = TScriptValue::real(2.5);
    anim->SetValue("SIZEY", v);
    EXPECT_EQ(anim->GetSizeY(), 2);
    v = TScriptValue::string("1.25");
    anim->SetValue("ANGLE", v);
    EXPECT_EQ(Val(anim, "ANGLE").rawReal(), 1.25);
    v = TScriptValue::int32(7);
    anim->SetValue("TAG", v);
    EXPECT_EQ(Val(anim, "TAG").rawString(), "7");
    v = TScriptValue::boolean(true);
    anim->SetValue("VIS", v);
    EXPECT_EQ(Val(anim, "VIS").kind(), ValueKind::Int32);  // Booleans read as integers
    EXPECT_EQ(Val(anim, "VIS").rawInt(), 1);

    // The standard conversion itself.
    int32_t n = 0;
    EXPECT_TRUE(StrToInt32(" -42", n));
    EXPECT_EQ(n, -42);
    EXPECT_TRUE(StrToInt32("0x10", n));
    EXPECT_EQ(n, 16);
    EXPECT_FALSE(StrToInt32("42 ", n));
    EXPECT_FALSE(StrToInt32("2147483648", n));
    EXPECT_TRUE(StrToInt32("-2147483648", n));
    EXPECT_EQ(n, INT32_MIN);
    EXPECT_FALSE(StrToInt32("", n));
    EXPECT_FALSE(StrToInt32("-", n));
}

TEST(SceneElement, PositionsRoundHalvesToEven) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen");
    s->SetRX(2.5);
    EXPECT_EQ(s->X(), 2);
    s->SetRX(3.5);
    EXPECT_EQ(s->X(), 4);
    s->SetRX(-2.5);
    EXPECT_EQ(s->X(), -2);
    s->SetRY(-3.5);
    EXPECT_EQ(Val(s, "Y").rawInt(), -4);
    SceneWorld::Set(s, "X", TPropValue::Int(7));
    EXPECT_EQ(s->RX(), 7.0);
    // GetAbsX adds the parents' positions.
    TNBElement* sh = w.MakeByName(s, "TNBEffect");
    sh->SetPos(3, 4);
    EXPECT_EQ(sh->GetAbsX(), 10);
    EXPECT_EQ(sh->GetAbsY(), -4 + 4);
    // Positions at the ends of the integer range saturate rather than wrap.
    sh->SetPos(INT32_MAX, INT32_MIN);
    EXPECT_EQ(sh->GetAbsX(), INT32_MAX);
    EXPECT_EQ(sh->GetAbsY(), INT32_MIN);
}

TEST(SceneElement, TreeCreationFreeingAndIdentities) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    TNBElement* a = w.MakeByName(s, "TNBEffect", "A", 2);
    TNBElement* b = w.MakeByName(s, "TNBEffect", "B", 3);
    TNBElement* c = w.MakeByName(s, "TNBEffect", "C", 4);
    EXPECT_EQ(a->Root(), w.root);
    EXPECT_EQ(w.root->Root(), w.root);
    ASSERT_EQ(s->ChildCount(), 3u);
    EXPECT_EQ(c->IndexInParent(), 2);
    EXPECT_NE(a->Ident(), 0u);
    EXPECT_NE(a->Ident(), b->Ident());

    const ElementId bid = b->Ident();
    w.ctx.ui.hovered = b;
    w.ctx.ui.cursor = b;
    b->Free();
    EXPECT_EQ(s->ChildCount(), 2u);
    EXPECT_EQ(s->Child(1), c);  // later children move up
    EXPECT_EQ(c->IndexInParent(), 1);
    EXPECT_EQ(w.ctx.Element(bid), nullptr);
    EXPECT_EQ(w.ctx.ui.hovered, nullptr);  // no dangling interaction state
    EXPECT_EQ(w.ctx.ui.cursor, nullptr);
    // A new element never gets a freed identity.
    TNBElement* d = w.MakeByName(s, "TNBEffect", "D", 5);
    EXPECT_GT(d->Ident(), bid);
    EXPECT_EQ(w.ctx.Element(d->Ident()), d);

    // Containment rules and exact case.
    EXPECT_EQ(w.root->CreateChild("TNBImage"), nullptr);
    EXPECT_EQ(w.root->CreateChild("TNBscreen"), nullptr);
    EXPECT_EQ(w.root->CreateChild("TNBDB"), nullptr);
    EXPECT_EQ(s->CreateChild("TNBAnKey"), nullptr);
    EXPECT_NE(s->CreateChild("TNBImage"), nullptr);

    // Freeing a subtree unregisters all of it.
    const size_t live = w.ctx.LiveElements();
    s->Free();
    EXPECT_EQ(w.ctx.LiveElements(), live - 5);  // S, A, C, D and the image
}

TEST(SceneElement, FindByKeyDepthFirstWithNextSiblingHint) {
    SceneWorld w;
    w.root->SetKey(100);
    TNBElement* s1 = w.MakeByName(w.root, "TNBScreen", "S1", 1);
    TNBElement* i1 = w.MakeByName(s1, "TNBImage", "I1", 2);
    TNBElement* i2 = w.MakeByName(i1, "TNBImage", "I2", 3);
    TNBElement* s2 = w.MakeByName(w.root, "TNBScreen", "S2", 4);
    TNBElement* dup = w.MakeByName(s2, "TNBImage", "DUP", 3);

    EXPECT_EQ(TNBElement::FindByKey(w.root, 100), w.root);  // the start itself first
    EXPECT_EQ(TNBElement::FindByKey(w.root, 3), i2);        // first in tree order wins over DUP
    EXPECT_EQ(TNBElement::FindByKey(s2, 3), dup);
    EXPECT_EQ(TNBElement::FindByKey(w.root, 99), nullptr);

    // I1 is the last child of S1: the innermost level leaves the hint empty,
    // so the root's level sets it to the child after S1.
    TNBElement* next = nullptr;
    EXPECT_EQ(TNBElement::FindByKey(w.root, 2, &next), i1);
    EXPECT_EQ(next, s2);
    // Found with a following sibling: the innermost level sets the hint.
    TNBElement* after = w.MakeByName(s2, "TNBImage", "AFTER", 6);
    next = nullptr;
    EXPECT_EQ(TNBElement::FindByKey(s2, 3, &next), dup);
    EXPECT_EQ(next, after);
    TNBElement* hint = nullptr;
    EXPECT_EQ(TNBElement::FindByKey(w.root, 1, &hint), s1);
    EXPECT_EQ(hint, s2);
    hint = nullptr;
    EXPECT_EQ(TNBElement::FindByKey(w.root, 3, &hint), i2);
    EXPECT_EQ(hint, s2);
    // A hint that is already set is kept.
    hint = s1;
    TNBElement::FindByKey(w.root, 4, &hint);
    EXPECT_EQ(hint, s1);
    // Found as the start itself: no hint.
    hint = nullptr;
    TNBElement::FindByKey(w.root, 100, &hint);
    EXPECT_EQ(hint, nullptr);
}

TEST(SceneElement, BaseHitTestAsksChildrenLastFirstInItsFrame) {
    SceneWorld w;
    TNBElement* box = w.Make<TNBEffect>(w.root, "BOX");
    box->SetPos(100, 50);
    Probe* a = w.Make<Probe>(box, "A");
    Probe* b = w.Make<Probe>(box, "B");
    Probe* c = w.Make<Probe>(box, "C");
    b->SetPos(5, 0);
    EXPECT_EQ(box->HitTest(0, 103, 52, 0, 0), c);  // all three overlap: the last child wins
    EXPECT_EQ(c->lastX, 3);                        // the point is moved into the box's frame
    EXPECT_EQ(c->lastY, 2);
    c->SetPos(50, 50);
    EXPECT_EQ(box->HitTest(0, 106, 52, 0, 0), b);
    EXPECT_EQ(box->HitTest(0, 101, 52, 0, 0), a);
    // Visible but not MousedVis, or invisible and not MousedNotVis: nothing.
    box->SetMousedVis(false);
    EXPECT_EQ(box->HitTest(0, 103, 52, 0, 0), nullptr);
    box->SetMousedVis(true);
    box->SetVis(false);
    EXPECT_EQ(box->HitTest(0, 103, 52, 0, 0), nullptr);
    box->SetMousedNotVis(true);
    EXPECT_EQ(box->HitTest(0, 106, 52, 0, 0), b);
    // A point and a position at the ends of the integer range: the moved
    // point saturates instead of wrapping round to the other end.
    box->SetPos(300, -300);
    EXPECT_EQ(box->HitTest(0, INT32_MIN, INT32_MAX, 0, 0), nullptr);
    EXPECT_EQ(c->lastX, INT32_MIN);
    EXPECT_EQ(c->lastY, INT32_MAX);
    box->SetPos(INT32_MIN, INT32_MAX);
    EXPECT_EQ(box->HitTest(0, INT32_MAX, INT32_MIN, 0, 0), nullptr);
    EXPECT_EQ(c->lastX, INT32_MAX);
    EXPECT_EQ(c->lastY, INT32_MIN);
    (void)a;
}

TEST(SceneElement, GetValuePrecedenceAndChildNames) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "Menu", 1);
    TNBElement* start = w.MakeByName(s, "TNBImage", "Start", 2);
    TNBElement* tagChild = w.MakeByName(s, "TNBImage", "Tag", 3);
    SceneWorld::Set(s, "Tag", TPropValue::Str("tagged"));

    // A child by its Id upper-cased; the first match in child order.
    TNBElement* twin = w.MakeByName(s, "TNBImage", "START", 4);
    TScriptValue v = Val(s, "START");
    ASSERT_TRUE(v.isElement());
    EXPECT_EQ(w.ctx.Element(v.elementId()), start);
    EXPECT_FALSE(Handles(s, "Start")) << "names arrive upper-cased";
    // A published property wins over a child of the same name.
    EXPECT_EQ(Val(s, "TAG").rawString(), "tagged");
    // An own variable wins over both.
    auto vars = std::make_shared<TVarList>();
    vars->Put({"START", TScriptValue::int32(9)});
    vars->Put({"TAG", TScriptValue::string("var")});
    s->ReplaceVars(vars);
    EXPECT_EQ(Val(s, "START").rawInt(), 9);
    EXPECT_EQ(Val(s, "TAG").rawString(), "var");
    // Writing goes to the variable too, and leaves the property alone.
    TScriptValue nv = TScriptValue::string("changed");
    EXPECT_TRUE(s->SetValue("TAG", nv));
    EXPECT_EQ(Val(s, "TAG").rawString(), "changed");
    EXPECT_EQ(SceneWorld::Get(s, "Tag").s, "tagged");
    (void)tagChild;
    (void)twin;
    // A name nothing knows is not handled, for reading or writing.
    EXPECT_FALSE(Handles(s, "NOSUCH"));
    TScriptValue x = TScriptValue::int32(1);
    EXPECT_FALSE(s->SetValue("NOSUCH", x));
}

TEST(SceneElement, PseudoNames) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    TNBElement* a = w.MakeByName(s, "TNBImage", "A", 2);
    TNBElement* b = w.MakeByName(s, "TNBImage", "B", 3);
    TNBElement* c = w.MakeByName(s, "TNBEffect", "C", 4);
    auto ref = [&](TNBElement* e, const std::string& n) -> TNBElement* {
        bool h = false;
        TScriptValue v = Val(e, n, &h);
        EXPECT_TRUE(h) << n;
        EXPECT_TRUE(v.isElement()) << n;
        return w.ctx.Element(v.elementId());
    };
    EXPECT_EQ(ref(b, "SELF"), b);
    EXPECT_EQ(Val(b, "CLASS").rawString(), "TNBIMAGE");
    EXPECT_EQ(ref(b, "PARENT"), s);
    EXPECT_FALSE(Handles(w.root, "PARENT"));
    EXPECT_FALSE(Handles(w.root, "PARPOS"));
    EXPECT_EQ(Val(s, "CHILDCOUNT").rawInt(), 3);
    EXPECT_EQ(Val(c, "PARPOS").rawInt(), 3);
    EXPECT_EQ(ref(s, "CHILD[2]"), b);
    EXPECT_EQ(ref(s, "CHILD2"), b);
    EXPECT_EQ(ref(s, "CHILD3"), c);
    EXPECT_FALSE(Handles(s, "CHILD[0]"));
    EXPECT_FALSE(Handles(s, "CHILD[X]"));
    EXPECT_FALSE(Handles(s, "CHILD4"));
    EXPECT_FALSE(Handles(s, "CHILD"));
    EXPECT_FALSE(Handles(s, "CHILD[]"));
    EXPECT_EQ(ref(a, "NBDB"), w.root);

    // Interaction state.
    TScriptValue cs = Val(a, "CURRENTSCREEN");
    EXPECT_TRUE(cs.isElement());
    EXPECT_EQ(cs.elementId(), 0u) << "no current screen: a reference to nothing";
    w.ctx.ui.currentScreen = s;
    EXPECT_EQ(ref(a, "CURRENTSCREEN"), s);
    EXPECT_FALSE(Handles(a, "CURSOR"));
    EXPECT_FALSE(Handles(a, "CURSORAT"));
    EXPECT_EQ(Val(a, "CURSORATNIL").kind(), ValueKind::UInt8);
    EXPECT_EQ(Val(a, "CURSORATNIL").rawInt(), 1);
    TScriptValue setCursor = ElementRef(c);
    EXPECT_TRUE(a->SetValue("CURSOR", setCursor));
    EXPECT_EQ(w.ctx.ui.cursor, c);
    EXPECT_EQ(ref(a, "CURSOR"), c);
    TScriptValue notRef = TScriptValue::int32(5);
    EXPECT_FALSE(a->SetValue("CURSOR", notRef)) << "only an element reference sets the cursor";

    w.ctx.ui.hovered = a;
    w.ctx.ui.mouseDown = true;
    EXPECT_EQ(ref(b, "CURSORAT"), a);
    EXPECT_EQ(Val(b, "CURSORATNIL").rawInt(), 0);
    EXPECT_EQ(Val(a, "MOUSEIN").kind(), ValueKind::Boolean);
    EXPECT_TRUE(Val(a, "MOUSEIN").rawBool());
    EXPECT_FALSE(Val(b, "MOUSEIN").rawBool());
    EXPECT_TRUE(Val(a, "MOUSEINDOWN").rawBool());
    EXPECT_FALSE(Val(b, "MOUSEINDOWN").rawBool());
    EXPECT_TRUE(Val(b, "MOUSEDOWN").rawBool());
    w.ctx.ui.mouseX = 11;
    w.ctx.ui.mouseY = 12;
    w.ctx.ui.mouseDX = -3;
    w.ctx.ui.mouseDY = 4;
    w.ctx.ui.lastKey = 27;
    w.ctx.imageLoad.forLoadCount = 8;
    w.ctx.imageLoad.forLoadPos = 5;
    EXPECT_EQ(Val(b, "MSX").rawInt(), 11);
    EXPECT_EQ(Val(b, "MSY").rawInt(), 12);
    EXPECT_EQ(Val(b, "MSDX").rawInt(), -3);
    EXPECT_EQ(Val(b, "MSDY").rawInt(), 4);
    EXPECT_EQ(Val(b, "KEYDOWNED").rawInt(), 27);
    EXPECT_EQ(Val(b, "IMFORLOADCOUNT").rawInt(), 8);
    EXPECT_EQ(Val(b, "IMFORLOADPOS").rawInt(), 5);

    // Geometry.
    s->SetPos(100, 200);
    c->SetPos(5, 6);
    EXPECT_EQ(Val(c, "ABSX").rawInt(), 105);
    EXPECT_EQ(Val(c, "ABSY").rawInt(), 206);
    SceneWorld::Set(s, "SizeX", TPropValue::Int(640));
    EXPECT_EQ(Val(s, "SZX").rawInt(), 640);
    EXPECT_EQ(Val(c, "SZY").rawInt(), 0);
    EXPECT_FALSE(Handles(c, "TEXTSZ")) << "only texts measure their text";

    // Pseudo-names come after children and properties.
    TNBElement* named = w.MakeByName(s, "TNBImage", "Self", 9);
    EXPECT_EQ(ref(s, "SELF"), named);
}

TEST(SceneElement, OrderWidensTheRootsLayerRange) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen");
    EXPECT_EQ(w.root->LowLayer(), 0);
    EXPECT_EQ(w.root->HighLayer(), 0);
    SceneWorld::Set(s, "Order", TPropValue::Int(3));
    TNBElement* e = w.MakeByName(s, "TNBEffect");
    TScriptValue v = TScriptValue::int32(-2);
    e->SetValue("ORDER", v);
    EXPECT_EQ(w.root->LowLayer(), -2);
    EXPECT_EQ(w.root->HighLayer(), 3);
    SceneWorld::Set(s, "Order", TPropValue::Int(1));
    EXPECT_EQ(w.root->HighLayer(), 3) << "the range only ever widens";

    // The layer walk visits every layer ever used, once, in order, and ends
    // even at the limits of the 32-bit range (a damaged game's Order).
    SceneWorld::Set(s, "Order", TPropValue::Int(INT32_MAX));
    SceneWorld::Set(e, "Order", TPropValue::Int(INT32_MIN));
    std::vector<int32_t> up, down;
    int32_t layer = w.root->LowLayer();
    do up.push_back(layer);
    while (w.root->NextLayerUp(layer, layer) && up.size() < 10);
    layer = w.root->HighLayer();
    do down.push_back(layer);
    while (w.root->NextLayerDown(layer, layer) && down.size() < 10);
    EXPECT_EQ(up, (std::vector<int32_t>{INT32_MIN, -2, 0, 1, 3, INT32_MAX}));
    EXPECT_EQ(down, (std::vector<int32_t>{INT32_MAX, 3, 1, 0, -2, INT32_MIN}));
}

TEST(SceneContext, RandomGeneratorSequence) {
    TSceneContext ctx;
    ctx.randomSeed = 0;
    // seed 1: high word of 1 * 100 is 0; seed 134775814 * 100 >> 32 = 3.
    EXPECT_EQ(ctx.NextRandom(100), 0u);
    EXPECT_EQ(ctx.randomSeed, 1u);
    EXPECT_EQ(ctx.NextRandom(100), 3u);
    EXPECT_EQ(ctx.randomSeed, 134775814u);
    ctx.randomSeed = 0xFFFFFFFFu;
    uint32_t r = ctx.NextRandom(10);
    EXPECT_EQ(ctx.randomSeed, uint32_t(0xFFFFFFFFull * 134775813ull + 1ull));
    EXPECT_EQ(r, uint32_t((uint64_t(ctx.randomSeed) * 10ull) >> 32));
    for (int i = 0; i < 1000; ++i) EXPECT_LT(ctx.NextRandom(7), 7u);
    EXPECT_EQ(ctx.NextRandom(0), 0u);
}

TEST(SceneContext, PoolDepthAndInterpreters) {
    TSceneContext ctx;
    EXPECT_EQ(ctx.Depth(), 1);
    EXPECT_EQ(ctx.CurrentEngine(), ctx.Engine(0));
    EXPECT_EQ(ctx.Engine(10), nullptr);
    EXPECT_EQ(ctx.CurrentEngine()->Host(), &ctx.Host());
    ctx.ReleasePool();
    EXPECT_EQ(ctx.CurrentEngine(), nullptr);
    // Without interpreters hooks are stored but nothing compiles or runs.
    TNBDB& root = ctx.CreateRoot();
    root.SetHook(THook::Init, "x := 1");
    EXPECT_EQ(root.HookText(THook::Init), "x := 1");
    EXPECT_TRUE(root.HookCompiled(THook::Init).empty());
    root.Init();
    EXPECT_EQ(ctx.Depth(), 1);
}

}  // namespace
}  // namespace nb::scene_test
