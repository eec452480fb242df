// TNBImage: one pattern of a picture from the picture registry, scaled,
// rotated, tinted and blended, anchored on its position by an alignment. It
// takes the mouse only where its picture is opaque enough. Its children's
// frame is the picture's top-left corner.
#pragma once

#include <cstdint>
#include <string>

#include "render/RenderCanvas.h"
#include "scene/Element.h"

namespace nb {

struct TNBIm;
class TRenderImage;

// Everything one drawing of an image needs, computed from its fields and the
// offsets it is rendered at.
struct TImageDrawPlan {
    double w = 0, h = 0;    // drawn size, unrounded
    double cx = 0, cy = 0;  // centre before clipping
    // Bilinear filtering; off only for an unscaled picture at a right angle
    // whose centre lies on whole pixels.
    bool filtered = true;
    // Source pixels cut off at each side by the drawing band -1024 ... 2048.
    int32_t cutLeft = 0, cutTop = 0, cutRight = 0, cutBottom = 0;
    // False when clipping leaves nothing of the picture.
    bool visible = false;
    TPoint2 corners[4];  // top-left, top-right, bottom-right, bottom-left
    TDrawSource source;
    double childX = 0, childY = 0;  // offsets handed to the children
};

class TNBImage : public TNBElement {
public:
    TNBImage(TSceneContext& ctx, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;

    int32_t GetSizeX() override;
    int32_t GetSizeY() override;
    int32_t GetAbsX() override;
    int32_t GetAbsY() override;
    TNBElement* HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) override;
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;

    // The drawing at offsets (ox, oy); false without a loaded picture.
    bool PlanDraw(double ox, double oy, TImageDrawPlan& plan) const;
    // The picture test at (x, y) in the parent's frame with margin m and
    // alpha threshold t; the visibility and layer rules are not part of it.
    bool PictureHit(int32_t x, int32_t y, int32_t m, int32_t t) const;

    // The picture request behind imImage: no entry for an empty name or
    // without a picture registry.
    void SetImImage(const std::string& name);
    std::string ImImage() const;
    TNBIm* Picture() const { return pic_; }
    // The loaded picture, or null.
    TRenderImage* LoadedPicture() const;

    // Scale and angle are held in thousandths (of the factor, of a degree);
    // the real views round half to even, so they keep three decimals.
    int32_t ScaleMilli() const { return scale_; }
    int32_t AngleMilli() const { return angle_; }
    void SetScaleMilli(int32_t v) { scale_ = v; }
    void SetAngleMilli(int32_t v) { angle_ = v; }
    void SetScale(double v);
    void SetAngle(double v);
    double Scale() const { return scale_ / 1000.0; }
    double Angle() const { return angle_ / 1000.0; }

    double ScaleX() const { return scaleX_; }
    double ScaleY() const { return scaleY_; }
    void SetScaleX(double v) { scaleX_ = v; }
    void SetScaleY(double v) { scaleY_ = v; }
    uint32_t Color() const { return color_; }
    void SetColor(uint32_t c) { color_ = c; }
    uint32_t DrawFx() const { return drawFx_; }
    void SetDrawFx(uint32_t v) { drawFx_ = v; }
    int32_t Anim() const { return anim_; }
    void SetAnim(int32_t v) { anim_ = v; }
    uint8_t PosHor() const { return posHor_; }
    uint8_t PosVert() const { return posVert_; }
    bool Interpol() const { return interpol_; }
    bool InterpolSc() const { return interpolSc_; }
    const std::string& TextId() const { return textId_; }

private:
    TNBIm* pic_ = nullptr;
    std::string picName_;  // only without a picture registry
    uint32_t drawFx_ = 1284;
    uint8_t posHor_ = 0;
    uint8_t posVert_ = 0;
    int32_t scale_ = 1000;
    int32_t angle_ = 0;
    int32_t anim_ = 0;
    double scaleX_ = 1.0;
    double scaleY_ = 1.0;
    bool interpol_ = true;
    bool interpolSc_ = true;
    uint32_t color_ = 0xFFFFFFFFu;
    std::string textId_;
};

}  // namespace nb
