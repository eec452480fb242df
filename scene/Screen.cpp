#include "scene/Screen.h"

#include "media/UnitNBIm.h"
#include "render/RenderCanvas.h"
#include "render/RenderImages.h"
#include "scene/Root.h"

namespace nb {

// ------------------------------------------------------------------ TNBScreen

TNBScreen::TNBScreen(TSceneContext& ctx, TNBElement* parent) : TNBElement(ctx, TClassId::TNBScreen, parent) {
    // An invisible screen still takes part in hit testing, so a modal screen
    // embedded while hidden keeps blocking its layer.
    mousedNotVis_ = true;
}

void TNBScreen::SetImBack(const std::string& name) {
    TImageRegistry* reg = ctx_.imageRegistry;
    if (!reg) {
        // Nothing can be requested (a tool reading a game without pictures):
        // the name is kept as written.
        back_ = nullptr;
        backName_ = name;
        return;
    }
    backName_.clear();
    // An empty name names no picture: no entry, so it is neither counted for
    // a screen load nor looked for on disk.
    back_ = name.empty() ? nullptr : reg->LoadImage(name, false);
    if (back_ && back_->image) {
        sizeX_ = back_->image->VisibleWidth;
        sizeY_ = back_->image->VisibleHeight;
    }
}

std::string TNBScreen::ImBack() const { return back_ ? back_->name : backName_; }

bool TNBScreen::GetProp(int index, TPropValue& out) {
    switch (PropCode(index)) {
        case TProp::ImBack: out = TPropValue::Str(ImBack()); return true;
        case TProp::hxDrawFx: out = TPropValue::Int(drawFx_); return true;
        case TProp::Agro: out = TPropValue::Int(agro_); return true;
        case TProp::Modal: out = TPropValue::Int(modal_); return true;
        case TProp::AllwaysLoad: out = TPropValue::Int(allwaysLoad_); return true;
        default: return TNBElement::GetProp(index, out);
    }
}

void TNBScreen::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::ImBack: SetImBack(v.s); break;
        case TProp::hxDrawFx: drawFx_ = uint32_t(v.i); break;
        case TProp::Agro: agro_ = int32_t(v.i); break;
        case TProp::Modal: modal_ = v.i != 0; break;
        case TProp::AllwaysLoad: allwaysLoad_ = v.i != 0; break;
        default: TNBElement::SetProp(index, v); break;
    }
}

TNBElement* TNBScreen::HitTest(int32_t layer, int32_t x, int32_t y, int32_t, int32_t threshold) {
    // Everything inside the screen is tested with the screen's own margin.
    if (TNBElement* hit = TNBElement::HitTest(layer, x, y, agro_, threshold)) return hit;
    if (layer == Order() && modal_ && (Vis() || MousedNotVis())) return this;
    return nullptr;
}

void TNBScreen::Render(int32_t layer, uint32_t color, double ox, double oy, int32_t) {
    if (!Loaded()) LoadImages();
    if (layer == Order()) {
        // The background sits at the offsets; the screen's own X and Y move
        // only its children.
        if (back_ && back_->image && ctx_.canvas) ctx_.canvas->Draw(back_->image, ox, oy, 0, color, drawFx_);
        RunNamedHook(THook::Render, "Render");
    }
    TNBElement::Render(layer, color, ox, oy, 0);
}

// ---------------------------------------------------------------- TNBExScreen

class TNBExScreen::TForwardGuard {
public:
    TForwardGuard(TNBExScreen& ref, TForward op) : ref_(ref), op_(op) { ref_.forwarding_ |= op_; }
    ~TForwardGuard() { ref_.forwarding_ &= uint16_t(~op_); }
    TForwardGuard(const TForwardGuard&) = delete;
    TForwardGuard& operator=(const TForwardGuard&) = delete;

private:
    TNBExScreen& ref_;
    TForward op_;
};

TNBExScreen::TNBExScreen(TSceneContext& ctx, TNBElement* parent) : TNBElement(ctx, TClassId::TNBExScreen, parent) {}

TNBScreen* TNBExScreen::Target() {
    if (TNBElement* cached = ctx_.Element(target_)) return static_cast<TNBScreen*>(cached);
    target_ = 0;
    TNBElement* root = Root();
    if (!root) return nullptr;
    for (size_t i = 0; i < root->ChildCount(); ++i) {
        TNBElement* c = root->Child(i);
        if (uint32_t(c->Key()) != obScreen_ || !c->IsA(TClassId::TNBScreen)) continue;
        auto* screen = dynamic_cast<TNBScreen*>(c);
        if (!screen) continue;
        target_ = screen->Ident();
        return screen;
    }
    return nullptr;
}

TNBScreen* TNBExScreen::TargetFor(TForward op) { return (forwarding_ & op) ? nullptr : Target(); }

void TNBExScreen::SetObScreen(uint32_t key) {
    obScreen_ = key;
    target_ = 0;
}

bool TNBExScreen::GetProp(int index, TPropValue& out) {
    switch (PropCode(index)) {
        case TProp::PosHor: out = TPropValue::Int(posHor_); return true;
        case TProp::PosVert: out = TPropValue::Int(posVert_); return true;
        case TProp::obScreen: out = TPropValue::Int(obScreen_); return true;
        case TProp::Modal: out = TPropValue::Int(modal_); return true;
        case TProp::Processing: out = TPropValue::Int(processing_); return true;
        default: return TNBElement::GetProp(index, out);
    }
}

void TNBExScreen::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::PosHor: posHor_ = uint8_t(v.i); break;
        case TProp::PosVert: posVert_ = uint8_t(v.i); break;
        case TProp::obScreen: SetObScreen(uint32_t(v.i)); break;
        case TProp::Modal: modal_ = v.i != 0; break;
        case TProp::Processing: processing_ = v.i != 0; break;
        default: TNBElement::SetProp(index, v); break;
    }
}

void TNBExScreen::SetVis(bool v) {
    if (v == Vis()) return;
    TNBElement::SetVis(v);
    if (!v || !Target()) return;
    // The reference's Show shows the target first; the target then gets
    // one more Show of its own, so its "Show" hook runs twice.
    Show();
    if (TNBScreen* t = TargetFor(fwShow)) {
        TForwardGuard g(*this, fwShow);
        t->Show();
    }
}

int32_t TNBExScreen::GetSizeX() {
    TNBScreen* t = Target();
    return t ? t->GetSizeX() : 0;
}

int32_t TNBExScreen::GetSizeY() {
    TNBScreen* t = Target();
    return t ? t->GetSizeY() : 0;
}

int32_t TNBExScreen::GetAbsX() {
    int64_t left = AlignedEdge(X(), GetSizeX(), posHor_);
    if (TNBElement* p = Parent()) left += p->GetAbsX();
    return ClampToI32(left);
}

int32_t TNBExScreen::GetAbsY() {
    int64_t top = AlignedEdge(Y(), GetSizeY(), posVert_);
    if (TNBElement* p = Parent()) top += p->GetAbsY();
    return ClampToI32(top);
}

TNBElement* TNBExScreen::HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) {
    if (!Vis() && !MousedNotVis()) return nullptr;
    if (TNBScreen* t = TargetFor(fwHitTest)) {
        TForwardGuard g(*this, fwHitTest);
        // The point moves by the plain position: hit testing ignores the
        // alignment that drawing applies, as stored games expect.
        const int32_t tx = ClampToI32(int64_t(x) - X()), ty = ClampToI32(int64_t(y) - Y());
        if (TNBElement* hit = t->HitTest(layer, tx, ty, margin, threshold)) return hit;
    }
    if (layer == Order() && modal_) return this;
    return nullptr;
}

void TNBExScreen::Render(int32_t layer, uint32_t color, double ox, double oy, int32_t) {
    if (!Loaded()) LoadImages();
    if (TNBScreen* t = TargetFor(fwRender)) {
        TForwardGuard g(*this, fwRender);
        const double left = double(AlignedEdge(X(), t->GetSizeX(), posHor_));
        const double top = double(AlignedEdge(Y(), t->GetSizeY(), posVert_));
        t->Render(layer, color, ox + left, oy + top, 0);
    }
    TNBElement::Render(layer, color, ox, oy, 0);
}

void TNBExScreen::Process() {
    if (!Vis() && !MousedNotVis()) return;
    if (processing_) {
        if (TNBScreen* t = TargetFor(fwProcess)) {
            TForwardGuard g(*this, fwProcess);
            t->Process();
        }
    }
    TNBElement::Process();
}

void TNBExScreen::Show() {
    if (TNBScreen* t = TargetFor(fwShow)) {
        TForwardGuard g(*this, fwShow);
        t->Show();
    }
    TNBElement::Show();
}

void TNBExScreen::Update() {
    if (TNBScreen* t = TargetFor(fwUpdate)) {
        TForwardGuard g(*this, fwUpdate);
        t->Update();
    }
    TNBElement::Update();
}

void TNBExScreen::Init() {
    if (TNBScreen* t = TargetFor(fwInit)) {
        TForwardGuard g(*this, fwInit);
        t->Init();
    }
    TNBElement::Init();
}

void TNBExScreen::InitPr() {
    if (TNBScreen* t = TargetFor(fwInitPr)) {
        TForwardGuard g(*this, fwInitPr);
        t->InitPr();
    }
    TNBElement::InitPr();
}

void TNBExScreen::LoadImages() {
    if (Loaded()) return;
    TNBElement::LoadImages();
    if (TNBScreen* t = TargetFor(fwLoadImages)) {
        TForwardGuard g(*this, fwLoadImages);
        t->LoadImages();
    }
}

void TNBExScreen::ReloadImages() {
    TNBElement::ReloadImages();
    if (TNBScreen* t = TargetFor(fwReloadImages)) {
        TForwardGuard g(*this, fwReloadImages);
        t->ReloadImages();
    }
}

}  // namespace nb
