// Animations: the baked frame table (spans, linear in-betweens, parts that
// stand still or vanish, cross-fades, direction patterns, splines), the
// rebuild triggers, playback with its hooks, drawing, script values, and
// references with their own counters.
#include <cmath>

#include "scene/Anim.h"
#include "tests/scene/kinds_fixture.h"
#include "tests/scene/scene_fixture.h"

namespace nb::kinds_test {
namespace {

using W = KindsWorld;

struct AnimWorld : KindsWorld {
    AnimWorld() {
        Opaque("a.png", 10, 10);
        Opaque("b.png", 20, 20);
        anim = Make<TNBAnim>(root, "An");
        anim->SetKey(5);
    }
    TNBAnKey* Key(int count, bool morph = false) {
        auto* k = Make<TNBAnKey>(anim);
        SetI(k, "Count", count);
        SetI(k, "Morph", morph ? 1 : 0);
        return k;
    }
    TNBImage* Part(TNBAnKey* k, const std::string& id, const std::string& pic, int x, int y = 0) {
        auto* p = Make<TNBImage>(k, id);
        SetS(p, "imImage", pic);
        SetI(p, "X", x);
        SetI(p, "Y", y);
        return p;
    }
    const std::vector<TSpriteRecord>& F(int p) { return anim->Frames().at(size_t(p)); }
    TScriptValue Value(TNBElement* e, const char* name, bool* handled = nullptr) {
        TScriptValue v = TScriptValue::string("<unhandled>");
        const bool h = e->GetValue(name, v);
        if (handled) *handled = h;
        return v;
    }
    TNBAnim* anim;
};

TEST(Anim, FrameSpansAndLinearInBetweens) {
    AnimWorld w;
    TNBAnKey* k1 = w.Key(3);
    TNBAnKey* k2 = w.Key(1);
    TNBImage* arm1 = w.Part(k1, "Arm", "a.png", 0, 7);
    w.Part(k2, "ARM", "a.png", 40, 7);  // matched ignoring case
    W::SetI(arm1, "hxTrans", 255);
    W::SetR(arm1, "Scale", 2);  // to 1 in the next key
    w.anim->Rebuild();

    ASSERT_EQ(w.anim->FrameCount(), 6);
    ASSERT_EQ(w.anim->Frames().size(), 6u);
    // Key 1 covers frames 0-3: x moves by 10 a frame; the centre adds half
    // the width at the interpolated scale (2, 1.75, 1.5, 1.25).
    const double scales[4] = {2, 1.75, 1.5, 1.25};
    for (int g = 0; g < 4; ++g) {
        ASSERT_EQ(w.F(g).size(), 1u) << g;
        EXPECT_DOUBLE_EQ(w.F(g)[0].scale, scales[g]);
        EXPECT_DOUBLE_EQ(w.F(g)[0].x, 10.0 * g + 5 * scales[g]) << g;
        EXPECT_DOUBLE_EQ(w.F(g)[0].y, 7 + 5 * scales[g]) << g;
    }
    // Key 2 is the last and Rep is off: the part stands still at 40.
    for (int g = 4; g < 6; ++g) {
        ASSERT_EQ(w.F(g).size(), 1u);
        EXPECT_DOUBLE_EQ(w.F(g)[0].x, 45);
        EXPECT_DOUBLE_EQ(w.F(g)[0].scale, 1);
    }

    // Opacity fades with Round, halves to even: 255 + Round(-63.75) = 191,
    // 255 + Round(-127.5) = 127, 255 + Round(-191.25) = 64.
    W::SetI(w.anim->Child(1)->Child(0), "hxTrans", 0);
    W::SetI(arm1, "hxColor", 0x123456);
    w.anim->Rebuild();
    const uint32_t alphas[4] = {255, 191, 127, 64};
    for (int g = 0; g < 4; ++g) EXPECT_EQ(w.F(g)[0].color, (alphas[g] << 24) | 0x123456u) << g;

    // With Rep the last key heads back to the first: 40, then 20 (d = 2).
    W::SetI(w.anim, "Rep", 1);
    w.anim->Rebuild();
    EXPECT_DOUBLE_EQ(w.F(4)[0].x, 45);
    EXPECT_DOUBLE_EQ(w.F(5)[0].x, 20 + 5 * 1.5);

    // Pos clamps to the new frame count: 5, or 0 with Rep.
    W::SetI(w.anim, "Pos", 100);
    EXPECT_EQ(w.anim->FramePos(), 0);
    W::SetI(w.anim, "Rep", 0);
    W::SetI(w.anim, "Pos", 100);
    EXPECT_EQ(w.anim->FramePos(), 5);
    (void)k2;
}

TEST(Anim, PartsThatStandStillVanishOrAreSkipped) {
    AnimWorld w;
    TNBAnKey* k1 = w.Key(2);
    TNBAnKey* k2 = w.Key(0);
    w.Part(k1, "", "a.png", 3);            // no Id: still in every frame
    w.Part(k1, "Gone", "a.png", 50);       // missing from the next key: not drawn
    w.Part(k1, "Nopic", "missing.png", 0);  // no picture: no part of the frames
    TNBImage* hidden = w.Part(k1, "Hidden", "b.png", 0);
    W::SetI(hidden, "Vis", 0);  // invisible parts are baked all the same
    w.Part(k2, "Hidden", "b.png", 30);
    w.Part(k2, "Nopic", "a.png", 0);
    w.anim->Rebuild();

    ASSERT_EQ(w.anim->FrameCount(), 4);
    for (int g = 0; g < 3; ++g) {
        ASSERT_EQ(w.F(g).size(), 2u) << g;
        EXPECT_DOUBLE_EQ(w.F(g)[0].x, 8);
        EXPECT_EQ(w.F(g)[0].picture, w.registry.Find("a.png"));
        EXPECT_DOUBLE_EQ(w.F(g)[1].x, 10.0 * g + 10);
        EXPECT_EQ(w.F(g)[1].picture, w.registry.Find("b.png"));
    }
    // The last key without Rep: every loaded part stands still.
    ASSERT_EQ(w.F(3).size(), 2u);
    EXPECT_DOUBLE_EQ(w.F(3)[0].x, 40);
    EXPECT_DOUBLE_EQ(w.F(3)[1].x, 5);

    // With Rep, a named part of the last key whose match in the first key
    // has no picture is skipped.
    W::SetI(w.anim, "Rep", 1);
    w.anim->Rebuild();
    ASSERT_EQ(w.F(3).size(), 1u);
    EXPECT_EQ(w.F(3)[0].picture, w.registry.Find("b.png"));

    // Parts without pictures leave frames without records.
    auto* empty = w.Make<TNBAnim>(w.root, "Empty");
    auto* ek = w.Make<TNBAnKey>(empty);
    W::SetI(ek, "Count", 2);
    w.Make<TNBImage>(ek, "P");
    empty->Rebuild();
    ASSERT_EQ(empty->FrameCount(), 3);
    for (const auto& frame : empty->Frames()) EXPECT_TRUE(frame.empty());
}

TEST(Anim, CrossFadesWhenThePictureChanges) {
    AnimWorld w;
    TNBAnKey* k1 = w.Key(4, true);
    TNBAnKey* k2 = w.Key(0);
    TNBImage* a = w.Part(k1, "P", "a.png", 0);
    W::SetI(a, "hxColor", 0x0000FF);
    W::SetR(a, "ScaleX", 1.0);
    TNBImage* e = w.Part(k2, "P", "b.png", 100, 10);
    W::SetI(e, "hxColor", 0x00FF00);
    W::SetI(e, "hxDrawFx", 7);
    W::SetR(e, "ScaleX", 3.0);
    w.anim->Rebuild();

    // Factors 255, 239, 223, 111.5, 0 for A and 0, 111.5, 223, 239, 255 for
    // E (of 255); 111.5 rounds to 112.
    const uint32_t fadeA[5] = {255, 239, 223, 112, 0};
    const uint32_t fadeE[5] = {0, 112, 223, 239, 255};
    for (int g = 0; g < 5; ++g) {
        ASSERT_EQ(w.F(g).size(), 2u) << g;
        const TSpriteRecord& ra = w.F(g)[0];
        const TSpriteRecord& re = w.F(g)[1];
        EXPECT_EQ(ra.color, (fadeA[g] << 24) | 0x0000FFu) << g;
        EXPECT_EQ(re.color, (fadeE[g] << 24) | 0x00FF00u) << g;
        // A stays put; E shows at its own place with its own effect.
        EXPECT_DOUBLE_EQ(ra.x, 5);
        EXPECT_EQ(ra.picture, w.registry.Find("a.png"));
        EXPECT_EQ(ra.drawFx, 1284u);
        EXPECT_DOUBLE_EQ(re.x, 110);
        EXPECT_DOUBLE_EQ(re.y, 20);
        EXPECT_EQ(re.picture, w.registry.Find("b.png"));
        EXPECT_EQ(re.drawFx, 7u);
        // The extra factors follow the interpolation for both.
        EXPECT_DOUBLE_EQ(ra.scaleX, 1 + 2.0 / 5 * g);
        EXPECT_DOUBLE_EQ(re.scaleX, ra.scaleX);
    }
    // The fades scale the parts' own opacity.
    W::SetI(a, "hxTrans", 100);
    w.anim->Rebuild();
    EXPECT_EQ(w.F(1)[0].color >> 24, 94u);   // 100 * 239 / 255 = 93.7
    EXPECT_EQ(w.F(3)[0].color >> 24, 44u);   // 100 * 111.5 / 255 = 43.7

    // Without Morph the old picture simply stays, with its own colour.
    W::SetI(k1, "Morph", 0);
    w.anim->Rebuild();
    for (int g = 0; g < 5; ++g) {
        ASSERT_EQ(w.F(g).size(), 1u);
        EXPECT_EQ(w.F(g)[0].color, 0x640000FFu);
        EXPECT_DOUBLE_EQ(w.F(g)[0].x, 5);
    }
    // A changed pattern counts as a change of picture.
    W::SetS(e, "imImage", "a.png");
    W::SetI(e, "Anim", 1);
    W::SetI(k1, "Morph", 1);
    W::SetI(k1, "Count", 2);
    ASSERT_EQ(w.anim->FrameCount(), 4);
    EXPECT_EQ(w.F(1).size(), 2u);
    EXPECT_EQ(w.F(1)[1].pattern, 1);

    // A one-frame Morph key has no halves to fade through: A is shown
    // unfaded and alone.
    W::SetI(k1, "Count", 0);
    ASSERT_EQ(w.anim->FrameCount(), 2);
    ASSERT_EQ(w.F(0).size(), 1u);
    EXPECT_EQ(w.F(0)[0].color, 0x640000FFu);

    // Count 1: h = 0.5; frame 1 already lies in the second half.
    W::SetI(k1, "Count", 1);
    ASSERT_EQ(w.F(1).size(), 2u);
    EXPECT_EQ(w.F(0)[0].color >> 24, 100u);
    EXPECT_EQ(w.F(0)[1].color >> 24, 0u);
    EXPECT_EQ(w.F(1)[0].color >> 24, 0u);
    EXPECT_EQ(w.F(1)[1].color >> 24, 255u);
}

TEST(Anim, DirectionPatternsFromTheAngle) {
    AnimWorld w;
    TNBAnKey* k = w.Key(0);
    TNBImage* dir = w.Part(k, "D", "a.png", 0);
    W::SetI(dir, "Anim", -1);
    W::SetR(dir, "Angle", 100);
    TNBImage* fixed = w.Part(k, "F", "a.png", 0);
    W::SetI(fixed, "Anim", 2);
    W::SetR(fixed, "Angle", 400);
    w.anim->Rebuild();
    ASSERT_EQ(w.F(0).size(), 2u);
    EXPECT_EQ(w.F(0)[0].pattern, 4);
    EXPECT_DOUBLE_EQ(w.F(0)[0].angle, 10);
    EXPECT_EQ(w.F(0)[1].pattern, 2);
    EXPECT_DOUBLE_EQ(w.F(0)[1].angle, 400) << "other patterns keep their angle";

    W::SetR(dir, "Angle", -10);
    w.anim->Rebuild();
    EXPECT_EQ(w.F(0)[0].pattern, 15);
    EXPECT_DOUBLE_EQ(w.F(0)[0].angle, 12.5);

    // Just below a full turn: Round(3599.99) div 225 would be 16; at most 15.
    W::SetR(dir, "Angle", 359.999);
    w.anim->Rebuild();
    EXPECT_EQ(w.F(0)[0].pattern, 15);
    EXPECT_NEAR(w.F(0)[0].angle, 359.999 - 337.5, 1e-9);

    // The animation's own turn counts, and angles beyond +-100 000 read 0.
    W::SetR(w.anim, "Angle", 30);
    W::SetR(dir, "Angle", 70);
    w.anim->Rebuild();
    EXPECT_EQ(w.F(0)[0].pattern, 4);
    EXPECT_DOUBLE_EQ(w.F(0)[0].angle, 10);
    W::SetR(w.anim, "Angle", 200000);
    w.anim->Rebuild();
    EXPECT_EQ(w.F(0)[0].pattern, 0);
    EXPECT_DOUBLE_EQ(w.F(0)[0].angle, 0);
    W::SetR(w.anim, "Angle", std::nan(""));
    w.anim->Rebuild();
    EXPECT_EQ(w.F(0)[0].pattern, 0);
}

TEST(Anim, SplineWithParabolicEnds) {
    TAnimSpline s;
    // Two samples: the straight line, continued beyond both ends.
    ASSERT_TRUE(s.Build({0, 4}, {0, 40}));
    EXPECT_DOUBLE_EQ(s.Eval(1), 10);
    EXPECT_DOUBLE_EQ(s.Eval(6), 60);
    EXPECT_DOUBLE_EQ(s.Eval(-2), -20);
    // Samples of a parabola are reproduced exactly, the ends included: a
    // natural spline would straighten them.
    ASSERT_TRUE(s.Build({0, 1, 3, 4}, {0, 1, 9, 16}));
    for (double t : {0.0, 0.5, 1.0, 2.0, 3.5, 4.0, 5.0, -1.0}) EXPECT_NEAR(s.Eval(t), t * t, 1e-9) << t;
    // Through every knot for other data too.
    ASSERT_TRUE(s.Build({0, 2, 4, 7, 8}, {3, -1, 4, 4, 0}));
    EXPECT_NEAR(s.Eval(2), -1, 1e-12);
    EXPECT_NEAR(s.Eval(7), 4, 1e-12);
    EXPECT_NEAR(s.Eval(8), 0, 1e-12);
    // Knots must increase strictly; one sample is no spline.
    EXPECT_FALSE(s.Build({0, 2, 2}, {1, 2, 3}));
    EXPECT_FALSE(s.Valid());
    EXPECT_FALSE(s.Build({0}, {1}));
    EXPECT_FALSE(s.Build({0, 1}, {1}));
}

TEST(Anim, SplinesThroughNamedPartsWhenAllowed) {
    AnimWorld w;
    // P's centres lie on x = f^2 + 5 at frames 0, 2, 4, so its spline is that
    // parabola; Q's scales go 3, 1, 1.
    TNBAnKey* k1 = w.Key(1);
    TNBAnKey* k2 = w.Key(1);
    TNBAnKey* k3 = w.Key(1);
    TNBImage* p1 = w.Part(k1, "P", "a.png", 0);
    w.Part(k2, "P", "a.png", 4);
    w.Part(k3, "P", "a.png", 16);
    TNBImage* q1 = w.Part(k1, "Q", "a.png", 0);
    w.Part(k2, "Q", "a.png", 0);
    w.Part(k3, "Q", "a.png", 0);
    W::SetR(q1, "Scale", 3);
    w.Part(k2, "P", "a.png", 500);  // the same name twice in a key: the first counts
    w.anim->Rebuild();
    // Not allowed by the animation: linear, and the last key stands still.
    EXPECT_DOUBLE_EQ(w.F(1)[0].x, 2 + 5);
    EXPECT_DOUBLE_EQ(w.F(1)[1].scale, 2);
    EXPECT_DOUBLE_EQ(w.F(5)[0].x, 21);

    W::SetI(w.anim, "Interpol", 1);
    w.anim->Rebuild();
    TAnimSpline sc;
    ASSERT_TRUE(sc.Build({0, 2, 4}, {3, 1, 1}));
    for (int f = 0; f < 6; ++f) {
        ASSERT_GE(w.F(f).size(), 2u) << f;
        // Beyond the last key the end piece continues.
        EXPECT_NEAR(w.F(f)[0].x, f * f + 5, 1e-9) << f;
        EXPECT_NEAR(w.F(f)[1].scale, sc.Eval(f), 1e-9) << f;
    }
    // The part may refuse the scales (its position still follows), or
    // everything.
    W::SetI(q1, "InterpolSc", 0);
    w.anim->Rebuild();
    EXPECT_DOUBLE_EQ(w.F(1)[1].scale, 2);
    EXPECT_NEAR(w.F(1)[0].x, 1 + 5, 1e-9);
    W::SetI(p1, "Interpol", 0);
    w.anim->Rebuild();
    EXPECT_DOUBLE_EQ(w.F(1)[0].x, 2 + 5);
    EXPECT_NEAR(w.F(3)[0].x, 9 + 5, 1e-9) << "only the refusing part's own key is linear";
    // A name seen in one key only keeps no spline.
    TNBAnKey* k4 = w.Key(0);
    w.Part(k4, "Solo", "a.png", 3);
    w.anim->Rebuild();
    ASSERT_EQ(w.F(6).size(), 1u);
    EXPECT_DOUBLE_EQ(w.F(6)[0].x, 8);
}

TEST(Anim, RebuildTriggersAndRestoring) {
    AnimWorld w;
    TNBAnKey* k1 = w.Key(3);
    TNBImage* p = w.Part(k1, "", "a.png", 0);
    w.anim->Rebuild();
    EXPECT_EQ(w.anim->FrameCount(), 4);
    // Writing Count rebuilds; so does the animation's Morph.
    W::SetI(k1, "Count", 1);
    EXPECT_EQ(w.anim->FrameCount(), 2);
    w.ctx.restoring = true;
    w.Key(2);
    w.ctx.restoring = false;
    EXPECT_EQ(w.anim->FrameCount(), 2);
    W::SetI(w.anim, "Morph", 1);
    EXPECT_EQ(w.anim->FrameCount(), 5);

    // Moving a part shows only after Update; the Update hook runs first.
    W::SetS(w.anim, "exUpdate", "Mark(COUNT)");
    W::SetI(p, "X", 20);
    EXPECT_DOUBLE_EQ(w.F(0)[0].x, 5);
    w.anim->Update();
    EXPECT_DOUBLE_EQ(w.F(0)[0].x, 25);
    EXPECT_EQ(w.marks, (std::vector<std::string>{"An:5"}));

    // Init, InitPr, LoadImages and ReloadImages rebuild too.
    W::SetI(p, "X", 30);
    w.anim->Init();
    EXPECT_DOUBLE_EQ(w.F(0)[0].x, 35);
    W::SetI(p, "X", 40);
    w.anim->InitPr();
    EXPECT_DOUBLE_EQ(w.F(0)[0].x, 45);
    W::SetI(p, "X", 50);
    w.anim->ReloadImages();
    EXPECT_DOUBLE_EQ(w.F(0)[0].x, 55);
    W::SetI(p, "X", 60);
    w.anim->ClearLoaded();
    w.anim->LoadImages();
    EXPECT_DOUBLE_EQ(w.F(0)[0].x, 65);
    W::SetI(p, "X", 70);
    w.anim->LoadImages();  // already loaded: nothing
    EXPECT_DOUBLE_EQ(w.F(0)[0].x, 65);

    // While a game file or saved state is read nothing is rebuilt, not even
    // the position clamp.
    w.ctx.restoring = true;
    W::SetI(k1, "Count", 9);
    w.anim->Rebuild();
    EXPECT_EQ(w.anim->FrameCount(), 5);
    w.ctx.restoring = false;

    // A key that reads its record asks for a rebuild.
    scene_test::Rec rec("TNBAnKey");
    rec.I("Count", 6).Child(scene_test::Rec("TNBImage").S("imImage", "b.png").R("rX", 1));
    auto* loaded = w.Make<TNBAnKey>(w.anim);
    loaded->LoadFromData(scene_test::Encode(rec));
    EXPECT_EQ(w.anim->FrameCount(), 10 + 3 + 7);
    ASSERT_EQ(w.F(13).size(), 1u);
    EXPECT_DOUBLE_EQ(w.F(13)[0].x, 11);
}

TEST(Anim, PlaybackStepsHooksAndStop) {
    AnimWorld w;
    w.Key(2);
    W::SetS(w.anim, "exAnim", "Mark(Pos)");
    W::SetS(w.anim, "exStop", "Mark('stop')");
    W::SetS(w.anim, "exProcess", "Mark('proc')");
    w.anim->Rebuild();
    ASSERT_EQ(w.anim->FrameCount(), 3);

    // Inactive: only the Process hook.
    w.anim->Process();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"An:PROC"}));
    w.marks.clear();

    W::SetI(w.anim, "Pos", 0);
    W::SetI(w.anim, "Active", 1);
    for (int i = 0; i < 4; ++i) w.anim->Process();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"An:1", "An:PROC", "An:2", "An:PROC", "An:STOP", "An:PROC",
                                                  "An:PROC"}));
    EXPECT_FALSE(w.anim->Active());
    EXPECT_EQ(w.anim->FramePos(), 2) << "the last frame stays";
    EXPECT_EQ(w.ctx.hookName, "Process");

    // Invisible: nothing at all, not even the Process hook.
    w.marks.clear();
    W::SetI(w.anim, "Active", 1);
    W::SetI(w.anim, "Pos", 0);
    W::SetI(w.anim, "Vis", 0);
    w.anim->Process();
    EXPECT_TRUE(w.marks.empty());
    EXPECT_EQ(w.anim->FramePos(), 0);

    // With Rep it wraps and never stops by itself.
    W::SetI(w.anim, "Vis", 1);
    W::SetI(w.anim, "Rep", 1);
    W::SetS(w.anim, "exProcess", "");
    for (int i = 0; i < 7; ++i) w.anim->Process();
    EXPECT_EQ(w.marks, (std::vector<std::string>{"An:1", "An:2", "An:0", "An:1", "An:2", "An:0", "An:1"}));
    EXPECT_TRUE(w.anim->Active());

    // A negative position steps up toward the start.
    W::SetI(w.anim, "Rep", 0);
    W::SetI(w.anim, "Pos", -2);
    w.anim->Process();
    EXPECT_EQ(w.anim->FramePos(), -1);
}

TEST(Anim, DrawsTheCurrentFrame) {
    AnimWorld w;
    w.Opaque("back.png", 64, 32);
    W::SetS(w.anim, "ImBack", "back.png");
    EXPECT_EQ(w.anim->GetSizeX(), 64);
    W::SetI(w.anim, "hxDrawFx", 3);
    W::SetI(w.anim, "X", 100);
    W::SetI(w.anim, "Y", 50);
    TNBAnKey* k1 = w.Key(1);
    TNBAnKey* k2 = w.Key(0);
    TNBImage* p = w.Part(k1, "P", "a.png", 0);
    W::SetI(p, "hxTrans", 128);
    W::SetI(p, "hxDrawFx", 9);
    TNBImage* q = w.Part(k2, "P", "a.png", 20);
    W::SetI(q, "hxTrans", 128);
    w.anim->Rebuild();
    W::SetI(w.anim, "ShowAn", 1);

    W::SetI(w.anim, "Pos", 1);
    std::vector<Quad> out = w.Layers(w.anim, 0, 0);
    ASSERT_EQ(out.size(), 2u);
    // The background at the animation's place, with the tint it is given.
    EXPECT_DOUBLE_EQ(out[0].Left(), 100);
    EXPECT_DOUBLE_EQ(out[0].Top(), 50);
    EXPECT_DOUBLE_EQ(out[0].Right(), 164);
    EXPECT_EQ(out[0].effect, 3u);
    // The sprite: centre (100 + 15, 50 + 5), its record's colour and effect,
    // always filtered.
    EXPECT_DOUBLE_EQ(out[1].Left(), 110);
    EXPECT_DOUBLE_EQ(out[1].Right(), 120);
    EXPECT_DOUBLE_EQ(out[1].Top(), 50);
    EXPECT_EQ(out[1].color[0], 0x80FFFFFFu);
    EXPECT_EQ(out[1].effect, 9u | gfxfx::kModulate);
    EXPECT_TRUE(out[1].filtered);

    // Offsets add to the place; the animation's Angle turns every sprite
    // about its centre.
    W::SetR(w.anim, "Angle", 90);
    W::SetR(p, "ScaleX", 2);
    W::SetR(q, "ScaleX", 2);
    w.anim->Rebuild();
    out = w.Frame([&] { w.anim->Render(0, 0xFFFFFFFFu, 1000, 0, 0); });
    ASSERT_EQ(out.size(), 2u);
    // Width 20 (ScaleX 2), height 10, centred at (1115, 55), turned upright.
    EXPECT_DOUBLE_EQ(out[1].Left(), 1110);
    EXPECT_DOUBLE_EQ(out[1].Right(), 1120);
    EXPECT_DOUBLE_EQ(out[1].Top(), 45);
    EXPECT_DOUBLE_EQ(out[1].Bottom(), 65);
    W::SetR(w.anim, "Angle", 0);
    W::SetR(p, "ScaleX", 1);
    W::SetR(q, "ScaleX", 1);
    w.anim->Rebuild();

    // Only the animation's layer; nothing for a position without a frame.
    W::SetI(w.anim, "Order", 2);
    EXPECT_TRUE(w.Layers(w.anim, 0, 1).empty());
    EXPECT_EQ(w.Layers(w.anim, 0, 2).size(), 2u);
    W::SetI(w.anim, "Order", 0);
    W::SetI(w.anim, "Pos", -1);
    EXPECT_TRUE(w.Layers(w.anim, 0, 0).empty());

    // A sprite far beyond the drawing band draws nothing; one reaching into
    // it is cut in source pixels.
    W::SetI(w.anim, "Pos", 0);
    W::SetI(p, "X", -5000);
    w.anim->Update();
    out = w.Layers(w.anim, 0, 0);
    ASSERT_EQ(out.size(), 1u);
    W::SetI(p, "X", -1130);  // left edge at -1030: six pixels cut, less one
    W::SetI(q, "X", -1130);
    w.anim->Update();
    out = w.Layers(w.anim, 0, 0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_DOUBLE_EQ(out[1].Left(), -1025);
    EXPECT_DOUBLE_EQ(out[1].Right(), -1020);

    // A picture that went away (a screen change released it) is skipped.
    TNBIm* entry = w.registry.Find("a.png");
    TRenderImage* kept = entry->image;
    entry->image = nullptr;
    EXPECT_EQ(w.Layers(w.anim, 0, 0).size(), 1u);
    entry->image = kept;
}

TEST(Anim, AuthoringViewDrawsTheKeys) {
    AnimWorld w;
    w.Opaque("back.png", 64, 32);
    W::SetS(w.anim, "ImBack", "back.png");
    W::SetI(w.anim, "X", 100);
    TNBAnKey* k1 = w.Key(1);
    TNBAnKey* k2 = w.Key(1);
    w.Part(k1, "P", "a.png", 1);
    w.Part(k2, "P", "b.png", 2);
    TNBAnKey* k3 = w.Key(1);
    w.Part(k3, "P", "a.png", 3);
    W::SetI(k3, "Vis", 0);
    w.anim->Rebuild();
    std::vector<Quad> out = w.Layers(w.anim, 0, 0);
    ASSERT_EQ(out.size(), 3u);
    // The background at the offsets alone; the keys from last to first at
    // the animation's place, hidden keys left out.
    EXPECT_DOUBLE_EQ(out[0].Left(), 0);
    EXPECT_DOUBLE_EQ(out[1].Left(), 102);
    EXPECT_DOUBLE_EQ(out[1].Right(), 122);
    EXPECT_DOUBLE_EQ(out[2].Left(), 101);
    EXPECT_DOUBLE_EQ(out[2].Right(), 111);
}

TEST(Anim, ScriptValuesOfTheCurrentFrame) {
    AnimWorld w;
    W::SetI(w.anim, "X", 100);
    W::SetI(w.anim, "Y", 200);
    TNBAnKey* k = w.Key(1);
    TNBImage* p1 = w.Part(k, "", "a.png", 10, 20);
    W::SetR(p1, "Angle", 30);
    W::SetI(p1, "Anim", 3);
    w.Part(k, "", "b.png", 1, 2);
    w.anim->Rebuild();

    EXPECT_EQ(w.Value(w.anim, "COUNT").toInt32(), 2);
    // Pos -1 after the first rebuild of a new animation: no frame.
    w.anim->SetFramePos(-1);
    TScriptValue v = w.Value(w.anim, "KEYX");
    EXPECT_EQ(v.toInt32(), 0);
    EXPECT_FALSE(v.isString());

    W::SetI(w.anim, "Pos", 1);
    EXPECT_DOUBLE_EQ(w.Value(w.anim, "KEYX").toReal(), 100 + 15);
    EXPECT_DOUBLE_EQ(w.Value(w.anim, "KEYY").toReal(), 200 + 25);
    EXPECT_DOUBLE_EQ(w.Value(w.anim, "KEYANG").toReal(), 30);
    EXPECT_EQ(w.Value(w.anim, "KEYAN").toInt32(), 3);
    EXPECT_DOUBLE_EQ(w.Value(w.anim, "KEYX[2]").toReal(), 100 + 11);
    EXPECT_DOUBLE_EQ(w.Value(w.anim, "KEYY[2]").toReal(), 200 + 12);
    bool handled = false;
    EXPECT_EQ(w.Value(w.anim, "KEYX[3]", &handled).toInt32(), 0);
    EXPECT_TRUE(handled);
    EXPECT_EQ(w.Value(w.anim, "KEYY[0]", &handled).toInt32(), 0);
    EXPECT_TRUE(handled);
    w.Value(w.anim, "KEYX[A]", &handled);
    EXPECT_FALSE(handled) << "not a number";
    w.Value(w.anim, "KEYX[", &handled);
    EXPECT_FALSE(handled);
    // Published properties come first.
    EXPECT_EQ(w.Value(w.anim, "POS").toInt32(), 1);
}

TEST(Anim, ReferencesPlayWithTheirOwnCounter) {
    AnimWorld w;
    w.Opaque("back.png", 64, 32);
    W::SetS(w.anim, "ImBack", "back.png");
    W::SetI(w.anim, "X", 900);  // the animation's own place plays no part
    TNBAnKey* k1 = w.Key(2);
    TNBAnKey* k2 = w.Key(0);
    w.Part(k1, "P", "a.png", 0);
    w.Part(k2, "P", "a.png", 30);
    w.anim->Rebuild();
    W::SetI(w.anim, "ShowAn", 1);
    W::SetI(w.anim, "Vis", 0);

    TNBScreen* s = w.Make<TNBScreen>(w.root, "S");
    auto* ref = w.Make<TNBExAnim>(s, "R");
    W::SetI(ref, "X", 100);
    W::SetI(ref, "Y", 100);
    W::SetI(ref, "PosHor", 1);
    W::SetI(ref, "PosVert", 2);
    w.Make<TNBShape>(ref, "Child");  // never drawn
    // No target: nothing drawn, no size.
    EXPECT_EQ(ref->GetSizeX(), 0);
    EXPECT_TRUE(w.Layers(s, 0, 0).empty());

    W::SetI(ref, "obAnim", 5);
    EXPECT_EQ(ref->GetSizeX(), 64);
    EXPECT_EQ(ref->GetAbsX(), 100 - 32);
    EXPECT_EQ(ref->GetAbsY(), 100 - 32);
    W::SetI(ref, "Pos", 1);
    std::vector<Quad> out = w.Layers(s, 0, 0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_DOUBLE_EQ(out[0].Left(), 68);
    EXPECT_DOUBLE_EQ(out[0].Top(), 68);
    EXPECT_DOUBLE_EQ(out[1].Left(), 68 + 10);

    // Its own counter: a step per tick, no hooks, the last frame held.
    W::SetS(w.anim, "exAnim", "Mark('anim')");
    W::SetI(ref, "Active", 1);
    for (int i = 0; i < 5; ++i) ref->Process();
    EXPECT_EQ(ref->FramePos(), 3);
    EXPECT_EQ(w.anim->FramePos(), 0) << "the animation's own counter is untouched";
    EXPECT_TRUE(w.marks.empty());
    W::SetI(ref, "Rep", 1);
    ref->Process();
    EXPECT_EQ(ref->FramePos(), 0);
    // A negative position does not advance.
    W::SetI(ref, "Pos", -1);
    ref->Process();
    EXPECT_EQ(ref->FramePos(), -1);
    EXPECT_TRUE(w.Layers(s, 0, 0).empty());

    // Only on the reference's layer (a layer it never publishes).
    W::SetI(ref, "Pos", 0);
    ref->SetOrder(1);
    EXPECT_TRUE(w.Layers(s, 0, 0).empty());
    EXPECT_EQ(w.Layers(s, 1, 1).size(), 2u);

    // Without a target the counter runs free but saturates.
    W::SetI(ref, "obAnim", 99);
    W::SetI(ref, "Pos", INT32_MAX);
    ref->Process();
    EXPECT_EQ(ref->FramePos(), INT32_MAX);
}

TEST(Anim, DamagedInputStaysBounded) {
    AnimWorld w;
    // Keys beyond about ten hours of frames are left out.
    for (int i = 0; i < 17; ++i) {
        auto* k = w.Make<TNBAnKey>(w.anim);
        w.ctx.restoring = true;  // one rebuild at the end, not seventeen
        W::SetI(k, "Count", 65535);
        w.ctx.restoring = false;
    }
    w.anim->Rebuild();
    EXPECT_EQ(w.anim->FrameCount(), TNBAnim::kMaxFrames);
    EXPECT_EQ(w.anim->Frames().size(), size_t(TNBAnim::kMaxFrames));
}

}  // namespace
}  // namespace nb::kinds_test
