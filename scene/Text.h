// TNBText: a string drawn in a bitmap font inside a SizeX x SizeY box: split
// into lines at explicit breaks, optionally word-wrapped to the box width,
// aligned in the box, scaled, and coloured with a vertical gradient from a
// top colour to a bottom colour. The string comes either directly (Text) or
// from the current language (TextId). The box takes the mouse like a shape.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "scene/Element.h"

namespace nb {

class TRenderFont;

class TNBText : public TNBElement {
public:
    TNBText(TSceneContext& ctx, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;

    void SetSizeX(int32_t v) override;
    void SetSizeY(int32_t v) override { sizeY_ = v; }
    int32_t GetSizeX() override { return sizeX_; }
    int32_t GetSizeY() override { return sizeY_; }
    TNBElement* HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) override;
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;
    // TEXTSZ: the width of Text in the font at the element's Scale (0
    // without a font).
    bool TextSize(double& width) override;

    // The laid-out text: lines separated by the character 0. Explicit breaks
    // are CR LF and the two characters backslash and "n". With `autoEnter`
    // the lines flow into one paragraph wrapped at `boxWidth`, measured by
    // `width`.
    static std::string LayOut(std::string_view text, bool autoEnter, int32_t boxWidth,
                              const std::function<double(std::string_view)>& width);

    // One line as Render draws it.
    struct TLine {
        std::string text;
        int32_t x = 0, y = 0;
    };
    // The lines of the laid-out text with their drawing positions at offsets
    // (ox, oy); empty without a font or text.
    std::vector<TLine> Lines(double ox, double oy);

    // The Text setter: lays the text out again with `v` (or with the
    // translation of TextId when that is set).
    void SetText(std::string v);
    const std::string& Text() const { return text_; }
    const std::string& LaidOut() const { return laid_; }
    void SetTextId(std::string id);
    const std::string& TextId() const { return textId_; }
    // Looks the font up in the font list, then lays the text out again.
    void SetFont(std::string name);
    const std::string& FontName() const { return fontName_; }
    // The font of that name in the font list, when the last Font write found
    // one; null otherwise.
    TRenderFont* Font() const;

    void SetScale(double v);
    double Scale() const { return scale_; }
    void SetEnEnter(bool v);
    void SetAutoEnter(bool v);
    void SetAutoScale(bool v);
    bool EnEnter() const { return enEnter_; }
    bool AutoEnter() const { return autoEnter_; }
    bool AutoScale() const { return autoScale_; }
    double Interval() const { return interval_; }
    void SetInterval(double v) { interval_ = v; }
    uint32_t TopColor() const { return top_; }
    uint32_t BottomColor() const { return bottom_; }
    void SetTopColor(uint32_t c) { top_ = c; }
    void SetBottomColor(uint32_t c) { bottom_ = c; }
    uint32_t DrawFx() const { return drawFx_; }
    uint8_t PosHor() const { return posHor_; }
    uint8_t PosVert() const { return posVert_; }

private:
    void Relayout() { SetText(text_); }

    uint32_t drawFx_ = 1284;
    uint32_t top_ = 0xFFFFFFFFu;
    uint32_t bottom_ = 0x00000000u;
    int32_t sizeX_ = 100;
    int32_t sizeY_ = 100;
    std::string text_;
    uint8_t posHor_ = 0;
    uint8_t posVert_ = 0;
    std::string fontName_;
    // The font list may be rebuilt (window-mode switch) while a text keeps
    // its name; the font is therefore looked up by name when used, and this
    // only records whether the last Font write found one.
    bool fontFound_ = false;
    bool enEnter_ = false;
    bool autoScale_ = false;
    bool autoEnter_ = false;
    std::string laid_;
    double interval_ = 0;
    std::string textId_;
    double scale_ = 1.0;
};

}  // namespace nb
