// The kinds that mostly store their values: image lists, animations and
// their references.
#include "scene_fixture.h"

namespace nb::scene_test {
namespace {

TEST(SceneImList, CellsEntriesAndTheirValues) {
    SceneWorld w;
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 1);
    auto* list = static_cast<TNBImList*>(w.MakeByName(s, "TNBImList", "L", 2));
    auto set = [&](const char* n, int64_t v) { SceneWorld::Set(list, n, TPropValue::Int(v)); };
    set("SizeX", 300);
    set("SizeY", 100);
    set("ColCount", 3);
    EXPECT_EQ(list->ElWidth(), 0) << "no rows yet: no cells";
    set("RowCount", 2);
    set("Space", 10);
    EXPECT_EQ(list->ElWidth(), 93);
    EXPECT_EQ(list->ElHeight(), 45);
    set("ElWidth", 5);
    EXPECT_EQ(SceneWorld::Get(list, "ElWidth").i, 93) << "the cell size is computed, never written";
    set("SizeX", 10);
    EXPECT_EQ(list->ElWidth(), 0) << "(10 - 2 * 10) div 3 is negative";
    set("SizeX", -7);
    set("ColCount", -2);
    EXPECT_EQ(list->ElWidth(), 0);

    TNBElement* a = w.MakeByName(s, "TNBImage", "A", 10);
    TNBElement* b = w.MakeByName(s, "TNBImage", "b", 11);
    TNBElement* shape = w.MakeByName(s, "TNBShape", "Sh", 12);
    TScriptValue v = TScriptValue::string("10; x ;12;99;;11;10");
    EXPECT_TRUE(list->SetValue("ELEMENTS", v));
    ASSERT_EQ(list->Entries().size(), 3u) << "non-numbers, missing keys and non-images are skipped";
    EXPECT_EQ(Val(list, "ELEMENTS").rawString(), "10;11;10;");
    EXPECT_EQ(Val(list, "SCROLLPOS").rawInt(), 0);
    set("ScrollPos", 2);
    EXPECT_EQ(Val(list, "SCROLLPOS").rawInt(), 0);

    EXPECT_EQ(Val(list, "SELEL").kind(), ValueKind::UInt8);
    EXPECT_EQ(Val(list, "SELEL").rawInt(), 0);
    list->SetHovered(1);
    EXPECT_EQ(Val(list, "SELEL").kind(), ValueKind::Int32);
    EXPECT_EQ(w.ctx.Element(ElementId(Val(list, "SELEL").rawInt())), b);
    list->SetHovered(7);
    EXPECT_EQ(Val(list, "SELEL").rawInt(), 0);

    EXPECT_FALSE(list->RemoveById("B")) << "Ids are matched exactly";
    EXPECT_TRUE(list->RemoveById("b"));
    EXPECT_TRUE(list->Remove(a));
    EXPECT_EQ(Val(list, "ELEMENTS").rawString(), "10;") << "only the first entry of A went";
    list->Append(b);
    list->Append(b);
    EXPECT_EQ(Val(list, "ELEMENTS").rawString(), "10;11;11;");
    a->Free();
    EXPECT_EQ(Val(list, "ELEMENTS").rawString(), "11;11;") << "a freed element has no key left to name";
    (void)shape;
}

TEST(SceneAnim, PositionClampAndReferenceTargets) {
    SceneWorld w;
    auto* an = static_cast<TNBAnim*>(w.MakeByName(w.root, "TNBAnim", "An", 5));
    TNBElement* s = w.MakeByName(w.root, "TNBScreen", "S", 6);
    auto* nested = static_cast<TNBAnim*>(w.MakeByName(s, "TNBAnim", "Nested", 7));
    auto* ref = static_cast<TNBExAnim*>(w.MakeByName(s, "TNBExAnim", "R", 8));
    EXPECT_EQ(an->HitTest(0, 0, 0, 0, 0), nullptr);
    // Without frames every position is beyond the last one.
    SceneWorld::Set(an, "Pos", TPropValue::Int(100));
    EXPECT_EQ(an->FramePos(), -1);
    SceneWorld::Set(an, "Rep", TPropValue::Int(1));
    SceneWorld::Set(an, "Pos", TPropValue::Int(100));
    EXPECT_EQ(an->FramePos(), 0);
    SceneWorld::Set(an, "Pos", TPropValue::Int(-3));
    EXPECT_EQ(an->FramePos(), -3) << "negative positions stay as written";
    // Keys report the animation's size.
    TNBElement* key = w.MakeByName(an, "TNBAnKey");
    SceneWorld::Set(an, "SizeX", TPropValue::Int(64));
    EXPECT_EQ(key->GetSizeX(), 64);

    // The reference finds only top-level animations, and caches until
    // obAnim is written.
    SceneWorld::Set(ref, "obAnim", TPropValue::Int(7));
    EXPECT_EQ(ref->Target(), nullptr);
    (void)nested;
    SceneWorld::Set(ref, "obAnim", TPropValue::Int(5));
    EXPECT_EQ(ref->Target(), an);
    an->SetKey(55);
    EXPECT_EQ(ref->Target(), an) << "cached";
    SceneWorld::Set(ref, "obAnim", TPropValue::Int(5));
    EXPECT_EQ(ref->Target(), nullptr);
    an->SetKey(5);
    EXPECT_EQ(ref->Target(), an);
    // Its position clamps against the target's frames.
    SceneWorld::Set(ref, "Pos", TPropValue::Int(3));
    EXPECT_EQ(SceneWorld::Get(ref, "Pos").i, -1);
    an->Free();
    EXPECT_EQ(ref->Target(), nullptr) << "a freed target is not used";
    SceneWorld::Set(ref, "Pos", TPropValue::Int(3));
    EXPECT_EQ(SceneWorld::Get(ref, "Pos").i, 3);
}

}  // namespace
}  // namespace nb::scene_test
