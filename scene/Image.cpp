#include "scene/Image.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "media/UnitNBIm.h"
#include "platform/Text.h"
#include "render/RenderImages.h"
#include "scene/Screen.h"
#include "scene/Shape.h"

namespace nb {

namespace {

// The drawing band: pictures are cut where they reach beyond it, so huge
// scaled pictures never hand the canvas far-away coordinates.
constexpr double kBandLow = -1024.0;
constexpr double kBandHigh = 2048.0;

// Rounds a cut to whole source pixels and keeps it within 0 ... limit (a cut
// beyond the picture leaves nothing to draw anyway).
int32_t ClampCut(double v, int32_t limit) {
    if (!(v > 0)) return 0;  // also NaN
    if (v >= double(limit)) return limit;
    return int32_t(v);
}

// Sine and cosine of an angle in thousandths of a degree; right angles are
// exact, so unfiltered quarter turns land on whole pixels.
void SinCosMilli(int32_t angle, double& s, double& c) {
    if (angle % 90000 == 0) {
        static constexpr double kS[4] = {0, 1, 0, -1}, kC[4] = {1, 0, -1, 0};
        int q = int((int64_t(angle) / 90000) % 4);
        if (q < 0) q += 4;
        s = kS[q];
        c = kC[q];
        return;
    }
    const double a = angle / 1000.0 * std::numbers::pi / 180.0;
    s = std::sin(a);
    c = std::cos(a);
}

// Nearest integer, halves to even, held within +-2^62 (NaN gives 0), so
// absurd scales never overflow the integer arithmetic that follows.
int64_t RoundSafe(double v) {
    if (!(v == v)) return 0;
    constexpr double kLimit = 4611686018427387904.0;
    if (v >= kLimit) return int64_t(kLimit);
    if (v <= -kLimit) return -int64_t(kLimit);
    return roundHalfEvenI64(v);
}

}  // namespace

TNBImage::TNBImage(TSceneContext& ctx, TNBElement* parent) : TNBElement(ctx, TClassId::TNBImage, parent) {}

void TNBImage::SetImImage(const std::string& name) {
    TImageRegistry* reg = ctx_.imageRegistry;
    if (!reg) {
        pic_ = nullptr;
        picName_ = name;
        return;
    }
    picName_.clear();
    // An empty name names no picture: no entry, nothing counted or probed.
    pic_ = name.empty() ? nullptr : reg->LoadImage(name, false);
}

std::string TNBImage::ImImage() const { return pic_ ? pic_->name : picName_; }

TRenderImage* TNBImage::LoadedPicture() const { return pic_ ? pic_->image : nullptr; }

void TNBImage::SetScale(double v) { scale_ = roundHalfEvenI32(v * 1000.0); }
void TNBImage::SetAngle(double v) { angle_ = roundHalfEvenI32(v * 1000.0); }

bool TNBImage::GetProp(int index, TPropValue& out) {
    switch (PropCode(index)) {
        case TProp::imImage: out = TPropValue::Str(ImImage()); return true;
        case TProp::hxDrawFx: out = TPropValue::Int(drawFx_); return true;
        case TProp::PosHor: out = TPropValue::Int(posHor_); return true;
        case TProp::PosVert: out = TPropValue::Int(posVert_); return true;
        case TProp::Scale: out = TPropValue::Real(Scale()); return true;
        case TProp::Angle: out = TPropValue::Real(Angle()); return true;
        case TProp::hxColor: out = TPropValue::Int(ColorView(color_)); return true;
        case TProp::hxTrans: out = TPropValue::Int(TransView(color_)); return true;
        case TProp::Anim: out = TPropValue::Int(anim_); return true;
        case TProp::ScaleX: out = TPropValue::Real(scaleX_); return true;
        case TProp::ScaleY: out = TPropValue::Real(scaleY_); return true;
        case TProp::Interpol: out = TPropValue::Int(interpol_); return true;
        case TProp::InterpolSc: out = TPropValue::Int(interpolSc_); return true;
        case TProp::TextId: out = TPropValue::Str(textId_); return true;
        default: return TNBElement::GetProp(index, out);
    }
}

void TNBImage::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::imImage: SetImImage(v.s); break;
        case TProp::hxDrawFx: drawFx_ = uint32_t(v.i); break;
        case TProp::PosHor: posHor_ = uint8_t(v.i); break;
        case TProp::PosVert: posVert_ = uint8_t(v.i); break;
        case TProp::Scale: SetScale(v.r); break;
        case TProp::Angle: SetAngle(v.r); break;
        case TProp::hxColor: color_ = WithColorView(color_, v.i); break;
        case TProp::hxTrans: color_ = WithTransView(color_, v.i); break;
        case TProp::Anim: anim_ = int32_t(v.i); break;
        case TProp::ScaleX: scaleX_ = v.r; break;
        case TProp::ScaleY: scaleY_ = v.r; break;
        case TProp::Interpol: interpol_ = v.i != 0; break;
        case TProp::InterpolSc: interpolSc_ = v.i != 0; break;
        case TProp::TextId: textId_ = v.s; break;
        default: TNBElement::SetProp(index, v); break;
    }
}

int32_t TNBImage::GetSizeX() {
    TRenderImage* img = LoadedPicture();
    return img ? roundHalfEvenI32(scale_ / 1000.0 * img->VisibleWidth * scaleX_) : 0;
}

int32_t TNBImage::GetSizeY() {
    TRenderImage* img = LoadedPicture();
    return img ? roundHalfEvenI32(scale_ / 1000.0 * img->VisibleHeight * scaleY_) : 0;
}

int32_t TNBImage::GetAbsX() {
    int64_t left = AlignedEdge(X(), GetSizeX(), posHor_);
    if (TNBElement* p = Parent()) left += p->GetAbsX();
    return ClampToI32(left);
}

int32_t TNBImage::GetAbsY() {
    int64_t top = AlignedEdge(Y(), GetSizeY(), posVert_);
    if (TNBElement* p = Parent()) top += p->GetAbsY();
    return ClampToI32(top);
}

bool TNBImage::PlanDraw(double ox, double oy, TImageDrawPlan& p) const {
    TRenderImage* img = LoadedPicture();
    if (!img) return false;
    const int32_t W = img->VisibleWidth, H = img->VisibleHeight;
    const double s = scale_ / 1000.0;
    p = TImageDrawPlan{};
    p.w = s * W * scaleX_;
    p.h = s * H * scaleY_;

    // The centre, from the anchor the alignment names.
    const double ax = ox + RX(), ay = oy + RY();
    p.cx = posHor_ == 1 ? ax : posHor_ == 2 ? ax - p.w / 2 : ax + p.w / 2;
    p.cy = posVert_ == 1 ? ay : posVert_ == 2 ? ay - p.h / 2 : ay + p.h / 2;
    p.childX = posHor_ == 1 ? ox - p.w / 2 : posHor_ == 2 ? ox - p.w : ox;
    p.childY = posVert_ == 1 ? oy - p.h / 2 : posVert_ == 2 ? oy - p.h : oy;

    // Unfiltered only when texels map onto pixels one to one.
    const bool rightAngle = angle_ == 0 || angle_ == 90000 || angle_ == 180000 || angle_ == 270000;
    p.filtered = !(scale_ == 1000 && rightAngle && p.cx == std::floor(p.cx) && p.cy == std::floor(p.cy) &&
                   roundHalfEvenI32(scaleX_ * 1000.0) == 1000 && roundHalfEvenI32(scaleY_ * 1000.0) == 1000);

    // Cuts in source pixels; one pixel less on the near side and one more on
    // the far side, so the cut never opens a gap inside the band.
    const double L = p.cx - p.w / 2, R = p.cx + p.w / 2;
    const double T = p.cy - p.h / 2, B = p.cy + p.h / 2;
    if (L < kBandLow) p.cutLeft = ClampCut(roundHalfEven((kBandLow - L) / scaleX_ / s) - 1, W);
    if (R > kBandHigh) p.cutRight = ClampCut(roundHalfEven((R - kBandHigh) / scaleX_ / s) + 1, W);
    if (T < kBandLow) p.cutTop = ClampCut(roundHalfEven((kBandLow - T) / scaleY_ / s) - 1, H);
    if (B > kBandHigh) p.cutBottom = ClampCut(roundHalfEven((B - kBandHigh) / scaleY_ / s) + 1, H);

    p.source.pattern = anim_;
    p.source.x = p.cutLeft;
    p.source.y = p.cutTop;
    p.source.width = W - p.cutLeft - p.cutRight;
    p.source.height = H - p.cutTop - p.cutBottom;
    // A sub-rectangle below one pixel would mean "the whole cell" to the
    // canvas; a picture cut away entirely draws nothing instead.
    p.visible = p.source.width >= 1 && p.source.height >= 1;

    // The quad: the rectangle from the uncut top-left corner with the cut
    // size, rotated about the origin, moved to the moved centre.
    const double hw = p.w / 2, hh = p.h / 2;
    const double mcx = p.cx + s * scaleX_ * p.cutLeft;
    const double mcy = p.cy + s * scaleY_ * p.cutTop;
    const double cw = p.w - s * scaleX_ * (p.cutLeft + p.cutRight);
    const double ch = p.h - s * scaleY_ * (p.cutTop + p.cutBottom);
    const double lx[4] = {-hw, -hw + cw, -hw + cw, -hw};
    const double ly[4] = {-hh, -hh, -hh + ch, -hh + ch};
    double sn, cs;
    SinCosMilli(angle_, sn, cs);
    for (int i = 0; i < 4; ++i) {
        p.corners[i].x = lx[i] * cs - ly[i] * sn + mcx;
        p.corners[i].y = lx[i] * sn + ly[i] * cs + mcy;
    }
    return true;
}

void TNBImage::Render(int32_t layer, uint32_t color, double ox, double oy, int32_t) {
    if (!Loaded()) LoadImages();
    if (pic_ && !pic_->image && !pic_->failed && ctx_.imageRegistry) {
        // A deferred or released picture loads on its first drawing: one
        // request made as if loading were not deferred.
        const std::string name = pic_->name;
        const bool ready = ctx_.imageLoad.ready;
        ctx_.imageLoad.ready = true;
        SetImImage(name);
        ctx_.imageLoad.ready = ready;
    }
    TImageDrawPlan plan;
    if (PlanDraw(ox, oy, plan)) {
        if (layer == Order() && plan.visible && ctx_.canvas) {
            ctx_.canvas->SetAntialias(plan.filtered);
            const uint32_t colors[4] = {color_, color_, color_, color_};
            ctx_.canvas->DrawMap(pic_->image, plan.corners, colors, plan.source, drawFx_);
        }
        ox = plan.childX;
        oy = plan.childY;
    }
    TNBElement::Render(layer, color, ox, oy, 0);
}

bool TNBImage::PictureHit(int32_t x, int32_t y, int32_t m, int32_t t) const {
    TRenderImage* img = LoadedPicture();
    if (!img) return false;
    const int32_t W = img->VisibleWidth, H = img->VisibleHeight, S = scale_;
    int64_t w = RoundSafe(double(W) * S / 1000.0);
    int64_t h = RoundSafe(double(H) * S / 1000.0);
    if (w == 0 || h == 0 || S == 0) return false;
    w += 2 * int64_t(m);
    h += 2 * int64_t(m);

    // The margin widens the box away from the anchor: to the right for a
    // left-anchored picture, on both sides for a centred one.
    const int64_t cxl = posHor_ == 1 ? X() : posHor_ == 2 ? X() - w / 2 : X() + w / 2;
    const int64_t cyl = posVert_ == 1 ? Y() : posVert_ == 2 ? Y() - h / 2 : Y() + h / 2;
    const int64_t dx = x - cxl, dy = y - cyl;
    if (dx < -2 * w || dx > 2 * w || dy < -2 * h || dy > 2 * h) return false;

    // Undo the rotation.
    const double r = std::sqrt(double(dx) * double(dx) + double(dy) * double(dy));
    const double theta = std::atan2(double(dy), double(dx));
    const double a = angle_ / 1000.0 * std::numbers::pi / 180.0;
    const double u = r * std::cos(theta - a) + double(w / 2);
    const double v = r * std::sin(theta - a) + double(h / 2);
    if (!(u >= 0 && u < double(w) && v >= 0 && v < double(h))) return false;

    // A picture made without an alpha channel is opaque everywhere.
    if (img->AlphaLevel == TAlphaLevel::alNone) return true;

    // The texel of the first texture, whatever pattern is shown.
    const int64_t tx = RoundSafe(u * 1000.0 / S), ty = RoundSafe(v * 1000.0 / S);
    if (tx < 0 || tx >= W || ty < 0 || ty >= H) return false;
    return int64_t(img->Pixel(int(tx), int(ty), 0) >> 24) > t;
}

TNBElement* TNBImage::HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) {
    // Children are tested in the picture's top-left frame.
    int64_t px = x, py = y;
    if (TRenderImage* img = LoadedPicture()) {
        const int64_t wi = RoundSafe(scale_ / 1000.0 * img->VisibleWidth * scaleX_);
        const int64_t hi = RoundSafe(scale_ / 1000.0 * img->VisibleHeight * scaleY_);
        px += posHor_ == 1 ? wi / 2 : posHor_ == 2 ? wi : 0;
        py += posVert_ == 1 ? hi / 2 : posVert_ == 2 ? hi : 0;
    }
    if (TNBElement* hit = TNBElement::HitTest(layer, ClampToI32(px), ClampToI32(py), margin, threshold)) return hit;
    if (layer == Order() && MouseVisible() && pic_ && PictureHit(x, y, margin, threshold)) return this;
    return nullptr;
}

}  // namespace nb
