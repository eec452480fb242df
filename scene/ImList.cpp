#include "scene/ImList.h"

#include "platform/Text.h"
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
        TNBElement* e = (hovered_ >= 0 && size_t(hovered_) < entries_.size())
                            ? ctx_.Element(entries_[size_t(hovered_)].element)
                            : nullptr;
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
