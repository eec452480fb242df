#include "scene/Anim.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "media/UnitNBIm.h"
#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "render/RenderImages.h"
#include "scene/Root.h"
#include "scene/Screen.h"

namespace nb {

namespace {

// The drawing band, as for images: sprites are cut where they reach beyond
// it, so huge scaled pictures never hand the canvas far-away coordinates.
constexpr double kBandLow = -1024.0;
constexpr double kBandHigh = 2048.0;

// A cut in whole source pixels within 0 ... limit (NaN gives 0).
int32_t ClampCut(double v, int32_t limit) {
    if (!(v > 0)) return 0;
    if (v >= double(limit)) return limit;
    return int32_t(v);
}

// Sine and cosine of an angle in degrees; right angles are exact, so a
// quarter turn lands on whole pixels.
void SinCosDegrees(double deg, double& s, double& c) {
    const double q = deg / 90.0;
    if (std::isfinite(q) && q == std::floor(q) && std::fabs(q) < 1e9) {
        static constexpr double kS[4] = {0, 1, 0, -1}, kC[4] = {1, 0, -1, 0};
        int k = int(std::fmod(q, 4.0));
        if (k < 0) k += 4;
        s = kS[k];
        c = kC[k];
        return;
    }
    const double a = deg * std::numbers::pi / 180.0;
    s = std::sin(a);
    c = std::cos(a);
}

int32_t SaturatedNext(int32_t v) { return v == INT32_MAX ? v : v + 1; }

}  // namespace

// ------------------------------------------------------------ TNBAnim

TNBAnim::TNBAnim(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBAnim, parent) {
    mousedNotVis_ = true;
}

bool TNBAnim::GetProp(int index, TPropValue& out) {
    if (PropCode(index) == TProp::ImBack) {
        out = TPropValue::Str(back_ ? back_->name : std::string());
        return true;
    }
    return TNBStored::GetProp(index, out);
}

void TNBAnim::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::ImBack: SetImBack(v.s); return;
        case TProp::Pos: SetFramePos(int32_t(v.i)); return;
        case TProp::Morph:
            TNBStored::SetProp(index, v);
            Rebuild();
            return;
        default: TNBStored::SetProp(index, v); return;
    }
}

void TNBAnim::SetImBack(const std::string& name) {
    // Asked for like a screen's background: the entry is kept, and a loaded
    // picture gives the animation its size.
    back_ = (ctx_.imageRegistry && !name.empty()) ? ctx_.imageRegistry->LoadImage(name, false) : nullptr;
    if (back_ && back_->image) {
        sizeX_ = back_->image->VisibleWidth;
        sizeY_ = back_->image->VisibleHeight;
    }
}

void TNBAnim::SetSizeX(int32_t v) { sizeX_ = v; }
void TNBAnim::SetSizeY(int32_t v) { sizeY_ = v; }
int32_t TNBAnim::GetSizeX() { return sizeX_; }
int32_t TNBAnim::GetSizeY() { return sizeY_; }

TNBElement* TNBAnim::HitTest(int32_t, int32_t, int32_t, int32_t, int32_t) { return nullptr; }

void TNBAnim::SetFramePos(int32_t v) {
    if (v >= frameCount_) v = Rep() ? 0 : frameCount_ - 1;
    StoreInt(TProp::Pos, v);
}

void TNBAnim::RunStart() { RunHook(THook::Start); }

void TNBAnim::Init() {
    Rebuild();
    TNBStored::Init();
}

void TNBAnim::InitPr() {
    Rebuild();
    TNBStored::InitPr();
}

void TNBAnim::LoadImages() {
    if (Loaded()) return;
    TNBStored::LoadImages();
    Rebuild();
}

void TNBAnim::ReloadImages() {
    TNBStored::ReloadImages();
    Rebuild();
}

void TNBAnim::Update() {
    TNBStored::Update();
    Rebuild();
}

void TNBAnim::Process() {
    if (!Vis()) return;
    if (Active()) {
        const int32_t pos = FramePos();
        if (int64_t(pos) < int64_t(frameCount_) - 1 || Rep()) {
            SetFramePos(SaturatedNext(pos));
            RunNamedHook(THook::Anim, "anAnim");
        } else {
            // The last frame stays on show during the tick that stops.
            SetActive(false);
            RunNamedHook(THook::Stop, "anStop");
        }
    }
    TNBStored::Process();
}

void TNBAnim::Render(int32_t layer, uint32_t color, double ox, double oy, int32_t) {
    if (!Loaded()) LoadImages();
    if (StoredInt(TProp::ShowAn) == 0) {
        // The authoring view: the background at the offsets, then the keys
        // drawn as ordinary images, the first key on top.
        if (layer == Order() && back_ && back_->image && ctx_.canvas)
            ctx_.canvas->Draw(back_->image, ox, oy, 0, color, uint32_t(StoredInt(TProp::hxDrawFx)));
        for (size_t i = ChildCount(); i-- > 0;) {
            TNBElement* key = Child(i);
            if (key && key->Vis()) key->Render(layer, color, ox + RX(), oy + RY(), 0);
        }
        return;
    }
    if (layer == Order()) DrawFrame(FramePos(), ox + RX(), oy + RY(), color);
}

void TNBAnim::DrawFrame(int32_t p, double ox, double oy, uint32_t c) {
    if (p < 0 || size_t(p) >= frames_.size()) return;
    TRenderCanvas* canvas = ctx_.canvas;
    if (!canvas) return;
    if (back_ && back_->image) canvas->Draw(back_->image, ox, oy, 0, c, uint32_t(StoredInt(TProp::hxDrawFx)));
    const double turn = AnimAngle();
    for (const TSpriteRecord& r : frames_[size_t(p)]) {
        TRenderImage* img = r.picture ? r.picture->image : nullptr;
        if (!img) continue;
        canvas->SetAntialias(true);
        const int32_t W = img->VisibleWidth, H = img->VisibleHeight;
        const double fx = r.scaleX * r.scale, fy = r.scaleY * r.scale;
        const double w = W * fx, h = H * fy;
        const double cx = ox + r.x, cy = oy + r.y;

        // Cuts in source pixels, as an image makes them.
        int32_t cutL = 0, cutR = 0, cutT = 0, cutB = 0;
        const double L = cx - w / 2, R = cx + w / 2, T = cy - h / 2, B = cy + h / 2;
        if (L < kBandLow) cutL = ClampCut(roundHalfEven((kBandLow - L) / fx) - 1, W);
        if (R > kBandHigh) cutR = ClampCut(roundHalfEven((R - kBandHigh) / fx) + 1, W);
        if (T < kBandLow) cutT = ClampCut(roundHalfEven((kBandLow - T) / fy) - 1, H);
        if (B > kBandHigh) cutB = ClampCut(roundHalfEven((B - kBandHigh) / fy) + 1, H);
        TDrawSource src;
        src.pattern = r.pattern;
        src.x = cutL;
        src.y = cutT;
        src.width = W - cutL - cutR;
        src.height = H - cutT - cutB;
        // Cut away entirely: nothing to draw (a sub-rectangle below one pixel
        // would stand for the whole cell).
        if (src.width < 1 || src.height < 1) continue;

        const double hw = w / 2, hh = h / 2;
        const double mcx = cx + fx * cutL, mcy = cy + fy * cutT;
        const double cw = w - fx * (cutL + cutR), ch = h - fy * (cutT + cutB);
        const double lx[4] = {-hw, -hw + cw, -hw + cw, -hw};
        const double ly[4] = {-hh, -hh, -hh + ch, -hh + ch};
        double sn, cs;
        SinCosDegrees(turn + r.angle, sn, cs);
        TPoint2 corners[4];
        for (int i = 0; i < 4; ++i) {
            corners[i].x = lx[i] * cs - ly[i] * sn + mcx;
            corners[i].y = lx[i] * sn + ly[i] * cs + mcy;
        }
        const uint32_t colors[4] = {r.color, r.color, r.color, r.color};
        canvas->DrawMap(img, corners, colors, src, r.drawFx);
    }
}

const TSpriteRecord* TNBAnim::FrameRecord(int64_t n) const {
    const int32_t p = FramePos();
    if (p < 0 || size_t(p) >= frames_.size()) return nullptr;
    const std::vector<TSpriteRecord>& f = frames_[size_t(p)];
    if (n < 1 || uint64_t(n) > f.size()) return nullptr;
    return &f[size_t(n - 1)];
}

bool TNBAnim::GetValue(std::string_view name, TScriptValue& value) {
    if (TNBStored::GetValue(name, value)) return true;
    // A frame or record that does not exist reads as the small integer 0.
    const TScriptValue none = TScriptValue::uint8(0);
    if (name == "COUNT") {
        value = TScriptValue::int32(frameCount_);
        return true;
    }
    if (name == "KEYX" || name == "KEYY" || name == "KEYANG" || name == "KEYAN") {
        const TSpriteRecord* r = FrameRecord(1);
        if (!r) value = none;
        else if (name == "KEYX") value = TScriptValue::real(GetAbsX() + r->x);
        else if (name == "KEYY") value = TScriptValue::real(GetAbsY() + r->y);
        else if (name == "KEYANG") value = TScriptValue::real(r->angle);
        else value = TScriptValue::int32(r->pattern);
        return true;
    }
    if (name.size() >= 6 && (name.substr(0, 5) == "KEYX[" || name.substr(0, 5) == "KEYY[")) {
        // The number is what lies between the bracket and the last character.
        int32_t n = 0;
        if (!StrToInt32(name.substr(5, name.size() - 6), n)) return false;
        const TSpriteRecord* r = FrameRecord(n);
        if (!r) value = none;
        else if (name[3] == 'X') value = TScriptValue::real(GetAbsX() + r->x);
        else value = TScriptValue::real(GetAbsY() + r->y);
        return true;
    }
    return false;
}

// ------------------------------------------------------------ TNBAnKey

TNBAnKey::TNBAnKey(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBAnKey, parent) {}

int32_t TNBAnKey::GetSizeX() { return parent_ ? parent_->GetSizeX() : 0; }
int32_t TNBAnKey::GetSizeY() { return parent_ ? parent_->GetSizeY() : 0; }

void TNBAnKey::SetProp(int index, const TPropValue& v) {
    TNBStored::SetProp(index, v);
    if (PropCode(index) == TProp::Count) RebuildAnimation();
}

void TNBAnKey::LoadFromData(std::string_view record) {
    TNBStored::LoadFromData(record);
    RebuildAnimation();
}

void TNBAnKey::RebuildAnimation() {
    if (parent_ && parent_->IsA(TClassId::TNBAnim)) static_cast<TNBAnim*>(parent_)->Rebuild();
}

// ------------------------------------------------------------ TNBExAnim

TNBExAnim::TNBExAnim(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBExAnim, parent) {}

void TNBExAnim::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::obAnim:
            TNBStored::SetProp(index, v);
            target_ = 0;
            return;
        case TProp::Pos: SetFramePos(int32_t(v.i)); return;
        default: TNBStored::SetProp(index, v); return;
    }
}

void TNBExAnim::SetFramePos(int32_t p) {
    if (TNBAnim* t = Target(); t && p >= t->FrameCount()) p = StoredInt(TProp::Rep) ? 0 : t->FrameCount() - 1;
    StoreInt(TProp::Pos, p);
}

TNBAnim* TNBExAnim::Target() {
    if (TNBElement* cached = ctx_.Element(target_)) return static_cast<TNBAnim*>(cached);
    target_ = 0;
    if (!root_) return nullptr;
    const int32_t key = int32_t(uint32_t(StoredInt(TProp::obAnim)));
    for (size_t i = 0; i < root_->ChildCount(); ++i) {
        TNBElement* c = root_->Child(i);
        if (c->Key() == key && c->IsA(TClassId::TNBAnim)) {
            target_ = c->Ident();
            return static_cast<TNBAnim*>(c);
        }
    }
    return nullptr;
}

int32_t TNBExAnim::GetSizeX() {
    TNBAnim* t = Target();
    return t ? t->GetSizeX() : 0;
}

int32_t TNBExAnim::GetSizeY() {
    TNBAnim* t = Target();
    return t ? t->GetSizeY() : 0;
}

int32_t TNBExAnim::GetAbsX() {
    int64_t left = AlignedEdge(X(), GetSizeX(), uint8_t(StoredInt(TProp::PosHor)));
    if (TNBElement* p = Parent()) left += p->GetAbsX();
    return ClampToI32(left);
}

int32_t TNBExAnim::GetAbsY() {
    int64_t top = AlignedEdge(Y(), GetSizeY(), uint8_t(StoredInt(TProp::PosVert)));
    if (TNBElement* p = Parent()) top += p->GetAbsY();
    return ClampToI32(top);
}

void TNBExAnim::LoadImages() {
    // The animation's own pictures are loaded with it as a top-level
    // element; the reference only finds it.
    if (Loaded()) return;
    TNBStored::LoadImages();
    Target();
}

void TNBExAnim::Process() {
    if (StoredInt(TProp::Active) != 0 && FramePos() >= 0) SetFramePos(SaturatedNext(FramePos()));
    TNBStored::Process();
}

void TNBExAnim::Render(int32_t layer, uint32_t color, double ox, double oy, int32_t) {
    if (!Loaded()) LoadImages();
    TNBAnim* t = Target();
    if (!t || layer != Order()) return;
    const double left = double(AlignedEdge(X(), t->GetSizeX(), uint8_t(StoredInt(TProp::PosHor))));
    const double top = double(AlignedEdge(Y(), t->GetSizeY(), uint8_t(StoredInt(TProp::PosVert))));
    t->DrawFrame(FramePos(), ox + left, oy + top, color);
}

}  // namespace nb
