// Screens and screen references: backgrounds, layers, modal blocking, the
// reference's target search, alignment when drawing but not when hit
// testing, and the hooks a reference forwards to its target.
#include "tests/scene/kinds_fixture.h"

namespace nb::kinds_test {
namespace {

using W = KindsWorld;

TEST(KindsScreen, BackgroundRequestSizeAndName) {
    KindsWorld w;
    TNBScreen* s = w.Make<TNBScreen>(w.root, "Main");
    EXPECT_EQ(s->DrawFx(), 1u);
    EXPECT_TRUE(s->MousedNotVis());
    EXPECT_TRUE(s->Vis());

    W::SetI(s, "SizeX", 10);
    W::SetI(s, "SizeY", 20);
    // A missing picture leaves the size alone but keeps its entry.
    W::SetS(s, "ImBack", "Missing.png");
    EXPECT_EQ(s->GetSizeX(), 10);
    EXPECT_EQ(s->GetSizeY(), 20);
    EXPECT_EQ(W::Get(s, "ImBack").s, "MISSING.PNG");

    // A loaded picture gives its visible size; the getter answers the key.
    w.Opaque("back.png", 64, 48);
    W::SetS(s, "ImBack", "Back.png");
    EXPECT_EQ(s->GetSizeX(), 64);
    EXPECT_EQ(s->GetSizeY(), 48);
    EXPECT_EQ(W::Get(s, "ImBack").s, "BACK.PNG");

    // An empty name makes no entry at all (nothing counted for loading).
    const size_t entries = w.registry.Count();
    w.ctx.imageLoad.ready = false;
    W::SetS(s, "ImBack", "");
    EXPECT_EQ(s->Background(), nullptr);
    EXPECT_EQ(W::Get(s, "ImBack").s, "");
    EXPECT_EQ(w.registry.Count(), entries);
    EXPECT_EQ(w.ctx.imageLoad.forLoadCount, 0);
}

TEST(KindsScreen, BackgroundAtOffsetsChildrenMovedAndRenderHookOnOwnLayer) {
    KindsWorld w;
    w.Opaque("back.png", 64, 48);
    TNBScreen* s = w.Make<TNBScreen>(w.root, "S");
    W::SetS(s, "ImBack", "back.png");
    W::SetI(s, "Order", 1);
    W::SetI(s, "X", 100);
    W::SetS(s, "exRender", "Mark('render');");
    TNBShape* box = w.Make<TNBShape>(s, "Box");
    W::SetI(box, "SizeX", 10);
    W::SetI(box, "SizeY", 10);
    W::SetI(box, "Order", 2);

    std::vector<Quad> q = w.Frame([&] {
        for (int layer = 0; layer <= 2; ++layer) s->Render(layer, 0xFFFFFFFFu, 5, 7, 0);
    });
    ASSERT_EQ(q.size(), 2u);
    // The background belongs to layer 1: drawn at the offsets, opaque word,
    // untinted, not moved by the screen's own X.
    EXPECT_NE(q[0].texture, 0u);
    EXPECT_DOUBLE_EQ(q[0].Left(), 5);
    EXPECT_DOUBLE_EQ(q[0].Top(), 7);
    EXPECT_DOUBLE_EQ(q[0].Right(), 69);
    EXPECT_DOUBLE_EQ(q[0].Bottom(), 55);
    EXPECT_EQ(q[0].effect, 1u);
    // The child on layer 2, moved by the screen's X.
    EXPECT_EQ(q[1].texture, 0u);
    EXPECT_DOUBLE_EQ(q[1].Left(), 105);
    EXPECT_DOUBLE_EQ(q[1].Top(), 7);
    // The render hook ran once, on the screen's own layer pass.
    EXPECT_EQ(w.marks, std::vector<std::string>{"S:RENDER"});
    EXPECT_TRUE(s->Loaded());
}

TEST(KindsScreen, ModalBlocksItsLayerEvenWhenHiddenAndAgroWidensImages) {
    KindsWorld w;
    w.Opaque("dot.png", 10, 10);
    TNBScreen* s = w.Make<TNBScreen>(w.root, "S");
    TNBImage* img = w.Make<TNBImage>(s, "Img");
    W::SetS(img, "imImage", "dot.png");
    W::SetI(img, "X", 50);
    w.registry.Find("dot.png")->image->AlphaLevel = TAlphaLevel::alNone;

    EXPECT_EQ(W::Hit(s, 59, 5), img);
    EXPECT_EQ(W::Hit(s, 60, 5), nullptr);
    // The screen's Agro replaces the margin handed down: a left-anchored
    // picture without alpha widens by 2 * Agro to the right.
    W::SetI(s, "Agro", 3);
    EXPECT_EQ(W::Hit(s, 65, 5), img);
    EXPECT_EQ(W::Hit(s, 66, 5), nullptr);
    EXPECT_EQ(W::Hit(s, 49, 5), nullptr);

    // Not modal: empty places fall through. Modal: the screen takes them,
    // but only on its own layer.
    EXPECT_EQ(W::Hit(s, 500, 500), nullptr);
    W::SetI(s, "Modal", 1);
    W::SetI(s, "Order", 2);
    EXPECT_EQ(s->HitTest(2, 500, 500, 0, 0), s);
    EXPECT_EQ(s->HitTest(1, 500, 500, 0, 0), nullptr);
    // Hidden screens still block (MousedNotVis from creation).
    W::SetI(s, "Vis", 0);
    EXPECT_EQ(s->HitTest(2, 500, 500, 0, 0), s);
}

TEST(KindsExScreen, TargetSearchTakesOnlyTopLevelPlainScreens) {
    KindsWorld w;
    TNBScreen* host = w.Make<TNBScreen>(w.root, "Host");
    W::SetI(host, "Key", 1);
    // The same key on an animation and on a screen that is not a direct
    // child of the root: neither qualifies.
    TNBScreen* nested = w.Make<TNBScreen>(host, "Nested");
    W::SetI(nested, "Key", 7);
    TNBElement* anim = w.root->CreateChild("TNBAnim");
    ASSERT_NE(anim, nullptr);
    W::SetI(anim, "Key", 7);
    TNBScreen* panel = w.Make<TNBScreen>(w.root, "Panel");
    W::SetI(panel, "Key", 7);
    W::SetI(panel, "SizeX", 200);
    W::SetI(panel, "SizeY", 50);
    TNBScreen* other = w.Make<TNBScreen>(w.root, "Other");
    W::SetI(other, "Key", 8);
    W::SetI(other, "SizeX", 30);

    TNBExScreen* ref = w.Make<TNBExScreen>(host, "Ref");
    EXPECT_EQ(ref->Target(), nullptr);
    EXPECT_EQ(ref->GetSizeX(), 0);
    W::SetI(ref, "obScreen", 7);
    EXPECT_EQ(ref->Target(), panel);
    EXPECT_EQ(ref->GetSizeX(), 200);
    EXPECT_EQ(ref->GetSizeY(), 50);

    // Writing obScreen drops the cache; the next use finds the new target.
    W::SetI(ref, "obScreen", 8);
    EXPECT_EQ(ref->Target(), other);
    EXPECT_EQ(ref->GetSizeX(), 30);

    // A freed target is searched again instead of being used.
    other->Free();
    EXPECT_EQ(ref->Target(), nullptr);
    EXPECT_EQ(ref->GetSizeX(), 0);
}

// A 200 x 50 panel with a 10 x 10 shape at its origin, embedded centred at
// X = 500 inside a host screen at X = 20.
struct PanelWorld : KindsWorld {
    PanelWorld() {
        host = Make<TNBScreen>(root, "Host");
        SetI(host, "Key", 1);
        SetI(host, "X", 20);
        panel = Make<TNBScreen>(root, "Panel");
        SetI(panel, "Key", 2);
        SetI(panel, "SizeX", 200);
        SetI(panel, "SizeY", 50);
        box = Make<TNBShape>(panel, "Box");
        SetI(box, "SizeX", 10);
        SetI(box, "SizeY", 10);
        ref = Make<TNBExScreen>(host, "Ref");
        SetI(ref, "obScreen", 2);
        SetI(ref, "PosHor", 1);
        SetI(ref, "PosVert", 2);
        SetI(ref, "X", 500);
        SetI(ref, "Y", 300);
    }
    TNBScreen* host;
    TNBScreen* panel;
    TNBShape* box;
    TNBExScreen* ref;
};

TEST(KindsExScreen, DrawsAlignedButHitTestsAtPlainPosition) {
    PanelWorld w;
    std::vector<Quad> q = w.Layers(w.host, 0, 0);
    ASSERT_EQ(q.size(), 1u);
    // Centred horizontally (500 - 100), bottom-aligned (300 - 50), plus the
    // host's X.
    EXPECT_DOUBLE_EQ(q[0].Left(), 420);
    EXPECT_DOUBLE_EQ(q[0].Top(), 250);
    EXPECT_EQ(w.ref->GetAbsX(), 420);
    EXPECT_EQ(w.ref->GetAbsY(), 250);

    // Hit testing moves the point by the plain X and Y only: the shape is
    // found where it would be if the panel started at the reference's X.
    EXPECT_EQ(W::Hit(w.host, 20 + 500 + 5, 300 + 5), w.box);
    EXPECT_EQ(W::Hit(w.host, 20 + 400 + 5, 250 + 5), nullptr);

    // A reference's own children are drawn (not aligned) but never hit.
    TNBShape* own = w.Make<TNBShape>(w.ref, "Own");
    W::SetI(own, "SizeX", 4);
    W::SetI(own, "SizeY", 4);
    W::SetI(own, "X", 50);
    q = w.Layers(w.host, 0, 0);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_DOUBLE_EQ(q[1].Left(), 570);
    EXPECT_DOUBLE_EQ(q[1].Top(), 300);
    EXPECT_EQ(W::Hit(w.host, 571, 301), nullptr);

    // Two references draw the target twice.
    TNBExScreen* second = w.Make<TNBExScreen>(w.host, "Ref2");
    W::SetI(second, "obScreen", 2);
    q = w.Layers(w.host, 0, 0);
    EXPECT_EQ(q.size(), 3u);
    EXPECT_DOUBLE_EQ(q[2].Left(), 20);
}

TEST(KindsExScreen, ModalReferenceStopsLowerLayers) {
    PanelWorld w;
    TNBShape* under = w.Make<TNBShape>(w.host, "Under");
    W::SetI(under, "Order", 1);
    W::SetI(under, "X", 900);
    W::SetI(under, "Y", 600);
    EXPECT_EQ(W::Hit(w.host, 930, 630, 0, 2), under);

    // References publish no Order; the layer is set as scripts' engine
    // functions set it.
    W::SetI(w.ref, "Modal", 1);
    w.ref->SetOrder(2);
    EXPECT_EQ(W::Hit(w.host, 930, 630, 0, 2), w.ref);
    // Hidden and not MousedNotVis: the reference takes nothing.
    W::SetI(w.ref, "Vis", 0);
    EXPECT_EQ(W::Hit(w.host, 930, 630, 0, 2), under);

    // Without a target a modal reference still blocks its layer.
    W::SetI(w.ref, "Vis", 1);
    W::SetI(w.ref, "obScreen", 99);
    EXPECT_EQ(w.ref->HitTest(2, 930 - 20, 630, 0, 0), w.ref);
    EXPECT_EQ(w.ref->HitTest(1, 930 - 20, 630, 0, 0), nullptr);
}

TEST(KindsExScreen, ForwardsHooksToTheTarget) {
    PanelWorld w;
    W::SetS(w.panel, "exShow", "Mark('show');");
    W::SetS(w.panel, "exProcess", "Mark('process');");
    W::SetS(w.panel, "exUpdate", "Mark('update');");
    W::SetS(w.panel, "exInit", "Mark('init');");
    W::SetS(w.ref, "exShow", "Mark('show');");
    W::SetS(w.ref, "exProcess", "Mark('process');");
    W::SetS(w.ref, "exUpdate", "Mark('update');");
    W::SetS(w.ref, "exInit", "Mark('init');");
    using V = std::vector<std::string>;

    // Becoming visible shows the target twice and the reference once;
    // writing the value it already has runs nothing.
    W::SetI(w.ref, "Vis", 0);
    EXPECT_TRUE(w.marks.empty());
    W::SetI(w.ref, "Vis", 1);
    EXPECT_EQ(w.marks, (V{"Panel:SHOW", "Ref:SHOW", "Panel:SHOW"}));
    w.marks.clear();
    W::SetI(w.ref, "Vis", 1);
    EXPECT_TRUE(w.marks.empty());

    w.ref->Process();
    EXPECT_EQ(w.marks, (V{"Panel:PROCESS", "Ref:PROCESS"}));
    w.marks.clear();
    W::SetI(w.ref, "Processing", 0);
    w.ref->Process();
    EXPECT_EQ(w.marks, (V{"Ref:PROCESS"}));
    w.marks.clear();

    w.ref->Update();
    w.ref->Init();
    w.ref->InitPr();
    EXPECT_EQ(w.marks, (V{"Panel:UPDATE", "Ref:UPDATE", "Panel:INIT", "Ref:INIT", "Panel:INIT", "Ref:INIT"}));
    w.marks.clear();

    // An invisible reference processes nothing at all.
    W::SetI(w.ref, "Processing", 1);
    W::SetI(w.ref, "Vis", 0);
    w.ref->Process();
    EXPECT_TRUE(w.marks.empty());
}

TEST(KindsExScreen, EachReferenceRunsTheTargetRenderHookOnItsLayer) {
    PanelWorld w;
    W::SetS(w.panel, "exRender", "Mark('render');");
    W::SetI(w.panel, "Order", 1);
    TNBExScreen* second = w.Make<TNBExScreen>(w.host, "Ref2");
    W::SetI(second, "obScreen", 2);
    w.Layers(w.host, 0, 2);
    EXPECT_EQ(w.marks, (std::vector<std::string>{"Panel:RENDER", "Panel:RENDER"}));
}

TEST(KindsExScreen, LoadImagesReachesTheTarget) {
    PanelWorld w;
    w.Opaque("panel.png", 200, 50);
    W::SetS(w.panel, "ImBack", "panel.png");
    TNBIm* e = w.registry.Find("panel.png");
    ASSERT_NE(e, nullptr);
    w.root->ClearLoaded();
    w.registry.ResetImageUse();
    w.ref->LoadImages();
    EXPECT_TRUE(w.ref->Loaded());
    EXPECT_TRUE(w.panel->Loaded());
    EXPECT_EQ(e->useCount, 1);
    // Already loaded: nothing is requested again.
    w.ref->LoadImages();
    EXPECT_EQ(e->useCount, 1);
    w.ref->ReloadImages();
    EXPECT_EQ(e->useCount, 2);
}

TEST(KindsExScreen, ReferenceToItsOwnScreenDoesNotRecurseForever) {
    KindsWorld w;
    TNBScreen* a = w.Make<TNBScreen>(w.root, "A");
    W::SetI(a, "Key", 5);
    W::SetS(a, "exShow", "Mark('show');");
    TNBShape* box = w.Make<TNBShape>(a, "Box");
    TNBExScreen* self = w.Make<TNBExScreen>(a, "Self");
    W::SetI(self, "obScreen", 5);
    // And a pair of screens embedding each other.
    TNBScreen* b = w.Make<TNBScreen>(w.root, "B");
    W::SetI(b, "Key", 6);
    TNBScreen* c = w.Make<TNBScreen>(w.root, "C");
    W::SetI(c, "Key", 7);
    W::SetI(w.Make<TNBExScreen>(b, "ToC"), "obScreen", 7);
    W::SetI(w.Make<TNBExScreen>(c, "ToB"), "obScreen", 6);

    // Each reference forwards once at a time: the screen appears once more
    // inside itself, then the cycle stops.
    EXPECT_EQ(w.Layers(a, 0, 0).size(), 2u);
    EXPECT_EQ(W::Hit(a, 5, 5), box);
    a->Show();
    EXPECT_EQ(w.marks.size(), 2u);
    a->Process();
    a->Init();
    a->InitPr();
    a->Update();
    a->ReloadImages();
    w.root->ClearLoaded();
    a->LoadImages();
    EXPECT_TRUE(a->Loaded());
    EXPECT_EQ(w.Layers(b, 0, 0).size(), 0u);
    EXPECT_EQ(W::Hit(b, 5, 5), nullptr);
    b->Show();
    b->ReloadImages();
}

}  // namespace
}  // namespace nb::kinds_test
