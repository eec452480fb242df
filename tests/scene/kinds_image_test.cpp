// Images: the thousandths views, colour views, sizes and alignment, the
// filtering rule, clipping to the drawing band, rotation, and the
// pixel-exact hit test with its margin and rotation rules.
#include <cmath>

#include "tests/scene/kinds_fixture.h"

namespace nb::kinds_test {
namespace {

using W = KindsWorld;

struct ImageWorld : KindsWorld {
    ImageWorld() { screen = Make<TNBScreen>(root, "S"); }
    TNBImage* Image(const std::string& picture, const char* id = "Img") {
        TNBImage* img = Make<TNBImage>(screen, id);
        if (!picture.empty()) SetS(img, "imImage", picture);
        return img;
    }
    TImageDrawPlan Plan(TNBImage* img, double ox = 0, double oy = 0) {
        TImageDrawPlan p;
        EXPECT_TRUE(img->PlanDraw(ox, oy, p));
        return p;
    }
    TNBScreen* screen;
};

TEST(KindsImage, ThousandthsAndColourViews) {
    ImageWorld w;
    TNBImage* img = w.Image("");
    // Halves round to even.
    W::SetR(img, "Scale", 1.0625);
    EXPECT_EQ(img->ScaleMilli(), 1062);
    EXPECT_DOUBLE_EQ(W::Get(img, "Scale").r, 1.062);
    W::SetR(img, "Angle", 0.0625);
    EXPECT_EQ(img->AngleMilli(), 62);
    W::SetR(img, "Angle", -0.1875);
    EXPECT_EQ(img->AngleMilli(), -188);
    W::SetR(img, "Scale", 0.0004);
    EXPECT_EQ(img->ScaleMilli(), 0);

    // Each view keeps the other part of the colour.
    W::SetI(img, "hxTrans", 128);
    EXPECT_EQ(img->Color(), 0x80FFFFFFu);
    W::SetI(img, "hxColor", 0xFF0000);
    EXPECT_EQ(img->Color(), 0x80FF0000u);
    EXPECT_EQ(W::Get(img, "hxColor").i, 0xFF0000);
    EXPECT_EQ(W::Get(img, "hxTrans").i, 128);
    W::SetI(img, "hxColor", 0x12345678);
    EXPECT_EQ(img->Color(), 0x80345678u);
}

TEST(KindsImage, SizeAndAbsolutePositionFollowTheAlignment) {
    ImageWorld w;
    w.Opaque("p.png", 40, 20);
    W::SetI(w.screen, "X", 10);
    TNBImage* img = w.Image("p.png");
    W::SetR(img, "Scale", 1.5);
    W::SetR(img, "ScaleX", 2.0);
    W::SetI(img, "X", 100);
    W::SetI(img, "Y", 100);
    EXPECT_EQ(img->GetSizeX(), 120);
    EXPECT_EQ(img->GetSizeY(), 30);
    EXPECT_EQ(img->GetAbsX(), 110);
    W::SetI(img, "PosHor", 1);
    W::SetI(img, "PosVert", 1);
    EXPECT_EQ(img->GetAbsX(), 10 + 100 - 60);
    EXPECT_EQ(img->GetAbsY(), 100 - 15);
    W::SetI(img, "PosHor", 2);
    W::SetI(img, "PosVert", 2);
    EXPECT_EQ(img->GetAbsX(), 10 + 100 - 120);
    EXPECT_EQ(img->GetAbsY(), 100 - 30);

    // Scale 0: no size, never hit even by a picture without alpha.
    W::SetR(img, "Scale", 0.0004);
    w.registry.Find("p.png")->image->AlphaLevel = TAlphaLevel::alNone;
    EXPECT_EQ(img->GetSizeX(), 0);
    for (int x = 0; x < 200; x += 3) EXPECT_EQ(img->HitTest(0, x, 100, 0, 0), nullptr);
}

TEST(KindsImage, CentredPictureAndItsChildren) {
    ImageWorld w;
    w.Opaque("p40.png", 40, 40);
    TNBImage* img = w.Image("p40.png");
    W::SetI(img, "PosHor", 1);
    W::SetI(img, "X", 100);
    W::SetI(img, "Y", 50);
    TNBShape* child = w.Make<TNBShape>(img, "Child");
    W::SetI(child, "SizeX", 5);
    W::SetI(child, "SizeY", 5);

    std::vector<Quad> q = w.Layers(w.screen, 0, 0);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_DOUBLE_EQ(q[0].Left(), 80);
    EXPECT_DOUBLE_EQ(q[0].Right(), 120);
    EXPECT_DOUBLE_EQ(q[0].Top(), 50);
    EXPECT_DOUBLE_EQ(q[0].Bottom(), 90);
    EXPECT_EQ(q[0].effect, 1284u);
    EXPECT_EQ(q[0].color[0], 0xFFFFFFFFu);
    EXPECT_FALSE(q[0].filtered);
    // The child's frame is the picture's top-left corner.
    EXPECT_DOUBLE_EQ(q[1].Left(), 80);
    EXPECT_DOUBLE_EQ(q[1].Top(), 50);
    EXPECT_EQ(W::Hit(w.screen, 82, 52), child);
    EXPECT_EQ(W::Hit(w.screen, 102, 52), img);

    // A tint goes to all four corners and makes the canvas modulate.
    W::SetI(img, "hxTrans", 128);
    q = w.Layers(w.screen, 0, 0);
    for (uint32_t c : q[0].color) EXPECT_EQ(c, 0x80FFFFFFu);
    EXPECT_EQ(q[0].effect, 1284u | gfxfx::kModulate);

    // Only the image's own layer draws the picture; children keep theirs.
    W::SetI(img, "Order", 3);
    q = w.Layers(w.screen, 0, 2);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].texture, 0u);
}

TEST(KindsImage, ChildFrameUsesTheRoundedSizeAndThePictureTestIgnoresScaleXY) {
    ImageWorld w;
    w.Opaque("p41.png", 41, 41);
    TNBImage* img = w.Image("p41.png");
    w.registry.Find("p41.png")->image->AlphaLevel = TAlphaLevel::alNone;
    W::SetI(img, "X", 100);
    W::SetR(img, "ScaleX", 1.5);
    TNBShape* child = w.Make<TNBShape>(img, "Child");
    W::SetI(child, "SizeX", 5);
    W::SetI(child, "SizeY", 5);

    // Right-anchored, 61.5 pixels drawn: the children's frame starts at 38.5
    // for drawing (the shape rounds it to 38, halves to even) and at
    // 100 - Round(61.5) = 38 for hit testing.
    W::SetI(img, "PosHor", 2);
    std::vector<Quad> q = w.Layers(w.screen, 0, 0);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_DOUBLE_EQ(q[0].Left(), 38.5);
    EXPECT_DOUBLE_EQ(q[1].Left(), 38);
    EXPECT_EQ(W::Hit(w.screen, 38, 2), child);
    EXPECT_EQ(W::Hit(w.screen, 43, 2), child);
    // The picture's own box is its unscaled 41 pixels around 100 - 20.
    EXPECT_EQ(W::Hit(w.screen, 44, 2), nullptr);
    EXPECT_EQ(W::Hit(w.screen, 59, 2), nullptr);
    EXPECT_EQ(W::Hit(w.screen, 60, 2), img);
    EXPECT_EQ(W::Hit(w.screen, 100, 2), img);
    EXPECT_EQ(W::Hit(w.screen, 101, 2), nullptr);

    // Centred: children hit-tested from 100 - (62 div 2) = 69 and drawn from
    // 69.25; the picture box is 80 ... 120 although 69.25 ... 130.75 is drawn.
    W::SetI(img, "PosHor", 1);
    q = w.Layers(w.screen, 0, 0);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_DOUBLE_EQ(q[0].Left(), 69.25);
    EXPECT_DOUBLE_EQ(q[1].Left(), 69);
    EXPECT_EQ(W::Hit(w.screen, 69, 2), child);
    EXPECT_EQ(W::Hit(w.screen, 75, 2), nullptr);
    EXPECT_EQ(W::Hit(w.screen, 120, 2), img);
    EXPECT_EQ(W::Hit(w.screen, 121, 2), nullptr);
    W::SetR(img, "ScaleY", 3);
    EXPECT_EQ(W::Hit(w.screen, 100, 41), nullptr);
}

TEST(KindsImage, FilteringRule) {
    ImageWorld w;
    w.Opaque("p40.png", 40, 40);
    w.Opaque("p41.png", 41, 41);
    TNBImage* img = w.Image("p40.png");

    W::SetR(img, "rX", 10.5);
    EXPECT_TRUE(w.Plan(img).filtered);
    W::SetR(img, "rX", 10);
    EXPECT_FALSE(w.Plan(img).filtered);
    for (double a : {90.0, 180.0, 270.0}) {
        W::SetR(img, "Angle", a);
        EXPECT_FALSE(w.Plan(img).filtered) << a;
    }
    for (double a : {-90.0, 360.0, 45.0, 0.001}) {
        W::SetR(img, "Angle", a);
        EXPECT_TRUE(w.Plan(img).filtered) << a;
    }
    W::SetR(img, "Angle", 0);
    // Centred, the centre is the anchor itself, so only the factors decide:
    // ScaleX 1.0004 rounds to 1000 thousandths and counts as 1.
    W::SetI(img, "PosHor", 1);
    W::SetI(img, "PosVert", 1);
    EXPECT_FALSE(w.Plan(img).filtered);
    W::SetR(img, "ScaleX", 1.0004);
    EXPECT_FALSE(w.Plan(img).filtered);
    W::SetR(img, "ScaleY", 1.0006);
    EXPECT_TRUE(w.Plan(img).filtered);
    W::SetR(img, "ScaleY", 1);
    W::SetR(img, "Scale", 1.001);
    EXPECT_TRUE(w.Plan(img).filtered);
    W::SetR(img, "Scale", 1);
    EXPECT_FALSE(w.Plan(img).filtered);
    // Offsets count: a half-pixel offset puts the centre between pixels.
    EXPECT_TRUE(w.Plan(img, 0.5, 0).filtered);
    W::SetR(img, "ScaleX", 1);
    W::SetI(img, "PosHor", 0);
    W::SetI(img, "PosVert", 0);

    // An odd size puts the centre of a left-anchored picture on a half pixel.
    W::SetS(img, "imImage", "p41.png");
    W::SetR(img, "Angle", 0);
    TImageDrawPlan p = w.Plan(img);
    EXPECT_DOUBLE_EQ(p.cx, 30.5);
    EXPECT_TRUE(p.filtered);
    std::vector<Quad> q = w.Layers(w.screen, 0, 0);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_TRUE(q[0].filtered);
    W::SetS(img, "imImage", "p40.png");
    q = w.Layers(w.screen, 0, 0);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_FALSE(q[0].filtered);
}

TEST(KindsImage, ClippingToTheDrawingBand) {
    ImageWorld w;
    w.Opaque("wide.png", 100, 10);
    w.Opaque("tall.png", 10, 100);
    TNBImage* img = w.Image("wide.png");

    W::SetR(img, "rX", -1100);
    TImageDrawPlan p = w.Plan(img);
    EXPECT_EQ(p.cutLeft, 75);
    EXPECT_EQ(p.cutRight, 0);
    EXPECT_EQ(p.source.x, 75);
    EXPECT_EQ(p.source.width, 25);
    EXPECT_DOUBLE_EQ(p.corners[0].x, -1025);
    EXPECT_DOUBLE_EQ(p.corners[1].x, -1000);

    // The texture coordinates follow the cut (the texture is 102 wide).
    std::vector<Quad> q = w.Layers(w.screen, 0, 0);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_FLOAT_EQ(q[0].u[0], 75.0f / 102.0f);
    EXPECT_FLOAT_EQ(q[0].u[1], 100.0f / 102.0f);

    W::SetR(img, "rX", 2000);
    p = w.Plan(img);
    EXPECT_EQ(p.cutLeft, 0);
    EXPECT_EQ(p.cutRight, 53);
    EXPECT_EQ(p.source.width, 47);
    EXPECT_DOUBLE_EQ(p.corners[0].x, 2000);
    EXPECT_DOUBLE_EQ(p.corners[1].x, 2047);

    // Cuts are counted in source pixels.
    W::SetR(img, "rX", -1100);
    W::SetR(img, "Scale", 2);
    p = w.Plan(img);
    EXPECT_EQ(p.cutLeft, 37);
    EXPECT_DOUBLE_EQ(p.corners[0].x, -1026);
    EXPECT_DOUBLE_EQ(p.corners[1].x, -900);
    W::SetR(img, "Scale", 1);
    W::SetR(img, "ScaleX", 4);
    EXPECT_EQ(w.Plan(img).cutLeft, 18);
    W::SetR(img, "ScaleX", 1);

    // Never below zero.
    W::SetR(img, "rX", -1024.4);
    EXPECT_EQ(w.Plan(img).cutLeft, 0);

    // Rotated pictures are cut as if unrotated: the centre moves along the
    // screen's x axis and the rest turns about the moved centre.
    W::SetR(img, "rX", -1100);
    W::SetR(img, "Angle", 90);
    p = w.Plan(img);
    EXPECT_EQ(p.cutLeft, 75);
    EXPECT_EQ(p.source.width, 25);
    EXPECT_DOUBLE_EQ(p.corners[0].x, -970);
    EXPECT_DOUBLE_EQ(p.corners[0].y, -45);
    EXPECT_DOUBLE_EQ(p.corners[2].x, -980);
    EXPECT_DOUBLE_EQ(p.corners[2].y, -20);
    W::SetR(img, "Angle", 0);

    // Vertically the same.
    W::SetS(img, "imImage", "tall.png");
    W::SetR(img, "rX", 0);
    W::SetR(img, "rY", -1100);
    p = w.Plan(img);
    EXPECT_EQ(p.cutTop, 75);
    EXPECT_EQ(p.source.y, 75);
    EXPECT_EQ(p.source.height, 25);
    EXPECT_DOUBLE_EQ(p.corners[0].y, -1025);
    EXPECT_DOUBLE_EQ(p.corners[3].y, -1000);

    // Entirely beyond the band: nothing is drawn (a sub-rectangle below one
    // pixel would otherwise stand for the whole picture).
    W::SetR(img, "rY", 5000);
    p = w.Plan(img);
    EXPECT_FALSE(p.visible);
    EXPECT_TRUE(w.Layers(w.screen, 0, 0).empty());
}

TEST(KindsImage, RotatedQuadAndRotatedHitArea) {
    ImageWorld w;
    // Left half opaque, right half transparent.
    w.Picture("half.png", 40, 10, [](int x, int) { return x < 20 ? 0xFFFFFFFFu : 0x00FFFFFFu; });
    TNBImage* img = w.Image("half.png");
    W::SetI(img, "PosHor", 1);
    W::SetI(img, "PosVert", 1);
    W::SetI(img, "X", 100);
    W::SetI(img, "Y", 100);

    EXPECT_EQ(W::Hit(w.screen, 85, 100), img);
    EXPECT_EQ(W::Hit(w.screen, 115, 100), nullptr);

    W::SetR(img, "Angle", 90);
    TImageDrawPlan p = w.Plan(img);
    // The top-left corner turns to the top right.
    EXPECT_DOUBLE_EQ(p.corners[0].x, 105);
    EXPECT_DOUBLE_EQ(p.corners[0].y, 80);
    EXPECT_DOUBLE_EQ(p.corners[2].x, 95);
    EXPECT_DOUBLE_EQ(p.corners[2].y, 120);
    // The opaque half now lies above the centre.
    EXPECT_EQ(W::Hit(w.screen, 100, 85), img);
    EXPECT_EQ(W::Hit(w.screen, 100, 115), nullptr);
    EXPECT_EQ(W::Hit(w.screen, 85, 100), nullptr);
}

TEST(KindsImage, AlphaThresholdAndFirstTexture) {
    ImageWorld w;
    w.Picture("alpha.png", 20, 20, [](int x, int) { return x < 10 ? 0x00FFFFFFu : 0x01FFFFFFu; });
    TNBImage* img = w.Image("alpha.png");
    EXPECT_EQ(W::Hit(w.screen, 5, 5), nullptr);
    EXPECT_EQ(W::Hit(w.screen, 15, 5), img);
    EXPECT_EQ(img->HitTest(0, 15, 5, 0, 1), nullptr);
    EXPECT_EQ(W::Hit(w.screen, 20, 5), nullptr);

    // Mouse visibility: hidden images need MousedNotVis, visible ones
    // MousedVis; another layer never hits.
    W::SetI(img, "Vis", 0);
    EXPECT_EQ(W::Hit(w.screen, 15, 5), nullptr);
    W::SetI(img, "MousedNotVis", 1);
    EXPECT_EQ(W::Hit(w.screen, 15, 5), img);
    W::SetI(img, "Vis", 1);
    W::SetI(img, "MousedVis", 0);
    EXPECT_EQ(W::Hit(w.screen, 15, 5), nullptr);
    W::SetI(img, "MousedVis", 1);
    EXPECT_EQ(img->HitTest(1, 15, 5, 0, 0), nullptr);

    // Two frames: the left one transparent, the right one opaque. Showing
    // frame 1 draws the other texture, but the hit test reads texture 0.
    w.Picture("strip.png", 80, 40, [](int x, int) { return x < 40 ? 0x00000000u : 0xFFFFFFFFu; });
    ASSERT_TRUE(fs::writeFile(w.folder + "strip.an", "2\r\n1\r\n", 6));
    w.written.push_back("strip.an");
    TNBImage* strip = w.Image("strip.png", "Strip");
    W::SetI(strip, "X", 200);
    EXPECT_EQ(strip->GetSizeX(), 40);
    W::SetI(img, "Vis", 0);
    W::SetI(img, "MousedNotVis", 0);
    const std::vector<Quad> q0 = w.Layers(w.screen, 0, 0);
    W::SetI(strip, "Anim", 1);
    const std::vector<Quad> q1 = w.Layers(w.screen, 0, 0);
    ASSERT_EQ(q0.size(), 1u);
    ASSERT_EQ(q1.size(), 1u);
    EXPECT_NE(q0[0].texture, q1[0].texture);
    EXPECT_EQ(W::Hit(w.screen, 220, 20), nullptr);
}

TEST(KindsImage, MarginPerAlignment) {
    ImageWorld w;
    w.Opaque("dot.png", 10, 10);
    TNBImage* img = w.Image("dot.png");
    W::SetI(img, "X", 50);
    W::SetI(img, "Y", 5);
    W::SetI(img, "PosVert", 1);
    auto hit = [&](int x) { return img->HitTest(0, x, 5, 3, 0) == img; };

    // Without an alpha channel the widened box decides: 2m to the right for
    // phLeft, m on both sides for phCenter, 2m to the left for phRight.
    w.registry.Find("dot.png")->image->AlphaLevel = TAlphaLevel::alNone;
    EXPECT_FALSE(hit(49));
    EXPECT_TRUE(hit(50));
    EXPECT_TRUE(hit(65));
    EXPECT_FALSE(hit(66));
    W::SetI(img, "PosHor", 1);
    EXPECT_FALSE(hit(41));
    EXPECT_TRUE(hit(42));
    EXPECT_TRUE(hit(57));
    EXPECT_FALSE(hit(58));
    W::SetI(img, "PosHor", 2);
    EXPECT_FALSE(hit(33));
    EXPECT_TRUE(hit(34));
    EXPECT_TRUE(hit(49));
    EXPECT_FALSE(hit(50));

    // With alpha the texel is read at coordinates that still include the
    // margin, so a centred picture's hit area moves left by m.
    w.registry.Find("dot.png")->image->AlphaLevel = TAlphaLevel::alFull;
    W::SetI(img, "PosHor", 1);
    EXPECT_TRUE(hit(42));
    EXPECT_TRUE(hit(51));
    EXPECT_FALSE(hit(52));
}

TEST(KindsImage, MissingDeferredAndFailedPictures) {
    ImageWorld w;
    // Found nowhere: size 0, never hit, children relative to X and Y.
    TNBImage* none = w.Image("nothing.png", "None");
    W::SetI(none, "X", 30);
    W::SetI(none, "Y", 40);
    W::SetI(none, "PosHor", 1);
    TNBShape* child = w.Make<TNBShape>(none, "Child");
    W::SetI(child, "SizeX", 5);
    W::SetI(child, "SizeY", 5);
    EXPECT_EQ(none->GetSizeX(), 0);
    std::vector<Quad> q = w.Layers(w.screen, 0, 0);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_DOUBLE_EQ(q[0].Left(), 30);
    EXPECT_DOUBLE_EQ(q[0].Top(), 40);
    EXPECT_EQ(W::Hit(w.screen, 31, 41), child);
    EXPECT_EQ(W::Hit(w.screen, 29, 39), nullptr);
    // A picture that is not there is looked for again at every drawing.
    TNBIm* missing = w.registry.Find("nothing.png");
    const int32_t uses = missing->useCount;
    w.Layers(w.screen, 0, 0);
    EXPECT_EQ(missing->useCount, uses + 1);

    // Deferred: the request only counts it; the first drawing loads it, and
    // the deferred state is back afterwards.
    w.Opaque("late.png", 8, 8);
    w.ctx.imageLoad.ready = false;
    TNBImage* late = w.Image("late.png", "Late");
    late->SetLoaded(true);
    EXPECT_EQ(late->LoadedPicture(), nullptr);
    EXPECT_EQ(w.ctx.imageLoad.forLoadCount, 1);
    const std::vector<Quad> drawn = w.Frame([&] { late->Render(0, 0xFFFFFFFFu, 0, 0, 0); });
    EXPECT_NE(late->LoadedPicture(), nullptr);
    EXPECT_EQ(drawn.size(), 1u);
    EXPECT_FALSE(w.ctx.imageLoad.ready);

    // Failed for good: drawing never asks again.
    w.ctx.imageLoad.ready = true;
    ASSERT_TRUE(fs::writeFile(w.folder + "bad.png", "not a picture", 13));
    w.written.push_back("bad.png");
    TNBImage* bad = w.Image("bad.png", "Bad");
    bad->SetLoaded(true);
    TNBIm* entry = bad->Picture();
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->failed);
    const int32_t badUses = entry->useCount;
    w.Frame([&] { bad->Render(0, 0xFFFFFFFFu, 0, 0, 0); });
    EXPECT_EQ(entry->useCount, badUses);
}

}  // namespace
}  // namespace nb::kinds_test
