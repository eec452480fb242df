// Image lists: fitting pictures into cells, the two drawing passes, the zoom
// step per tick, the hovered entry with its hooks, presses handed to entries,
// degenerate grids, and loading the entries' pictures.
#include <cmath>

#include "scene/ImList.h"
#include "tests/scene/kinds_fixture.h"

namespace nb::kinds_test {
namespace {

using W = KindsWorld;

// A 3 x 2 list of 50 x 50 cells with gaps of 10 at (100, 200) on the shown
// screen "S"; the entries' images live on a screen "Inv" that is never drawn.
struct ListWorld : KindsWorld {
    ListWorld() {
        screen = Make<TNBScreen>(root, "S");
        inv = Make<TNBScreen>(root, "Inv");
        list = Make<TNBImList>(screen, "L");
        SetI(list, "X", 100);
        SetI(list, "Y", 200);
        SetI(list, "SizeX", 170);
        SetI(list, "SizeY", 110);
        SetI(list, "ColCount", 3);
        SetI(list, "RowCount", 2);
        SetI(list, "Space", 10);
        Opaque("wide.png", 100, 50);
        Opaque("tall.png", 50, 100);
        Opaque("sq.png", 20, 20);
    }
    TNBImage* Entry(const std::string& picture, const std::string& id) {
        TNBImage* img = Make<TNBImage>(inv, id);
        SetS(img, "imImage", picture);
        list->Append(img);
        return img;
    }
    // Eight entries: wide, tall, square, then five wide ones.
    void Fill() {
        e.push_back(Entry("wide.png", "E0"));
        e.push_back(Entry("tall.png", "E1"));
        e.push_back(Entry("sq.png", "E2"));
        for (int i = 3; i < 8; ++i) e.push_back(Entry("wide.png", "E" + std::to_string(i)));
    }
    // Centre of cell (c, r).
    static double CX(int c) { return 100 + c * 60 + 25; }
    static double CY(int r) { return 200 + r * 60 + 25; }
    std::vector<Quad> Draw() { return Layers(screen, 0, 0); }

    TNBScreen* screen;
    TNBScreen* inv;
    TNBImList* list;
    std::vector<TNBImage*> e;
};

void ExpectBox(const Quad& q, double cx, double cy, double w, double h, const char* what) {
    EXPECT_NEAR(q.Left(), cx - w / 2, 1e-3) << what;
    EXPECT_NEAR(q.Right(), cx + w / 2, 1e-3) << what;
    EXPECT_NEAR(q.Top(), cy - h / 2, 1e-3) << what;
    EXPECT_NEAR(q.Bottom(), cy + h / 2, 1e-3) << what;
}

TEST(SceneImListDraw, PicturesFitTheirCellsInGridOrder) {
    ListWorld w;
    ASSERT_EQ(w.list->ElWidth(), 50);
    ASSERT_EQ(w.list->ElHeight(), 50);
    w.Fill();

    // Eight entries in a 3 x 2 grid: only the first six are shown.
    std::vector<Quad> q = w.Draw();
    ASSERT_EQ(q.size(), 6u);
    ExpectBox(q[0], ListWorld::CX(0), ListWorld::CY(0), 50, 25, "wide: fit by width, 0.5");
    ExpectBox(q[1], ListWorld::CX(1), ListWorld::CY(0), 25, 50, "tall: fit by height, 0.5");
    ExpectBox(q[2], ListWorld::CX(2), ListWorld::CY(0), 50, 50, "small pictures grow to fill the cell");
    ExpectBox(q[3], ListWorld::CX(0), ListWorld::CY(1), 50, 25, "second row");
    ExpectBox(q[5], ListWorld::CX(2), ListWorld::CY(1), 50, 25, "last shown cell");
    for (const Quad& one : q) {
        EXPECT_TRUE(one.filtered) << "entries are always drawn smoothed";
        EXPECT_EQ(one.effect, 1284u);
        EXPECT_EQ(one.color[0], 0xFFFFFFFFu);
    }

    // The list never scrolls; every entry is still its content.
    W::SetI(w.list, "ScrollPos", 3);
    EXPECT_EQ(W::Get(w.list, "ScrollPos").i, 0);
    EXPECT_EQ(w.Draw().size(), 6u);
    TScriptValue v;
    ASSERT_TRUE(w.list->GetValue("ELEMENTS", v));
    std::string keys;
    for (int i = 0; i < 8; ++i) keys += "0;";
    EXPECT_EQ(v.rawString(), keys);

    // The entry's own placement and scale play no part; its colour, blend
    // word and angle do.
    TNBImage* e0 = w.e[0];
    W::SetI(e0, "Vis", 0);
    W::SetI(e0, "X", 500);
    W::SetR(e0, "Scale", 3);
    W::SetR(e0, "ScaleX", 2);
    W::SetI(e0, "PosHor", 1);
    q = w.Draw();
    ASSERT_EQ(q.size(), 6u);
    ExpectBox(q[0], ListWorld::CX(0), ListWorld::CY(0), 50, 25, "entry placement ignored");
    W::SetI(e0, "hxTrans", 128);
    W::SetI(e0, "hxDrawFx", 1);
    W::SetR(e0, "Angle", 90);
    q = w.Draw();
    ASSERT_EQ(q.size(), 6u);
    ExpectBox(q[0], ListWorld::CX(0), ListWorld::CY(0), 25, 50, "a quarter turn stands the picture up");
    EXPECT_EQ(q[0].color[0], 0x80FFFFFFu);
    EXPECT_EQ(q[0].effect, 1u | gfxfx::kModulate);

    // An entry without a picture leaves its cell empty; the others keep theirs.
    W::SetS(w.e[3], "imImage", "none.png");
    q = w.Draw();
    ASSERT_EQ(q.size(), 5u);
    ExpectBox(q[3], ListWorld::CX(1), ListWorld::CY(1), 50, 25, "cell (0, 1) is empty");
}

TEST(SceneImListDraw, EveryLayerOffsetsAndNoChildren) {
    ListWorld w;
    w.Fill();
    W::SetI(w.list, "Order", 7);
    // Not only on its own layer: on every pass the shell makes.
    EXPECT_EQ(w.Layers(w.screen, 0, 2).size(), 18u);

    // The screen's position moves the list; the list's real position counts.
    W::SetI(w.screen, "X", 7);
    w.list->SetRX(100.5);  // scripts move it by fractions too
    std::vector<Quad> q = w.Draw();
    ASSERT_EQ(q.size(), 6u);
    ExpectBox(q[0], ListWorld::CX(0) + 7.5, ListWorld::CY(0), 50, 25, "offset and rX");

    // The list's own children are not drawn; an invisible list draws nothing.
    TNBShape* child = w.Make<TNBShape>(w.list, "Child");
    W::SetI(child, "SizeX", 5);
    W::SetI(child, "SizeY", 5);
    q = w.Draw();
    EXPECT_EQ(q.size(), 6u);
    for (const Quad& one : q) EXPECT_NE(one.texture, 0u) << "an untextured child quad was drawn";
    W::SetI(w.list, "Vis", 0);
    EXPECT_TRUE(w.Draw().empty());
}

TEST(SceneImListDraw, HoveredEntryLastAndZoomedAndEmptyGrids) {
    ListWorld w;
    w.Fill();
    W::SetR(w.list, "Scale", 1.12);
    w.list->SetHovered(1);
    for (int i = 0; i < 3; ++i) w.list->Process();
    std::vector<Quad> q = w.Draw();
    ASSERT_EQ(q.size(), 6u);
    // The grown entry comes last, so it lies above its neighbours.
    ExpectBox(q[1], ListWorld::CX(2), ListWorld::CY(0), 50, 50, "the pass without the hovered entry");
    ExpectBox(q[5], ListWorld::CX(1), ListWorld::CY(0), 25 * 1.15, 50 * 1.15, "hovered, zoom 1.15");

    // A hovered index past the shown cells is simply not drawn twice.
    w.list->SetHovered(7);
    EXPECT_EQ(w.Draw().size(), 6u);

    // Cells that come out negative are stored as 0 and nothing is drawn.
    W::SetI(w.list, "SizeX", 10);
    EXPECT_EQ(w.list->ElWidth(), 0);
    EXPECT_TRUE(w.Draw().empty());
    W::SetI(w.list, "SizeX", 170);
    EXPECT_EQ(w.Draw().size(), 6u);

    // A huge grid over few entries stops at the last entry instead of
    // walking every row.
    W::SetI(w.list, "SizeY", 2000000000);
    W::SetI(w.list, "RowCount", 2000000000);
    W::SetI(w.list, "Space", 0);
    ASSERT_GT(w.list->ElHeight(), 0);
    EXPECT_EQ(w.Draw().size(), 8u);
}

TEST(SceneImListProcess, ZoomGrowsTowardScaleAndShrinksBack) {
    ListWorld w;
    w.Fill();
    auto zoom = [&](size_t i) { return w.list->Entries()[i].zoom; };
    // Process runs no hook and no child, whatever Vis says.
    W::SetS(w.list, "exProcess", "Mark('P')");
    TNBShape* child = w.Make<TNBShape>(w.list, "Child");
    W::SetS(child, "exProcess", "Mark('C')");
    W::SetI(w.list, "Vis", 0);

    // Scale 0 (its value on creation): no growth.
    w.list->SetHovered(2);
    w.list->Process();
    EXPECT_DOUBLE_EQ(zoom(2), 1.0);

    W::SetR(w.list, "Scale", 1.12);
    const double grow[] = {1.05, 1.10, 1.15, 1.15, 1.15};
    for (double expected : grow) {
        w.list->Process();
        EXPECT_NEAR(zoom(2), expected, 1e-9);
        EXPECT_DOUBLE_EQ(zoom(1), 1.0) << "only the hovered entry grows";
    }
    // Left: 1.05, then 0.95 raised to exactly 1.
    w.list->SetHovered(-1);
    w.list->Process();
    EXPECT_NEAR(zoom(2), 1.05, 1e-9);
    w.list->Process();
    EXPECT_EQ(zoom(2), 1.0);
    w.list->Process();
    EXPECT_EQ(zoom(2), 1.0);

    // Moving to another entry: the new one grows while the old one shrinks.
    w.list->SetHovered(4);
    for (int i = 0; i < 3; ++i) w.list->Process();
    w.list->SetHovered(5);
    w.list->Process();
    EXPECT_NEAR(zoom(4), 1.05, 1e-9);
    EXPECT_NEAR(zoom(5), 1.05, 1e-9);
    EXPECT_EQ(w.marks.size(), 0u) << "no hook, no child";

    // Writing "ELEMENTS" replaces the content: the grown entries go, the
    // listed ones come back at zoom 1 (entry 4 had grown to 1.05).
    W::SetI(w.e[4], "Key", 41);
    TScriptValue keys = TScriptValue::string(" 41 ;");
    ASSERT_TRUE(w.list->SetValue("ELEMENTS", keys));
    ASSERT_EQ(w.list->Entries().size(), 1u);
    EXPECT_EQ(w.list->Entries()[0].element, w.e[4]->Ident());
    EXPECT_EQ(zoom(0), 1.0);
}

// The shell's hover rule on the screen's single layer range [0, 1]: the hit
// becomes the hovered element, with MouseOut / MouseIn when it changes.
struct Mouse {
    explicit Mouse(ListWorld& world) : w(world) {}
    void Move(int x, int y) {
        TNBElement* hit = W::Hit(w.screen, x, y, 0, 1);
        if (hit != w.ctx.ui.hovered) {
            if (TNBElement* old = w.ctx.ui.hovered) old->MouseOut();
            w.ctx.ui.hovered = hit;
            if (hit) hit->MouseIn();
        }
    }
    ListWorld& w;
};

TEST(SceneImListMouse, HoveredEntryAndItsHooks) {
    ListWorld w;
    w.Fill();
    W::SetI(w.list, "Order", 1);
    W::SetS(w.list, "exMouseIn", "Mark('in'); Mark(SELEL)");
    W::SetS(w.list, "exMouseOut", "Mark('out'); Mark(SELEL)");
    // "L:IN|L:<ident>|..." for the hooks run since the last call.
    auto runs = [&] {
        std::string s;
        for (const std::string& m : w.marks) s += (s.empty() ? "" : "|") + m;
        w.marks.clear();
        return s;
    };
    auto in = [&](int i) { return "L:IN|L:" + std::to_string(w.e[size_t(i)]->Ident()); };
    auto out = [&](int i) { return "L:OUT|L:" + std::to_string(w.e[size_t(i)]->Ident()); };

    // Another layer reaches nothing and changes nothing.
    EXPECT_EQ(w.list->HitTest(0, 130, 230, 0, 0), nullptr);
    EXPECT_EQ(w.list->Hovered(), -1);
    EXPECT_EQ(runs(), "");

    // Entering the box directly onto entry 2: "ms_In" from the hit test and
    // again from the shell's change of hovered element.
    Mouse m(w);
    m.Move(250, 230);
    EXPECT_EQ(w.ctx.ui.hovered, w.list);
    EXPECT_EQ(w.list->Hovered(), 2);
    EXPECT_EQ(runs(), in(2) + "|" + in(2));

    // Within the same cell (and the gap after it) nothing runs.
    m.Move(265, 250);
    EXPECT_EQ(runs(), "");

    // From entry 2 to entry 5: "ms_Out" still sees entry 2.
    m.Move(260, 260);
    EXPECT_EQ(w.list->Hovered(), 5);
    EXPECT_EQ(runs(), out(2) + "|" + in(5));

    // An empty cell of the box: only "ms_Out"; the list stays hovered.
    W::SetI(w.list, "RowCount", 3);
    W::SetI(w.list, "SizeY", 170);
    w.list->Remove(w.e[7]);
    w.list->Remove(w.e[6]);  // six entries: the third row is empty
    m.Move(110, 330);
    EXPECT_EQ(w.list->Hovered(), -1);
    EXPECT_EQ(w.ctx.ui.hovered, w.list);
    EXPECT_EQ(runs(), out(5));
    TScriptValue v;
    ASSERT_TRUE(w.list->GetValue("SELEL", v));
    EXPECT_EQ(v.kind(), ValueKind::UInt8);
    EXPECT_EQ(v.rawInt(), 0);

    // The box's left and top edges belong to it, its right and bottom edges
    // do not.
    EXPECT_EQ(w.list->HitTest(1, 100, 200, 0, 0), w.list);
    EXPECT_EQ(w.list->Hovered(), 0);
    EXPECT_EQ(w.list->HitTest(1, 270, 200, 0, 0), nullptr);
    EXPECT_EQ(w.list->Hovered(), -1);
    EXPECT_EQ(w.list->HitTest(1, 269, 369, 0, 0), w.list);
    EXPECT_EQ(w.list->HitTest(1, 100, 370, 0, 0), nullptr);
    runs();

    // Leaving the box: the hit test reports the entry left; the shell's
    // MouseOut then finds no entry and runs nothing more.
    m.Move(130, 230);
    EXPECT_EQ(runs(), in(0));
    m.Move(50, 50);
    EXPECT_EQ(w.ctx.ui.hovered, nullptr);
    EXPECT_EQ(runs(), out(0));
}

TEST(SceneImListMouse, PressGoesToTheEntryThenTheList) {
    ListWorld w;
    w.Fill();
    W::SetS(w.list, "exMouseDown", "Mark('list'); Mark(SELEL)");
    for (TNBImage* img : w.e) W::SetS(img, "exMouseDown", "Mark('down')");
    auto runs = [&] {
        std::string s;
        for (const std::string& m : w.marks) s += (s.empty() ? "" : "|") + m;
        w.marks.clear();
        return s;
    };

    // Nothing hovered: nothing runs.
    w.list->MouseDown();
    EXPECT_EQ(runs(), "");

    ASSERT_EQ(w.list->HitTest(0, 190, 230, 0, 0), w.list);
    w.list->MouseDown();
    EXPECT_EQ(runs(), "E1:DOWN|L:LIST|L:" + std::to_string(w.e[1]->Ident()));

    // The entry under the mouse went away since the mouse last moved: no
    // entry is pressed and nothing is read past the end; the list still
    // hears the press.
    ASSERT_EQ(w.list->HitTest(0, 250, 290, 0, 0), w.list);
    EXPECT_EQ(w.list->Hovered(), 5);
    for (int i = 7; i >= 4; --i) w.list->Remove(w.e[size_t(i)]);
    w.list->MouseDown();
    EXPECT_EQ(runs(), "L:LIST|L:0");

    // An entry whose element was freed answers no more.
    ASSERT_EQ(w.list->HitTest(0, 130, 230, 0, 0), w.list);
    w.e[0]->Free();
    w.list->MouseDown();
    EXPECT_EQ(runs(), "L:LIST|L:0");
    EXPECT_EQ(w.Draw().size(), 3u) << "the freed entry's cell stays empty";
}

TEST(SceneImListMouse, DegenerateGridsHoverNothing) {
    ListWorld w;
    w.Fill();
    W::SetS(w.list, "exMouseIn", "Mark('in')");
    W::SetS(w.list, "exMouseDown", "Mark('list')");

    // The list does not test its own visibility: hidden, it still takes
    // the mouse over its box and tracks the entry under it.
    W::SetI(w.list, "Vis", 0);
    EXPECT_EQ(w.list->HitTest(0, 130, 230, 0, 0), w.list);
    EXPECT_EQ(w.list->Hovered(), 0);
    EXPECT_EQ(w.marks, (std::vector<std::string>{"L:IN"}));
    w.marks.clear();
    EXPECT_EQ(w.list->HitTest(0, 50, 50, 0, 0), nullptr);
    W::SetI(w.list, "Vis", 1);

    // No columns and no gap: no cell pitch; the box still takes the mouse.
    W::SetI(w.list, "ColCount", 0);
    W::SetI(w.list, "Space", 0);
    EXPECT_EQ(w.list->HitTest(0, 150, 250, 0, 0), w.list);
    EXPECT_EQ(w.list->Hovered(), -1);

    // A negative gap turns the pitch negative: cell indices come out below
    // zero and must count as no entry, never as an index into the list.
    W::SetI(w.list, "ColCount", 3);
    W::SetI(w.list, "RowCount", 2);
    W::SetI(w.list, "SizeX", 100);
    W::SetI(w.list, "SizeY", 100);
    W::SetI(w.list, "Space", -150);
    ASSERT_EQ(w.list->ElWidth(), 133);
    ASSERT_EQ(w.list->ElHeight(), 125);
    EXPECT_EQ(w.list->HitTest(0, 140, 230, 0, 0), w.list);
    EXPECT_EQ(w.list->Hovered(), -1);
    EXPECT_EQ(w.list->IndexAt(140, 230), -1);
    w.list->MouseDown();
    EXPECT_TRUE(w.marks.empty());

    // Boxes reaching the ends of the integer range do not overflow.
    W::SetI(w.list, "X", 2147483647);
    W::SetI(w.list, "SizeX", 2147483647);
    W::SetI(w.list, "Space", 0);
    EXPECT_EQ(w.list->HitTest(0, 2147483647, 230, 0, 0), w.list);
    EXPECT_EQ(w.list->HitTest(0, -2147483647 - 1, 230, 0, 0), nullptr);
}

TEST(SceneImListImages, EntryPicturesLoadWithTheList) {
    ListWorld w;
    // Pictures requested while loading is deferred are only counted.
    w.ctx.imageLoad.ready = false;
    w.Fill();
    ASSERT_EQ(w.e[0]->LoadedPicture(), nullptr);
    w.ctx.imageLoad.ready = true;

    // The list's first drawing loads its entries' pictures, though their own
    // screen is never drawn.
    EXPECT_FALSE(w.list->Loaded());
    EXPECT_EQ(w.Draw().size(), 6u);
    EXPECT_TRUE(w.list->Loaded());
    for (TNBImage* img : w.e) EXPECT_NE(img->LoadedPicture(), nullptr) << img->Id();

    // A rebuild after the pictures were released requests them again for
    // the entries too, though their screen is not part of it.
    w.registry.ResetImageUse();
    w.registry.ReleaseIdleImages();
    ASSERT_EQ(w.e[1]->LoadedPicture(), nullptr);
    w.list->ReloadImages();
    for (TNBImage* img : w.e) EXPECT_NE(img->LoadedPicture(), nullptr) << img->Id();
    EXPECT_EQ(w.registry.Find("tall.png")->useCount, 1);
}

}  // namespace
}  // namespace nb::kinds_test
