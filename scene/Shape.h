// TNBShape: a filled, blended rectangle of SizeX x SizeY in one colour. It
// takes the mouse over its whole rectangle, both edges included, and neither
// draws nor hit-tests children.
#pragma once

#include <cstdint>

#include "scene/Element.h"

namespace nb {

class TNBShape : public TNBElement {
public:
    TNBShape(TSceneContext& ctx, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;

    void SetSizeX(int32_t v) override { sizeX_ = v; }
    void SetSizeY(int32_t v) override { sizeY_ = v; }
    int32_t GetSizeX() override { return sizeX_; }
    int32_t GetSizeY() override { return sizeY_; }
    TNBElement* HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) override;
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;

    uint32_t Color() const { return color_; }
    void SetColor(uint32_t c) { color_ = c; }
    uint32_t DrawFx() const { return drawFx_; }

private:
    uint32_t drawFx_ = 1284;
    uint32_t color_ = 0xFFFFFFFFu;
    int32_t sizeX_ = 100;
    int32_t sizeY_ = 100;
};

// Shared by the kinds that publish a colour as two views: the low 24 bits
// (hxColor) and the top 8 bits (hxTrans). Writing one view keeps the other.
inline uint32_t ColorView(uint32_t color) { return color & 0x00FFFFFFu; }
inline uint32_t TransView(uint32_t color) { return color >> 24; }
inline uint32_t WithColorView(uint32_t color, int64_t rgb) {
    return (color & 0xFF000000u) | (uint32_t(rgb) & 0x00FFFFFFu);
}
inline uint32_t WithTransView(uint32_t color, int64_t alpha) {
    return (color & 0x00FFFFFFu) | ((uint32_t(alpha) & 0xFFu) << 24);
}

// The box rule of shapes and texts: X <= x <= X + w and Y <= y <= Y + h.
inline bool InClosedBox(int32_t x, int32_t y, int32_t left, int32_t top, int32_t w, int32_t h) {
    return int64_t(left) <= x && int64_t(x) <= int64_t(left) + w && int64_t(top) <= y &&
           int64_t(y) <= int64_t(top) + h;
}

}  // namespace nb
