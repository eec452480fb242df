#include "scene/ImList.h"

#include <numbers>

#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "render/RenderImages.h"
#include "scene/Image.h"
#include "scene/Root.h"

namespace nb {

TNBImList::TNBImList(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBImList, parent) {
    noMsNBDB_ = true;
}

bool TNBImList::GetProp(int index, TPropValue& out) {
    switch (PropCode(index)) {
        case TProp::RowCount: out = TPropValue::Int(rowCount_); return true;
        case TProp::ColCount: out = TPropValue::Int(colCount_); return true;
        case TProp::Space: out = TPropValue::Int(space_); return true;
        // The list always shows its entries from the first one.
        case TProp::ScrollPos: out = TPropValue::Int(int64_t(scrollRow_) * colCount_); return true;
        case TProp::ElWidth: out = TPropValue::Int(elWidth_); return true;
        case TProp::ElHeight: out = TPropValue::Int(elHeight_); return true;
        default: return TNBStored::GetProp(index, out);
    }
}

void TNBImList::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::RowCount: rowCount_ = int32_t(v.i); Recompute(); return;
        case TProp::ColCount: colCount_ = int32_t(v.i); Recompute(); return;
        case TProp::Space: space_ = int32_t(v.i); Recompute(); return;
        case TProp::ScrollPos: scrollRow_ = 0; return;
        case TProp::ElWidth:
        case TProp::ElHeight: return;  // computed from the box and the grid
        default: TNBStored::SetProp(index, v); return;
    }
}

void TNBImList::SetSizeX(int32_t v) {
    sizeX_ = v;
    Recompute();
}

void TNBImList::SetSizeY(int32_t v) {
    sizeY_ = v;
    Recompute();
}

void TNBImList::Recompute() {
    if (colCount_ == 0 || rowCount_ == 0) {
        elWidth_ = elHeight_ = 0;
        return;
    }
    // Division rounds toward zero; a negative cell is no cell.
    int64_t w = (int64_t(sizeX_) - (int64_t(colCount_) - 1) * space_) / colCount_;
    int64_t h = (int64_t(sizeY_) - (int64_t(rowCount_) - 1) * space_) / rowCount_;
    elWidth_ = w < 0 ? 0 : (w > INT32_MAX ? INT32_MAX : int32_t(w));
    elHeight_ = h < 0 ? 0 : (h > INT32_MAX ? INT32_MAX : int32_t(h));
}

// ------------------------------------------------------------ entries

void TNBImList::Append(TNBElement* element) {
    if (!element) return;
    entries_.push_back({element->Ident(), 1.0});
    WriteProp(PropIndex(TProp::ScrollPos), TPropValue::Int(int64_t(entries_.size()) - 1));
}

bool TNBImList::Remove(TNBElement* element) {
    for (size_t i = 0; element && i < entries_.size(); ++i) {
        if (entries_[i].element == element->Ident()) {
            entries_.erase(entries_.begin() + std::ptrdiff_t(i));
            return true;
        }
    }
    return false;
}

bool TNBImList::RemoveById(std::string_view id) {
    for (size_t i = 0; i < entries_.size(); ++i) {
        TNBElement* e = ctx_.Element(entries_[i].element);
        if (e && e->Id() == id) {
            entries_.erase(entries_.begin() + std::ptrdiff_t(i));
            return true;
        }
    }
    return false;
}

TNBImage* TNBImList::EntryImage(size_t i) const {
    if (i >= entries_.size()) return nullptr;
    TNBElement* e = ctx_.Element(entries_[i].element);
    return e && e->IsA(TClassId::TNBImage) ? static_cast<TNBImage*>(e) : nullptr;
}

TNBElement* TNBImList::HoveredElement() const {
    if (hovered_ < 0 || size_t(hovered_) >= entries_.size()) return nullptr;
    return ctx_.Element(entries_[size_t(hovered_)].element);
}

// ------------------------------------------------------------ the mouse

int32_t TNBImList::IndexAt(int32_t x, int32_t y) const {
    const int64_t dx = int64_t(x) - X(), dy = int64_t(y) - Y();
    if (dx < 0 || dx >= sizeX_ || dy < 0 || dy >= sizeY_) return -1;
    // Without columns or rows and without a gap there is no pitch to count
    // cells by: the point is over no entry.
    const int64_t pitchX = int64_t(elWidth_) + space_, pitchY = int64_t(elHeight_) + space_;
    if (pitchX == 0 || pitchY == 0) return -1;
    const int64_t index = dx / pitchX + int64_t(scrollRow_) * colCount_ + (dy / pitchY) * colCount_;
    // A negative gap or a negative column count can make the index negative;
    // such a cell holds no entry either.
    if (index < 0 || index >= int64_t(entries_.size())) return -1;
    return int32_t(index);
}

TNBElement* TNBImList::HitTest(int32_t layer, int32_t x, int32_t y, int32_t, int32_t) {
    // The list does not test its own visibility: its parent only reaches it
    // when it is visible.
    if (layer != Order()) return nullptr;
    const int64_t dx = int64_t(x) - X(), dy = int64_t(y) - Y();
    const bool inBox = dx >= 0 && dx < sizeX_ && dy >= 0 && dy < sizeY_;
    const int32_t index = IndexAt(x, y);
    if (index != hovered_) {
        // MouseOut still sees the entry being left, so "SELEL" names it.
        MouseOut();
        hovered_ = index;
        MouseIn();
    }
    // Over the box the list stays the shell's hovered element; its own hooks
    // report the changes of entry.
    return inBox ? this : nullptr;
}

void TNBImList::MouseIn() {
    if (hovered_ != -1) TNBElement::MouseIn();
}

void TNBImList::MouseOut() {
    if (hovered_ != -1) TNBElement::MouseOut();
}

void TNBImList::MouseDown() {
    if (hovered_ == -1) return;
    // The entry's own press hook first; a script reads the entry through
    // "SELEL". An entry removed since the mouse last moved has nothing to
    // press, but the list's hook still runs.
    if (TNBElement* e = HoveredElement()) e->MouseDown();
    TNBElement::MouseDown();
}

// ------------------------------------------------------------ ticks

void TNBImList::Process() {
    const double target = ZoomTarget();
    for (size_t i = 0; i < entries_.size(); ++i) {
        double& z = entries_[i].zoom;
        if (int64_t(i) == hovered_) {
            if (z < target) z += kZoomGrow;
        } else if (z > 1.0) {
            z -= kZoomShrink;
            if (z < 1.0) z = 1.0;
        }
    }
}

// ------------------------------------------------------------ drawing

void TNBImList::Render(int32_t, uint32_t, double ox, double oy, int32_t) {
    if (!Loaded()) LoadImages();
    if (elWidth_ == 0 || elHeight_ == 0) return;
    // The grown entry is drawn last so that it lies above its neighbours.
    DrawPass(ox, oy, false);
    DrawPass(ox, oy, true);
}

void TNBImList::DrawPass(double ox, double oy, bool hoveredPass) {
    TRenderCanvas* canvas = ctx_.canvas;
    if (!canvas || rowCount_ <= 0 || colCount_ <= 0) return;
    const int64_t count = int64_t(entries_.size());
    for (int64_t r = 0; r < rowCount_; ++r) {
        // Indices only grow from cell to cell: once past the last entry,
        // no later row or column holds one.
        if ((int64_t(scrollRow_) + r) * colCount_ >= count) return;
        for (int64_t c = 0; c < colCount_; ++c) {
            const int64_t index = (int64_t(scrollRow_) + r) * colCount_ + c;
            if (index >= count) break;
            if ((index == hovered_) != hoveredPass) continue;
            TNBImage* img = EntryImage(size_t(index));
            TRenderImage* pic = img ? img->LoadedPicture() : nullptr;
            if (!pic) continue;
            const int32_t W = pic->VisibleWidth, H = pic->VisibleHeight;
            // A picture without area has nothing to fit (and no factor).
            if (W <= 0 || H <= 0) continue;
            double fit = double(elWidth_) / W;
            if (elHeight_ < H * fit) fit = double(elHeight_) / H;
            const double cx = ox + RX() + double(c) * (double(elWidth_) + space_) + elWidth_ / 2.0;
            const double cy = oy + RY() + double(r) * (double(elHeight_) + space_) + elHeight_ / 2.0;
            canvas->SetAntialias(true);
            canvas->DrawRot(pic, cx, cy, img->Angle() * std::numbers::pi / 180.0,
                            fit * entries_[size_t(index)].zoom, img->Color(), img->Anim(), img->DrawFx());
        }
    }
}

void TNBImList::LoadImages() {
    if (Loaded()) return;
    TNBStored::LoadImages();
    // By index: loading may run the progress hook, whose script may edit the
    // list.
    for (size_t i = 0; i < entries_.size(); ++i)
        if (TNBElement* e = ctx_.Element(entries_[i].element)) e->LoadImages();
}

void TNBImList::ReloadImages() {
    TNBStored::ReloadImages();
    for (size_t i = 0; i < entries_.size(); ++i)
        if (TNBElement* e = ctx_.Element(entries_[i].element)) e->ReloadImages();
}

// ------------------------------------------------------------ script values

bool TNBImList::GetValue(std::string_view name, TScriptValue& value) {
    if (TNBStored::GetValue(name, value)) return true;
    if (name == "ELEMENTS") {
        std::string s;
        for (const Entry& en : entries_) {
            // Entries whose element is gone have no Key left to name.
            if (TNBElement* e = ctx_.Element(en.element)) {
                s += std::to_string(e->Key());
                s += ';';
            }
        }
        value = TScriptValue::string(std::move(s));
        return true;
    }
    if (name == "SELEL") {
        // The hovered entry's element travels as a plain signed integer.
        TNBElement* e = HoveredElement();
        value = e ? TScriptValue::int32(int32_t(e->Ident())) : TScriptValue::uint8(0);
        return true;
    }
    return false;
}

bool TNBImList::SetValue(std::string_view name, TScriptValue& value) {
    if (TNBStored::SetValue(name, value)) return true;
    if (name != "ELEMENTS") return false;
    std::string text;
    try {
        text = value.toString();
    } catch (const std::exception&) {
    }
    entries_.clear();
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t semi = text.find(';', pos);
        std::string_view piece = std::string_view(text).substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
        int32_t key = 0;
        if (StrToInt32(trimView(piece), key)) {
            TNBElement* e = FindByKey(root_, key);
            if (e && e->IsA(TClassId::TNBImage)) Append(e);
        }
        if (semi == std::string::npos) break;
        pos = semi + 1;
    }
    return true;
}

}  // namespace nb
