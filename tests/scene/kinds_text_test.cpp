// Texts and shapes: line breaks and word wrap, the setters that lay the
// text out again, line placement in the box, drawing, language texts, the
// TEXTSZ value, and the closed-box hit rule both kinds share.
#include "tests/scene/kinds_fixture.h"

namespace nb::kinds_test {
namespace {

using W = KindsWorld;
using namespace std::string_literals;

// Ten pixels per character, as the test fonts measure.
double TenPerChar(std::string_view s) { return 10.0 * double(s.size()); }

TEST(KindsTextLayout, ExplicitBreaks) {
    auto lay = [](std::string_view t) { return TNBText::LayOut(t, false, 100, TenPerChar); };
    EXPECT_EQ(lay("One\\nTwo"), "One\0Two\0"s);
    EXPECT_EQ(lay("One\r\nTwo"), "One\0Two\0"s);
    EXPECT_EQ(lay("One\\nTwo\r\nThree"), "One\0Two\0Three\0"s);
    // Whichever break comes first ends the line.
    EXPECT_EQ(lay("a\r\nb\\nc"), "a\0b\0c\0"s);
    EXPECT_EQ(lay("a\\nb\r\nc"), "a\0b\0c\0"s);
    // A lone CR, LF or backslash is no break.
    EXPECT_EQ(lay("a\rb\nc\\d"), "a\rb\nc\\d\0"s);
    EXPECT_EQ(lay("\r\n"), "\0"s);
    EXPECT_EQ(lay("x\\n"), "x\0"s);
    EXPECT_EQ(lay(""), "");
}

TEST(KindsTextLayout, WordWrapFlowsAsOneParagraph) {
    auto wrap = [](std::string_view t, int box) { return TNBText::LayOut(t, true, box, TenPerChar); };
    // Explicit breaks only separate words once wrapping is on.
    EXPECT_EQ(wrap("One\\nTwo", 100), "One Two");
    // Three 60-pixel words in a 100-pixel box: three lines.
    EXPECT_EQ(wrap("aaaaaa bbbbbb cccccc", 100), "aaaaaa\0bbbbbb\0cccccc"s);
    // After a break x is the word's width without its space (60, not 70),
    // so a 40-pixel " ddd" still fits behind it.
    EXPECT_EQ(wrap("aaaaaa bbbbbb ddd", 100), "aaaaaa\0bbbbbb ddd"s);
    EXPECT_EQ(wrap("aaaaaa bbbbbb dddd", 100), "aaaaaa\0bbbbbb\0dddd"s);
    // A first word wider than the box stays whole.
    EXPECT_EQ(wrap("aaaaaaaaaaaa bb", 100), "aaaaaaaaaaaa\0bb"s);
    // Exactly filling the box is no overflow.
    EXPECT_EQ(wrap("aaaa bbbbb", 100), "aaaa bbbbb");
}

struct TextWorld : KindsWorld {
    TextWorld() {
        screen = Make<TNBScreen>(root, "S");
        text = Make<TNBText>(screen, "T");
    }
    TNBScreen* screen;
    TNBText* text;
};

TEST(KindsText, SettersLayOutAgain) {
    TextWorld w;
    TNBText* t = w.text;
    // No font: the text is kept as it is.
    W::SetS(t, "Font", "Arial");
    W::SetI(t, "EnEnter", 1);
    W::SetS(t, "Text", "One\\nTwo");
    EXPECT_EQ(t->LaidOut(), "One\\nTwo");
    // The font is looked up when Font is written.
    w.Font("ARIAL", 10, 20);
    EXPECT_EQ(t->LaidOut(), "One\\nTwo");
    W::SetS(t, "Font", "Arial");
    EXPECT_EQ(t->LaidOut(), "One\0Two\0"s);

    W::SetI(t, "EnEnter", 0);
    EXPECT_EQ(t->LaidOut(), "One\\nTwo");
    W::SetI(t, "EnEnter", 1);
    W::SetI(t, "AutoEnter", 1);
    EXPECT_EQ(t->LaidOut(), "One Two");
    W::SetI(t, "SizeX", 50);
    EXPECT_EQ(t->LaidOut(), "One\0Two"s);
    W::SetI(t, "SizeX", 100);
    EXPECT_EQ(t->LaidOut(), "One Two");
    // Scale changes the measure.
    W::SetR(t, "Scale", 2);
    EXPECT_EQ(t->LaidOut(), "One\0Two"s);
    // SizeY and Interval only store.
    W::SetR(t, "Scale", 1);
    W::SetI(t, "SizeY", 7);
    W::SetR(t, "Interval", 3);
    EXPECT_EQ(t->LaidOut(), "One Two");
    EXPECT_EQ(t->GetSizeY(), 7);

    // Colour views keep the other part.
    W::SetI(t, "hxTrans2", 255);
    W::SetI(t, "hxColor2", 0x00FF00);
    EXPECT_EQ(t->BottomColor(), 0xFF00FF00u);
    W::SetI(t, "hxTrans1", 0x10);
    EXPECT_EQ(t->TopColor(), 0x10FFFFFFu);
}

TEST(KindsText, LinesInTheBox) {
    TextWorld w;
    TNBText* t = w.text;
    w.Font("F", 10, 20);
    W::SetS(t, "Font", "F");
    W::SetI(t, "EnEnter", 1);
    W::SetS(t, "Text", "ab\\nabc\\nabcd");
    W::SetR(t, "Interval", 5);
    W::SetR(t, "rX", 3);
    W::SetR(t, "rY", 2);

    // Block of three 20-pixel lines with 5 between: 70 high.
    W::SetI(t, "PosVert", 1);
    std::vector<TNBText::TLine> l = t->Lines(10, 20);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0].text, "ab");
    EXPECT_EQ(l[2].text, "abcd");
    EXPECT_EQ(l[0].y, 20 + 2 + 15);
    EXPECT_EQ(l[1].y, 20 + 2 + 40);
    EXPECT_EQ(l[2].y, 20 + 2 + 65);
    EXPECT_EQ(l[0].x, 13);
    W::SetI(t, "PosVert", 2);
    EXPECT_EQ(t->Lines(0, 0)[0].y, 2 + 30);

    // Each line is aligned on its own width.
    W::SetI(t, "PosHor", 1);
    l = t->Lines(0, 0);
    EXPECT_EQ(l[0].x, 3 + 40);
    EXPECT_EQ(l[1].x, 3 + 35);
    W::SetI(t, "PosHor", 2);
    l = t->Lines(0, 0);
    EXPECT_EQ(l[1].x, 3 + 70);

    // Positions round half to even.
    W::SetI(t, "PosHor", 0);
    W::SetI(t, "PosVert", 0);
    W::SetR(t, "rY", 0);
    W::SetR(t, "Interval", 2.5);
    l = t->Lines(0, 0);
    EXPECT_EQ(l[1].y, 22);
    EXPECT_EQ(l[2].y, 45);
    W::SetR(t, "rX", 0.5);
    EXPECT_EQ(t->Lines(0, 0)[0].x, 0);
    W::SetR(t, "rX", 1.5);
    EXPECT_EQ(t->Lines(0, 0)[0].x, 2);
}

TEST(KindsText, DrawsGlyphsWithGradientOnItsLayer) {
    TextWorld w;
    TNBText* t = w.text;
    w.Font("F", 10, 20);
    W::SetS(t, "Font", "F");
    W::SetS(t, "Text", "ab");
    W::SetI(t, "Order", 1);
    W::SetI(t, "X", 30);
    W::SetI(t, "Y", 40);

    EXPECT_TRUE(w.Layers(w.screen, 0, 0).empty());
    std::vector<Quad> q = w.Layers(w.screen, 0, 2);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_DOUBLE_EQ(q[0].Left(), 30);
    EXPECT_DOUBLE_EQ(q[0].Top(), 40);
    EXPECT_DOUBLE_EQ(q[1].Left(), 40);
    // Top corners take the top colour, bottom corners the bottom colour,
    // which a new text leaves fully transparent.
    EXPECT_EQ(q[0].color[0], 0xFFFFFFFFu);
    EXPECT_EQ(q[0].color[1], 0xFFFFFFFFu);
    EXPECT_EQ(q[0].color[2], 0x00000000u);
    EXPECT_EQ(q[0].color[3], 0x00000000u);
    EXPECT_EQ(q[0].effect & 0xFFFFFFu, 1284u);
    EXPECT_FALSE(q[0].filtered);

    // Without EnEnter the breaks are drawn as characters on one line.
    W::SetS(t, "Text", "a\r\nb");
    EXPECT_EQ(t->Lines(0, 0).size(), 1u);
    W::SetI(t, "EnEnter", 1);
    EXPECT_EQ(t->Lines(0, 0).size(), 2u);

    // Any scale but 1 draws filtered.
    W::SetS(t, "Text", "ab");
    W::SetR(t, "Scale", 1.5);
    q = w.Layers(w.screen, 1, 1);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_TRUE(q[0].filtered);
    EXPECT_DOUBLE_EQ(q[1].Left(), 45);
}

TEST(KindsText, LanguageTextsAndTextSize) {
    TextWorld w;
    const std::string lang = "[Menu]\r\nStart=Begin game\r\n";
    ASSERT_TRUE(fs::writeFile(w.folder + "eng.lng", lang.data(), lang.size()));
    w.written.push_back("eng.lng");
    w.ctx.SetGameFolder(w.folder);
    W::SetS(w.root, "Lang", "eng.lng");
    TNBText* t = w.text;

    W::SetS(t, "TextId", "Menu.Start");
    EXPECT_EQ(t->Text(), "Begin game");
    // Writing Text while TextId is set keeps the translation.
    W::SetS(t, "Text", "Other");
    EXPECT_EQ(t->Text(), "Begin game");
    W::SetS(t, "TextId", "Menu.Nothing");
    EXPECT_EQ(t->Text(), "");
    W::SetS(t, "TextId", "");
    W::SetS(t, "Text", "Other");
    EXPECT_EQ(t->Text(), "Other");

    // TEXTSZ: the width of Text at the text's Scale; only texts answer.
    TScriptValue v;
    ASSERT_TRUE(t->GetValue("TEXTSZ", v));
    EXPECT_EQ(v.toReal(), 0.0);
    w.Font("F", 10, 20);
    W::SetS(t, "Font", "F");
    W::SetR(t, "Scale", 2);
    ASSERT_TRUE(t->GetValue("TEXTSZ", v));
    EXPECT_EQ(v.kind(), ValueKind::Real);
    EXPECT_DOUBLE_EQ(v.toReal(), 100.0);
    TNBShape* shape = w.Make<TNBShape>(w.screen, "Box");
    EXPECT_FALSE(shape->GetValue("TEXTSZ", v));
}

TEST(KindsText, FontListRebuiltUnderAText) {
    TextWorld w;
    TNBText* t = w.text;
    w.Font("F", 10, 20);
    W::SetS(t, "Font", "F");
    W::SetI(t, "EnEnter", 1);
    W::SetS(t, "Text", "a\\nb");
    ASSERT_NE(t->Font(), nullptr);

    // The fonts are dropped (a window-mode switch reloads them): the text
    // must not reach the old font.
    w.fonts.RemoveAll();
    EXPECT_EQ(t->Font(), nullptr);
    W::SetS(t, "Text", "c\\nd");
    EXPECT_EQ(t->LaidOut(), "c\\nd");
    TScriptValue v;
    ASSERT_TRUE(t->GetValue("TEXTSZ", v));
    EXPECT_EQ(v.toReal(), 0.0);
    EXPECT_TRUE(w.Layers(w.screen, 0, 0).empty());

    // Reloaded under the same name, the font is looked up again when the
    // loaded texts write their Font back, as after a window-mode switch.
    w.Font("f", 10, 20);
    w.screen->ReloadImages();
    ASSERT_NE(t->Font(), nullptr);
    EXPECT_EQ(t->LaidOut(), "c\0d\0"s);
    EXPECT_EQ(w.Layers(w.screen, 0, 0).size(), 2u);
}

TEST(KindsShapeAndText, ClosedBoxHitsAndNoChildren) {
    TextWorld w;
    TNBShape* s = w.Make<TNBShape>(w.screen, "Box");
    TNBShape* inner = w.Make<TNBShape>(s, "Inner");
    W::SetI(inner, "X", 150);

    EXPECT_EQ(s->HitTest(0, 100, 100, 0, 0), s);
    EXPECT_EQ(s->HitTest(0, 0, 0, 0, 0), s);
    EXPECT_EQ(s->HitTest(0, 101, 50, 0, 0), nullptr);
    EXPECT_EQ(s->HitTest(0, 50, -1, 0, 0), nullptr);
    EXPECT_EQ(s->HitTest(0, 160, 10, 0, 0), nullptr);
    EXPECT_EQ(s->HitTest(1, 50, 50, 0, 0), nullptr);
    W::SetI(s, "Vis", 0);
    EXPECT_EQ(s->HitTest(0, 50, 50, 0, 0), nullptr);
    W::SetI(s, "MousedNotVis", 1);
    EXPECT_EQ(s->HitTest(0, 50, 50, 0, 0), s);

    TNBText* t = w.text;
    W::SetI(t, "X", 10);
    W::SetI(t, "Y", 20);
    W::SetI(t, "SizeY", 50);
    EXPECT_EQ(t->HitTest(0, 10, 20, 0, 0), t);
    EXPECT_EQ(t->HitTest(0, 110, 70, 0, 0), t);
    EXPECT_EQ(t->HitTest(0, 111, 70, 0, 0), nullptr);
    EXPECT_EQ(t->HitTest(0, 9, 30, 0, 0), nullptr);
    W::SetI(t, "MousedVis", 0);
    EXPECT_EQ(t->HitTest(0, 50, 30, 0, 0), nullptr);
}

TEST(KindsShape, FillsItsRectangleOnItsLayer) {
    TextWorld w;
    w.text->Free();
    TNBShape* s = w.Make<TNBShape>(w.screen, "Box");
    w.Make<TNBShape>(s, "Inner");
    W::SetR(s, "rX", 10.5);
    W::SetR(s, "rY", 11.5);
    W::SetI(s, "SizeX", 30);
    W::SetI(s, "SizeY", 40);
    W::SetI(s, "hxTrans", 0x40);
    W::SetI(s, "hxColor", 0x102030);
    W::SetI(s, "Order", 2);

    EXPECT_TRUE(w.Layers(w.screen, 0, 1).empty());
    std::vector<Quad> q = w.Frame([&] { w.screen->Render(2, 0xFFFFFFFFu, 100, 200, 0); });
    // Position rounded half to even, no child drawn.
    ASSERT_EQ(q.size(), 1u);
    EXPECT_DOUBLE_EQ(q[0].Left(), 110);
    EXPECT_DOUBLE_EQ(q[0].Top(), 212);
    EXPECT_DOUBLE_EQ(q[0].Right(), 140);
    EXPECT_DOUBLE_EQ(q[0].Bottom(), 252);
    EXPECT_EQ(q[0].color[0], 0x40102030u);
    EXPECT_EQ(q[0].effect, 1284u | gfxfx::kModulate);
}

}  // namespace
}  // namespace nb::kinds_test
