// Saved state: writing the tree's values and reading them back.
#include <array>
#include <unordered_map>
#include <cmath>
#include <cstring>

#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "render/RenderTimers.h"
#include "scene/ImList.h"
#include "scene/Root.h"
#include "scene/SavedState.h"

namespace nb {

// ------------------------------------------------------------ extended reals

void DoubleToExtended(double v, uint8_t out[10]) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    const uint16_t sign = (bits >> 63) ? 0x8000 : 0;
    const int exp = int((bits >> 52) & 0x7FF);
    const uint64_t frac = bits & 0xFFFFFFFFFFFFFull;
    uint64_t mant = 0;
    uint16_t e80 = 0;
    if (exp == 0x7FF) {
        e80 = 0x7FFF;
        // Infinity keeps only the integer bit; a NaN keeps its payload and is
        // made quiet.
        mant = frac == 0 ? 0x8000000000000000ull : (0xC000000000000000ull | (frac << 11));
    } else if (exp == 0) {
        if (frac != 0) {
            // A double denormal is a normal extended value: shift the fraction
            // up to the integer bit.
            int shift = 0;
            uint64_t m = frac << 11;
            while (!(m & 0x8000000000000000ull)) {
                m <<= 1;
                ++shift;
            }
            mant = m;
            e80 = uint16_t(16383 - 1022 - shift);
        }
    } else {
        mant = 0x8000000000000000ull | (frac << 11);
        e80 = uint16_t(exp - 1023 + 16383);
    }
    for (int i = 0; i < 8; ++i) out[i] = uint8_t(mant >> (8 * i));
    const uint16_t se = uint16_t(sign | e80);
    out[8] = uint8_t(se);
    out[9] = uint8_t(se >> 8);
}

double ExtendedToDouble(const uint8_t in[10]) {
    uint64_t mant = 0;
    for (int i = 0; i < 8; ++i) mant |= uint64_t(in[i]) << (8 * i);
    const uint16_t se = uint16_t(in[8] | (in[9] << 8));
    const bool neg = (se & 0x8000) != 0;
    const int e = se & 0x7FFF;
    double r;
    if (e == 0x7FFF) {
        r = (mant << 1) == 0 ? INFINITY : NAN;
    } else if (mant == 0) {
        r = 0.0;
    } else {
        // value = mant * 2^(e - 16383 - 63); an exponent field of 0 is the
        // denormal range, which shares the exponent of field value 1.
        const int unbiased = (e == 0 ? 1 : e) - 16383 - 63;
        // Keep ldexp's intermediate in range: huge exponents saturate to
        // infinity, tiny ones to zero.
        if (unbiased > 2000) r = INFINITY;
        else if (unbiased < -2200) r = 0.0;
        else r = std::ldexp(double(mant), unbiased);
    }
    return neg ? -r : r;
}

// ------------------------------------------------------------ writing

namespace {

bool SkippedName(const std::string& u) {
    return u == "NOTSAVE" || u == "ID" || u == "CURKEY" || u == "FILERS" || u == "INTERPOL" ||
           u == "INTERPOLSC" || u == "MSKEEP" || u == "KEY" || u.rfind("EX", 0) == 0;
}

// The saved properties of each class (index and upper-cased name), in class
// order: every published property but the skipped names, and for images,
// shapes and texts also X and Y (their rX and rY are saved instead).
struct SavedProp {
    int index;
    std::string upper;
};
const std::array<std::vector<SavedProp>, kClassCount>& SavedProps() {
    static const std::array<std::vector<SavedProp>, kClassCount> table = [] {
        std::array<std::vector<SavedProp>, kClassCount> t;
        for (const TClassInfo& c : ClassTable()) {
            const bool realPosition =
                c.id == TClassId::TNBImage || c.id == TClassId::TNBShape || c.id == TClassId::TNBText;
            for (size_t i = 0; i < c.props.size(); ++i) {
                std::string u = asciiUpper(c.props[i].name);
                if (SkippedName(u) || (realPosition && (u == "X" || u == "Y"))) continue;
                t[size_t(c.id)].push_back({int(i), std::move(u)});
            }
        }
        return t;
    }();
    return table;
}

class StateWriter {
public:
    explicit StateWriter(TSceneContext& ctx) : ctx_(ctx) {}

    void Walk(TNBElement& e) {
        if (e.IsA(TClassId::TNBAnKey)) return;  // keys and their parts are rebuilt, not saved
        if (!e.NotSave()) WriteOwn(e);
        for (size_t i = 0; i < e.ChildCount(); ++i)
            if (TNBElement* c = e.Child(i)) Walk(*c);
    }

    std::string Take() {
        const auto& b = w_.buffer();
        return std::string(reinterpret_cast<const char*>(b.data()), b.size());
    }

private:
    void WriteOwn(TNBElement& e) {
        // What GetValue(U) answers for a property name: an own variable of
        // that name first, else the property itself.
        TVarList* own = e.Vars();
        for (const SavedProp& p : SavedProps()[size_t(e.ClassId())]) {
            TScriptValue v;
            if (const TVar* var = own ? own->Find(p.upper) : nullptr) v = var->value;
            else e.PropScriptValue(p.index, v);
            Record(e.Key(), p.upper, v);
        }
        if (TVarList* vars = e.Vars()) {
            // Names first: reading a value never changes the table, but keep
            // the walk independent of it anyway.
            std::vector<std::string> names;
            names.reserve(vars->Count());
            for (const TVar& v : *vars) names.push_back(v.name);
            for (const std::string& n : names) {
                TScriptValue v;
                if (e.GetValue(n, v)) Record(e.Key(), n, v);
            }
        }
        if (e.IsA(TClassId::TNBImList)) {
            TScriptValue v;
            if (e.GetValue("ELEMENTS", v)) Record(e.Key(), "ELEMENTS", v);
        }
    }

    void Record(int32_t key, const std::string& name, const TScriptValue& v) {
        // A reference to an element that no longer exists has no Key to
        // write; the record is left out rather than pointing elsewhere.
        const TNBElement* ref = nullptr;
        if (v.isElement()) {
            ref = ctx_.Element(v.elementId());
            if (!ref) return;
        }
        w_.i32(key);
        w_.str32(name);
        switch (v.kind()) {
            case ValueKind::Int32:
            case ValueKind::UInt8:
                w_.u8(kStateTagInt);
                w_.i32(int32_t(v.rawInt()));
                break;
            case ValueKind::Boolean:
                w_.u8(kStateTagInt);
                w_.i32(v.rawBool() ? -1 : 0);
                break;
            case ValueKind::UInt16:
                w_.u8(kStateTagWord);
                w_.u16(uint16_t(v.rawInt()));
                break;
            case ValueKind::Real: {
                w_.u8(kStateTagExtended);
                uint8_t ext[10];
                DoubleToExtended(v.rawReal(), ext);
                w_.bytes(ext, 10);
                break;
            }
            case ValueKind::ElementRef:
                w_.u8(kStateTagElement);
                w_.i32(ref->Key());
                break;
            default: {
                std::string text;
                try {
                    text = v.toString();
                } catch (const std::exception&) {
                }
                w_.u8(kStateTagString);
                w_.str32(text);
                break;
            }
        }
    }

    TSceneContext& ctx_;
    ByteWriter w_;
};

}  // namespace

std::string TNBDB::BuildState() {
    StateWriter w(ctx_);
    w.Walk(*this);
    return w.Take();
}

bool TNBDB::SaveState() {
    if (!statePath_) return false;
    const std::string bytes = BuildState();
    // Written beside the old file and renamed over it: a failed or interrupted
    // save leaves the previous one intact.
    const bool ok = fs::writeFileAtomic(*statePath_, bytes);
    if (ctx_.timer) ctx_.timer->Reset();
    return ok;
}

// ------------------------------------------------------------ reading

namespace {

// FindByKey from the root, answered from an index: the first element of
// each key in tree order, rebuilt whenever the tree or a key changed. The
// next-sibling hint is the one FindByKey would leave: the first following
// sibling on the way up from the element to the root's children.
class KeyIndex {
public:
    KeyIndex(TSceneContext& ctx, TNBElement* root) : ctx_(ctx), root_(root) {}

    TNBElement* Find(int32_t key, ElementId* hint = nullptr) {
        if (!built_ || generation_ != ctx_.TreeGeneration()) Rebuild();
        auto it = first_.find(key);
        TNBElement* e = it == first_.end() ? nullptr : it->second;
        if (hint) {
            *hint = 0;
            for (TNBElement* n = e; n && n->Parent(); n = n->Parent()) {
                if (TNBElement* next = n->Parent()->Child(size_t(n->IndexInParent()) + 1)) {
                    *hint = next->Ident();
                    break;
                }
            }
        }
        return e;
    }

private:
    void Rebuild() {
        first_.clear();
        Add(root_);
        built_ = true;
        generation_ = ctx_.TreeGeneration();
    }
    void Add(TNBElement* e) {
        first_.emplace(e->Key(), e);
        for (size_t i = 0; i < e->ChildCount(); ++i) Add(e->Child(i));
    }

    TSceneContext& ctx_;
    TNBElement* root_;
    std::unordered_map<int32_t, TNBElement*> first_;
    bool built_ = false;
    uint64_t generation_ = 0;
};

}  // namespace

void TNBDB::ApplyState(std::string_view bytes) {
    ByteReader r(bytes);
    bool havePrev = false;
    int32_t prevKey = 0;
    ElementId prev = 0;
    ElementId hint = 0;
    KeyIndex index(ctx_, this);
    while (!r.atEnd()) {
        int32_t key;
        std::string name;
        uint8_t tag;
        if (!r.i32(key) || !r.str32(name) || !r.u8(tag)) break;
        TScriptValue value;
        bool ok = true;
        switch (tag) {
            case kStateTagExtended: {
                uint8_t ext[10];
                ok = r.bytes(ext, 10);
                value = TScriptValue::real(ExtendedToDouble(ext));
                break;
            }
            case kStateTagInt: {
                int32_t i = 0;
                ok = r.i32(i);
                value = TScriptValue::int32(i);
                break;
            }
            case kStateTagWord: {
                uint16_t w = 0;
                ok = r.u16(w);
                value = TScriptValue::uint16(w);
                break;
            }
            case kStateTagString: {
                std::string s;
                ok = r.str32(s);
                value = TScriptValue::string(std::move(s));
                break;
            }
            case kStateTagElement: {
                int32_t k = 0;
                ok = r.i32(k);
                value = ElementRef(index.Find(k));
                break;
            }
            default:
                continue;  // an unknown tag: the record is dropped right after it
        }
        if (!ok) break;  // a truncated payload ends the file

        TNBElement* target = nullptr;
        if (havePrev && key == prevKey) {
            target = ctx_.Element(prev);
        } else if (TNBElement* h = ctx_.Element(hint); h && h->Key() == key) {
            target = h;
        } else {
            target = index.Find(key, &hint);
        }
        havePrev = true;
        prevKey = key;
        prev = target ? target->Ident() : 0;
        if (target && !target->NotSave()) target->SetValue(name, value);
    }
}

void TNBDB::LoadState() {
    bool& restoring = ctx_.restoring;
    restoring = true;
    if (!statePath_) {
        restoring = false;
        return;
    }
    ctx_.imageLoad.ready = false;
    auto bytes = fs::readFile(*statePath_);
    if (bytes) ApplyState(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    ctx_.imageLoad.ready = true;
    AfterLoad();
    if (ctx_.timer) ctx_.timer->Reset();
    restoring = false;
}

}  // namespace nb
