#include "scene/Anim.h"

#include "media/UnitNBIm.h"
#include "render/RenderImages.h"
#include "scene/Root.h"

namespace nb {

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

// ------------------------------------------------------------ TNBAnKey

TNBAnKey::TNBAnKey(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBAnKey, parent) {}

int32_t TNBAnKey::GetSizeX() { return parent_ ? parent_->GetSizeX() : 0; }
int32_t TNBAnKey::GetSizeY() { return parent_ ? parent_->GetSizeY() : 0; }

// ------------------------------------------------------------ TNBExAnim

TNBExAnim::TNBExAnim(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBExAnim, parent) {}

void TNBExAnim::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::obAnim:
            TNBStored::SetProp(index, v);
            target_ = 0;
            return;
        case TProp::Pos: {
            int32_t p = int32_t(v.i);
            if (TNBAnim* t = Target(); t && p >= t->FrameCount())
                p = StoredInt(TProp::Rep) ? 0 : t->FrameCount() - 1;
            StoreInt(TProp::Pos, p);
            return;
        }
        default: TNBStored::SetProp(index, v); return;
    }
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

}  // namespace nb
