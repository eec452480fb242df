#include "scene/Element.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "platform/Text.h"
#include "scene/Root.h"

namespace nb {

// ------------------------------------------------------------ property codes

namespace {

struct CodeName {
    const char* name;
    TProp code;
};

#define NB_P(n) {#n, TProp::n}
constexpr CodeName kCodeNames[] = {
    NB_P(Key), NB_P(Id), NB_P(X), NB_P(Y), NB_P(Vis),
    NB_P(CurKey), NB_P(InitScreen), NB_P(FileRS), NB_P(FileFonts), NB_P(hxTransLev), NB_P(DefLang),
    NB_P(Lang), NB_P(LoadingScreen), NB_P(IniFile), NB_P(SoundFile),
    NB_P(exVarRS), NB_P(exInit), NB_P(exAfterLoad), NB_P(exMouseDown), NB_P(exMouseUp), NB_P(exUpdate),
    NB_P(exProcess), NB_P(exLoadImProcess), NB_P(exKeyDown), NB_P(exExit), NB_P(exShow), NB_P(exRender),
    NB_P(exMouseIn), NB_P(exMouseOut), NB_P(exMouseMove), NB_P(exStop), NB_P(exStart), NB_P(exAnim),
    NB_P(NotSave), NB_P(ImBack), NB_P(SizeX), NB_P(SizeY), NB_P(hxDrawFx), NB_P(Agro), NB_P(Modal),
    NB_P(Order), NB_P(Tag), NB_P(AllwaysLoad), NB_P(AutoInit),
    NB_P(imImage), NB_P(PosHor), NB_P(PosVert), NB_P(Scale), NB_P(Angle), NB_P(hxColor), NB_P(hxTrans),
    NB_P(MousedNotVis), NB_P(MousedVis), NB_P(Anim), NB_P(NoMsNBDB),
    NB_P(rX), NB_P(rY), NB_P(ScaleX), NB_P(ScaleY), NB_P(Interpol), NB_P(InterpolSc), NB_P(MsKeep),
    NB_P(TextId), NB_P(obScreen), NB_P(Processing),
    NB_P(Pos), NB_P(Morph), NB_P(Rep), NB_P(ShowAn), NB_P(Active), NB_P(Count), NB_P(obAnim),
    NB_P(EffectFN), NB_P(DAnim),
    NB_P(RowCount), NB_P(ColCount), NB_P(Space), NB_P(ScrollPos), NB_P(ElWidth), NB_P(ElHeight),
    NB_P(hxColor1), NB_P(hxTrans1), NB_P(hxColor2), NB_P(hxTrans2), NB_P(Font), NB_P(AutoEnter),
    NB_P(EnEnter), NB_P(AutoScale), NB_P(Interval), NB_P(Text),
};
#undef NB_P

// Per-class lookup tables, built once from the class table and never changed.
struct ClassTables {
    std::vector<TProp> codes;                      // code of each property index
    std::array<int, size_t(TProp::Unknown) + 1> indexOf;  // index of each code, -1
    std::unordered_map<std::string, int> byUpper;  // upper-cased name -> index
    std::vector<int> pictureProps;                 // "IM..." and "FONT" properties
};

const std::array<ClassTables, kClassCount>& Tables() {
    static const std::array<ClassTables, kClassCount> tables = [] {
        std::array<ClassTables, kClassCount> t;
        for (const TClassInfo& c : ClassTable()) {
            ClassTables& ct = t[size_t(c.id)];
            ct.indexOf.fill(-1);
            for (size_t i = 0; i < c.props.size(); ++i) {
                TProp code = PropCodeOf(c.props[i].name);
                ct.codes.push_back(code);
                if (code != TProp::Unknown && ct.indexOf[size_t(code)] < 0) ct.indexOf[size_t(code)] = int(i);
                std::string up = asciiUpper(c.props[i].name);
                ct.byUpper.emplace(up, int(i));
                if (up.rfind("IM", 0) == 0 || up == "FONT") ct.pictureProps.push_back(int(i));
            }
        }
        return t;
    }();
    return tables;
}

int64_t ClampToI64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return int64_t(d);
}

// Narrows an integer by the declared type of a property.
int64_t Narrow(TPropType t, int64_t v) {
    switch (t) {
        case TPropType::Integer: return int32_t(uint32_t(uint64_t(v)));
        case TPropType::Cardinal: return uint32_t(uint64_t(v));
        case TPropType::Word: return uint16_t(uint64_t(v));
        case TPropType::Byte:
        case TPropType::PosHor:
        case TPropType::PosVert: return uint8_t(uint64_t(v));
        case TPropType::Boolean: return v != 0 ? 1 : 0;
        default: return v;
    }
}

bool ParseReal(std::string_view s, double& out) {
    std::string t(trimView(s));
    if (t.empty()) return false;
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end && *end == '\0';
}

std::string RealToText(double d) {
    return TScriptValue::real(d).toString();
}

// Integer of a script value for an integer property: strings through the
// standard conversion (not a number: 0), reals rounded half to even.
int64_t ScriptToInt(const TScriptValue& v) {
    switch (v.kind()) {
        case ValueKind::Boolean: return v.rawBool() ? -1 : 0;
        case ValueKind::Int32:
        case ValueKind::Int64:
        case ValueKind::UInt16:
        case ValueKind::UInt8:
        case ValueKind::ElementRef: return v.rawInt();
        case ValueKind::Real:
        case ValueKind::DateTime: return ClampToI64(roundHalfEven(v.rawReal()));
        case ValueKind::String: {
            int32_t i = 0;
            return StrToInt32(v.rawString(), i) ? i : 0;
        }
        default: return 0;
    }
}

double ScriptToReal(const TScriptValue& v) {
    try {
        return v.toReal();
    } catch (const std::exception&) {
        return 0.0;
    }
}

std::string ScriptToString(const TScriptValue& v) {
    try {
        return v.toString();
    } catch (const std::exception&) {
        return std::string();
    }
}

// Compares an Id upper-cased (ASCII) with an already upper-cased name.
bool UpperEquals(std::string_view id, std::string_view upperName) {
    if (id.size() != upperName.size()) return false;
    for (size_t i = 0; i < id.size(); ++i)
        if (asciiUpperChar(id[i]) != upperName[i]) return false;
    return true;
}

}  // namespace

TProp PropCodeOf(std::string_view name) {
    for (const CodeName& c : kCodeNames)
        if (name == c.name) return c.code;
    return TProp::Unknown;
}

bool HookOfProp(TProp p, THook& hook) {
    switch (p) {
        case TProp::exMouseMove: hook = THook::MouseMove; return true;
        case TProp::exInit: hook = THook::Init; return true;
        case TProp::exMouseUp: hook = THook::MouseUp; return true;
        case TProp::exVarRS: hook = THook::VarRS; return true;
        case TProp::exMouseOut: hook = THook::MouseOut; return true;
        case TProp::exMouseIn: hook = THook::MouseIn; return true;
        case TProp::exAfterLoad: hook = THook::AfterLoad; return true;
        case TProp::exMouseDown: hook = THook::MouseDown; return true;
        case TProp::exUpdate: hook = THook::Update; return true;
        case TProp::exProcess: hook = THook::Process; return true;
        case TProp::exShow: hook = THook::Show; return true;
        case TProp::exRender: hook = THook::Render; return true;
        case TProp::exKeyDown: hook = THook::KeyDown; return true;
        case TProp::exExit: hook = THook::Exit; return true;
        case TProp::exLoadImProcess: hook = THook::LoadImProcess; return true;
        case TProp::exStop: hook = THook::Stop; return true;
        case TProp::exStart: hook = THook::Start; return true;
        case TProp::exAnim: hook = THook::Anim; return true;
        default: return false;
    }
}

int32_t ScriptIntOf(const TScriptValue& v) { return int32_t(uint32_t(uint64_t(ScriptToInt(v)))); }

bool StrToInt32(std::string_view s, int32_t& out) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        neg = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * uint64_t(base) + uint64_t(d);
        if (v > 0xFFFFFFFFull) return false;
    }
    if (base == 16) {
        // Hexadecimal texts give the bit pattern, as the host's reader does.
        uint32_t u = uint32_t(v);
        out = neg ? int32_t(0u - u) : int32_t(u);
        return true;
    }
    if (neg) {
        if (v > 2147483648ull) return false;
        out = int32_t(-int64_t(v));
    } else {
        if (v > 2147483647ull) return false;
        out = int32_t(v);
    }
    return true;
}

// ------------------------------------------------------------ life cycle

TNBElement::TNBElement(TSceneContext& ctx, TClassId cls, TNBElement* parent)
    : ctx_(ctx), info_(&ClassInfo(cls)), parent_(parent) {
    root_ = parent ? parent->root_ : nullptr;
    ident_ = ctx_.Register(this);
}

TNBElement::~TNBElement() {
    // Children go first, while this element is still registered as their
    // parent; then every reference the context holds to it is dropped.
    while (!children_.empty()) {
        std::unique_ptr<TNBElement> last = std::move(children_.back());
        children_.pop_back();
        last.reset();
    }
    ctx_.Unregister(ident_, this);
}

void TNBElement::AttachCreated(std::unique_ptr<TNBElement> e) {
    TNBElement* raw = e.get();
    TNBElement* parent = raw->parent_;
    parent->children_.push_back(std::move(e));
    raw->SetVis(true);
    raw->mousedVis_ = true;
    raw->autoInit_ = true;
}

void TNBElement::Free() {
    if (!parent_) return;
    auto& list = parent_->children_;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() == this) {
            std::unique_ptr<TNBElement> self = std::move(list[i]);
            list.erase(list.begin() + std::ptrdiff_t(i));
            return;  // `self` destroys this element here
        }
    }
}

int TNBElement::IndexInParent() const {
    if (!parent_) return -1;
    for (size_t i = 0; i < parent_->children_.size(); ++i)
        if (parent_->children_[i].get() == this) return int(i);
    return -1;
}

TNBElement* TNBElement::FindByKey(TNBElement* start, int32_t key, TNBElement** next) {
    if (!start) return nullptr;
    if (start->key_ == key) return start;
    auto& list = start->children_;
    for (size_t i = 0; i < list.size(); ++i) {
        if (TNBElement* found = FindByKey(list[i].get(), key, next)) {
            if (next && !*next) *next = i + 1 < list.size() ? list[i + 1].get() : nullptr;
            return found;
        }
    }
    return nullptr;
}

void TNBElement::ClearLoaded() {
    loaded_ = false;
    ForEachChild([](TNBElement& c) { c.ClearLoaded(); });
}

int32_t TNBElement::X() const { return roundHalfEvenI32(rX_); }
int32_t TNBElement::Y() const { return roundHalfEvenI32(rY_); }

void TNBElement::SetOrder(int32_t v) {
    order_ = v;
    if (root_) root_->WidenLayers(v);
}

// ------------------------------------------------------------ slots

void TNBElement::SetVis(bool v) { vis_ = v; }
void TNBElement::SetX(int32_t v) { rX_ = v; }
void TNBElement::SetY(int32_t v) { rY_ = v; }
void TNBElement::SetSizeX(int32_t) {}
void TNBElement::SetSizeY(int32_t) {}
int32_t TNBElement::GetSizeX() { return 0; }
int32_t TNBElement::GetSizeY() { return 0; }

namespace {
// Sums and differences of positions near the ends of the integer range
// saturate instead of wrapping round to the far side of the screen.
int32_t Saturated(int64_t v) { return int32_t(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v); }
}  // namespace

int32_t TNBElement::GetAbsX() { return Saturated(int64_t(X()) + (parent_ ? parent_->GetAbsX() : 0)); }
int32_t TNBElement::GetAbsY() { return Saturated(int64_t(Y()) + (parent_ ? parent_->GetAbsY() : 0)); }

TNBElement* TNBElement::HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) {
    if (!MouseVisible()) return nullptr;
    const int32_t lx = Saturated(int64_t(x) - X()), ly = Saturated(int64_t(y) - Y());
    for (size_t i = children_.size(); i-- > 0;) {
        if (i >= children_.size()) continue;
        if (TNBElement* hit = children_[i]->HitTest(layer, lx, ly, margin, threshold)) return hit;
    }
    return nullptr;
}

void TNBElement::SetPos(int32_t x, int32_t y) {
    rX_ = x;
    rY_ = y;
}

void TNBElement::Render(int32_t layer, uint32_t color, double ox, double oy, int32_t) {
    if (!loaded_) LoadImages();
    const double cx = ox + rX_, cy = oy + rY_;
    ForEachChild([&](TNBElement& c) {
        if (c.vis_) c.Render(layer, color, cx, cy, 0);
    });
}

void TNBElement::Process() {
    if (!vis_ && !mousedNotVis_) return;
    RunNamedHook(THook::Process, "Process");
    ForEachChild([](TNBElement& c) { c.Process(); });
}

void TNBElement::Show() {
    RunNamedHook(THook::Show, "Show");
    ForEachChild([](TNBElement& c) { c.Show(); });
}

void TNBElement::MouseIn() { RunNamedHook(THook::MouseIn, "ms_In"); }
void TNBElement::MouseOut() { RunNamedHook(THook::MouseOut, "ms_Out"); }
void TNBElement::MouseDown() { RunNamedHook(THook::MouseDown, "ms_Down"); }
void TNBElement::MouseUp() { RunNamedHook(THook::MouseUp, "ms_Up"); }
void TNBElement::MouseMove() { RunNamedHook(THook::MouseMove, "ms_Move"); }
void TNBElement::Update() { RunNamedHook(THook::Update, "Update"); }

void TNBElement::InitWithHook(std::string_view hookName) {
    // The local reference keeps the table alive even when the hook makes the
    // element start over with another one.
    auto table = std::make_shared<TVarList>();
    vars_ = table;
    RunNamedHook(THook::Init, hookName, table.get());
    ForEachChild([](TNBElement& c) { c.Init(); });
}

void TNBElement::Init() {
    if (IsA(TClassId::TNBScreen) && !autoInit_) return;
    InitWithHook("Init");
}

void TNBElement::InitPr() { InitWithHook("InitPr"); }

void TNBElement::AfterLoad() {
    RunNamedHook(THook::AfterLoad, "Load");
    ForEachChild([](TNBElement& c) { c.AfterLoad(); });
}

void TNBElement::RewritePictureProps() {
    for (int i : Tables()[size_t(info_->id)].pictureProps) WriteProp(i, ReadProp(i));
}

void TNBElement::LoadImages() {
    if (loaded_) return;
    RewritePictureProps();
    loaded_ = true;
    ForEachChild([](TNBElement& c) { c.LoadImages(); });
}

void TNBElement::ReloadImages() {
    if (loaded_) RewritePictureProps();
    ForEachChild([](TNBElement& c) { c.ReloadImages(); });
}

bool TNBElement::TextSize(double&) { return false; }

// ------------------------------------------------------------ hooks

namespace {

// The line for a hook refused because every interpreter is in use. It names
// the element whose hook is running at the deepest level (the one that asked
// for the refused hook), or the refused hook's own element when none runs.
void LogRecursion(const TSceneContext& ctx, const TNBElement& refused, std::string_view hookName) {
    const TNBElement& e = ctx.currentElement ? *ctx.currentElement : refused;
    ctx.AppendLog("Very recursion (in " + e.Id() + " <" + e.ClassName() + " #" + std::to_string(e.Key()) + "> " +
                  std::string(hookName));
}

}  // namespace

void TNBElement::SetHook(THook h, std::string text) {
    std::string compiled;
    if (!text.empty()) {
        std::string translated = root_ ? root_->TranslateIds(text) : text;
        if (TScriptEngine* eng = ctx_.CurrentEngine(); eng && !translated.empty())
            compiled = eng->Compile(translated);
    }
    hookText_[size_t(h)] = std::move(text);
    hookCompiled_[size_t(h)] = std::move(compiled);
}

void TNBElement::RunNamedHook(THook h, std::string_view hookName, TVarList* vars) {
    const std::string& compiled = hookCompiled_[size_t(h)];
    if (!compiled.empty() && ctx_.depth_ >= TSceneContext::kPoolSize) {
        // Refused before the name is taken, so the running levels keep theirs.
        LogRecursion(ctx_, *this, hookName);
        return;
    }
    ctx_.hookName.assign(hookName);
    RunCompiled(compiled, vars);
}

void TNBElement::RunHook(THook h, TVarList* vars) { RunCompiled(hookCompiled_[size_t(h)], vars); }

void TNBElement::RunCompiled(const std::string& compiledRef, TVarList* vars) {
    if (!ctx_.HasPool()) return;
    if (ctx_.depth_ >= TSceneContext::kPoolSize) {
        if (compiledRef.empty()) return;  // nothing would run anyway
        LogRecursion(ctx_, *this, ctx_.hookName);
        return;
    }
    struct DepthGuard {
        int& d;
        explicit DepthGuard(int& depth) : d(depth) { ++d; }
        ~DepthGuard() { --d; }
    } guard(ctx_.depth_);
    TScriptEngine* eng = ctx_.pool_[size_t(ctx_.depth_ - 1)].get();
    eng->Vars().Clear();
    if (compiledRef.empty()) return;

    // The script may rewrite this very hook: run a copy of the text.
    const std::string compiled = compiledRef;
    const ElementId me = ident_;
    TNBElement* saved = ctx_.currentElement;
    const ElementId savedId = saved ? saved->ident_ : 0;
    ctx_.currentElement = this;
    eng->Run(compiled);
    ctx_.currentElement = (saved && ctx_.Element(savedId) == saved) ? saved : nullptr;
    if (vars && ctx_.Element(me) == this)
        for (const TVar& v : eng->Vars()) vars->Put(v);
}

// ------------------------------------------------------------ properties

TProp TNBElement::PropCode(int index) const {
    const auto& codes = Tables()[size_t(info_->id)].codes;
    return (index >= 0 && size_t(index) < codes.size()) ? codes[size_t(index)] : TProp::Unknown;
}

int TNBElement::PropIndex(TProp code) const { return Tables()[size_t(info_->id)].indexOf[size_t(code)]; }

int TNBElement::PropIndexUpper(std::string_view upperName) const {
    const auto& m = Tables()[size_t(info_->id)].byUpper;
    auto it = m.find(std::string(upperName));
    return it == m.end() ? -1 : it->second;
}

bool TNBElement::GetBaseProp(TProp code, TPropValue& out) {
    THook h;
    if (HookOfProp(code, h)) {
        out = TPropValue::Str(hookText_[size_t(h)]);
        return true;
    }
    switch (code) {
        case TProp::Key: out = TPropValue::Int(key_); return true;
        case TProp::Id: out = TPropValue::Str(id_); return true;
        case TProp::X: out = TPropValue::Int(X()); return true;
        case TProp::Y: out = TPropValue::Int(Y()); return true;
        case TProp::Vis: out = TPropValue::Int(vis_); return true;
        case TProp::rX: out = TPropValue::Real(rX_); return true;
        case TProp::rY: out = TPropValue::Real(rY_); return true;
        case TProp::SizeX: out = TPropValue::Int(GetSizeX()); return true;
        case TProp::SizeY: out = TPropValue::Int(GetSizeY()); return true;
        case TProp::Order: out = TPropValue::Int(order_); return true;
        case TProp::Tag: out = TPropValue::Str(tag_); return true;
        case TProp::NotSave: out = TPropValue::Int(notSave_); return true;
        case TProp::MousedVis: out = TPropValue::Int(mousedVis_); return true;
        case TProp::MousedNotVis: out = TPropValue::Int(mousedNotVis_); return true;
        case TProp::NoMsNBDB: out = TPropValue::Int(noMsNBDB_); return true;
        case TProp::MsKeep: out = TPropValue::Int(msKeep_); return true;
        case TProp::AutoInit: out = TPropValue::Int(autoInit_); return true;
        default: return false;
    }
}

bool TNBElement::SetBaseProp(TProp code, const TPropValue& v) {
    THook h;
    if (HookOfProp(code, h)) {
        SetHook(h, v.s);
        return true;
    }
    switch (code) {
        case TProp::Key: SetKey(int32_t(v.i)); return true;
        case TProp::Id: id_ = v.s; return true;
        case TProp::X: SetX(int32_t(v.i)); return true;
        case TProp::Y: SetY(int32_t(v.i)); return true;
        case TProp::Vis: SetVis(v.i != 0); return true;
        case TProp::rX: rX_ = v.r; return true;
        case TProp::rY: rY_ = v.r; return true;
        case TProp::SizeX: SetSizeX(int32_t(v.i)); return true;
        case TProp::SizeY: SetSizeY(int32_t(v.i)); return true;
        case TProp::Order: SetOrder(int32_t(v.i)); return true;
        case TProp::Tag: tag_ = v.s; return true;
        case TProp::NotSave: notSave_ = v.i != 0; return true;
        case TProp::MousedVis: mousedVis_ = v.i != 0; return true;
        case TProp::MousedNotVis: mousedNotVis_ = v.i != 0; return true;
        case TProp::NoMsNBDB: noMsNBDB_ = v.i != 0; return true;
        case TProp::MsKeep: msKeep_ = v.i != 0; return true;
        case TProp::AutoInit: autoInit_ = v.i != 0; return true;
        default: return false;
    }
}

bool TNBElement::GetProp(int index, TPropValue& out) { return GetBaseProp(PropCode(index), out); }

void TNBElement::SetProp(int index, const TPropValue& v) { SetBaseProp(PropCode(index), v); }

void TNBElement::WriteProp(int index, TPropValue v) {
    if (index < 0 || index >= PropCount()) return;
    const TPropInfo& p = info_->props[size_t(index)];
    TPropValue n;
    switch (p.kind) {
        case TPropKind::Integer:
        case TPropKind::Enumeration: {
            int64_t i = 0;
            if (v.kind == TPropValue::Kind::Int) i = v.i;
            else if (v.kind == TPropValue::Kind::Real) i = ClampToI64(roundHalfEven(v.r));
            else {
                int32_t t = 0;
                i = StrToInt32(v.s, t) ? t : 0;
            }
            n = TPropValue::Int(Narrow(p.type, i));
            break;
        }
        case TPropKind::Real: {
            double d = 0;
            if (v.kind == TPropValue::Kind::Real) d = v.r;
            else if (v.kind == TPropValue::Kind::Int) d = double(v.i);
            else if (!ParseReal(v.s, d)) d = 0;
            n = TPropValue::Real(d);
            break;
        }
        case TPropKind::String:
            if (v.kind == TPropValue::Kind::Str) n = TPropValue::Str(std::move(v.s));
            else if (v.kind == TPropValue::Kind::Int) n = TPropValue::Str(std::to_string(v.i));
            else n = TPropValue::Str(RealToText(v.r));
            break;
    }
    SetProp(index, n);
}

TPropValue TNBElement::ReadProp(int index) {
    if (index < 0 || index >= PropCount()) return {};
    const TPropInfo& p = info_->props[size_t(index)];
    TPropValue v;
    if (!GetProp(index, v)) {
        switch (p.kind) {
            case TPropKind::Real: return TPropValue::Real(p.realDefault);
            case TPropKind::String: return TPropValue::Str(p.strDefault);
            default: return TPropValue::Int(p.intDefault);
        }
    }
    return v;
}

bool TNBElement::WritePropByName(std::string_view name, TPropValue v) {
    int i = info_->PropIndex(name);
    if (i < 0) return false;
    WriteProp(i, std::move(v));
    return true;
}

bool TNBElement::ReadPropByName(std::string_view name, TPropValue& out) {
    int i = info_->PropIndex(name);
    if (i < 0) return false;
    out = ReadProp(i);
    return true;
}

// ------------------------------------------------------------ script values

bool TNBElement::PropScriptValue(int index, TScriptValue& value) {
    if (index < 0 || index >= PropCount()) return false;
    TPropValue pv;
    if (!GetProp(index, pv)) return false;
    switch (info_->props[size_t(index)].kind) {
        case TPropKind::Integer:
        case TPropKind::Enumeration: value = TScriptValue::int32(int32_t(uint32_t(uint64_t(pv.i)))); break;
        case TPropKind::Real: value = TScriptValue::real(pv.r); break;
        case TPropKind::String: value = TScriptValue::string(std::move(pv.s)); break;
    }
    return true;
}

bool TNBElement::GetValue(std::string_view name, TScriptValue& value) {
    // 1. the element's own variables
    if (vars_) {
        if (const TVar* v = vars_->Find(name)) {
            value = v->value;
            return true;
        }
    }
    // 2. published properties
    if (int idx = PropIndexUpper(name); idx >= 0) {
        PropScriptValue(idx, value);
        return true;
    }
    // 3. children by Id
    for (const auto& c : children_) {
        if (UpperEquals(c->id_, name)) {
            value = ElementRef(c.get());
            return true;
        }
    }
    // 4. pseudo-names
    return GetPseudoValue(name, value);
}

bool TNBElement::GetPseudoValue(std::string_view name, TScriptValue& value) {
    TInteractionState& ui = ctx_.ui;
    if (name == "SELF") {
        value = ElementRef(this);
        return true;
    }
    if (name == "CLASS") {
        value = TScriptValue::string(asciiUpper(ClassName()));
        return true;
    }
    if (name == "PARENT") {
        if (!parent_) return false;
        value = ElementRef(parent_);
        return true;
    }
    if (name == "CHILDCOUNT") {
        value = TScriptValue::int32(int32_t(children_.size()));
        return true;
    }
    if (name == "PARPOS") {
        if (!parent_) return false;
        value = TScriptValue::int32(IndexInParent() + 1);
        return true;
    }
    if (name.size() >= 5 && name.substr(0, 5) == "CHILD") {
        // CHILD[n] and CHILDn; any other name starting with CHILD ends here.
        std::string_view num;
        if (name.size() >= 6 && name[5] == '[') num = name.substr(6, name.size() - 7);
        else num = name.substr(5);
        int32_t n = 0;
        if (!StrToInt32(num, n) || n < 1 || size_t(n) > children_.size()) return false;
        value = ElementRef(children_[size_t(n - 1)].get());
        return true;
    }
    if (name == "NBDB") {
        value = ElementRef(root_);
        return true;
    }
    if (name == "CURRENTSCREEN") {
        value = ElementRef(ui.currentScreen);
        return true;
    }
    if (name == "CURSOR") {
        if (!ui.cursor) return false;
        value = ElementRef(ui.cursor);
        return true;
    }
    if (name == "CURSORAT") {
        if (!ui.hovered) return false;
        value = ElementRef(ui.hovered);
        return true;
    }
    if (name == "CURSORATNIL") {
        value = TScriptValue::uint8(ui.hovered ? 0 : 1);
        return true;
    }
    if (name == "ABSX") {
        value = TScriptValue::int32(GetAbsX());
        return true;
    }
    if (name == "ABSY") {
        value = TScriptValue::int32(GetAbsY());
        return true;
    }
    if (name == "SZX") {
        value = TScriptValue::int32(GetSizeX());
        return true;
    }
    if (name == "SZY") {
        value = TScriptValue::int32(GetSizeY());
        return true;
    }
    if (name == "TEXTSZ") {
        double w = 0;
        if (!IsA(TClassId::TNBText) || !TextSize(w)) return false;
        value = TScriptValue::real(w);
        return true;
    }
    if (name == "MOUSEIN") {
        value = TScriptValue::boolean(ui.hovered == this);
        return true;
    }
    if (name == "MSDX") {
        value = TScriptValue::int32(ui.mouseDX);
        return true;
    }
    if (name == "MSDY") {
        value = TScriptValue::int32(ui.mouseDY);
        return true;
    }
    if (name == "MSX") {
        value = TScriptValue::int32(ui.mouseX);
        return true;
    }
    if (name == "MSY") {
        value = TScriptValue::int32(ui.mouseY);
        return true;
    }
    if (name == "IMFORLOADCOUNT") {
        value = TScriptValue::int32(ctx_.imageLoad.forLoadCount);
        return true;
    }
    if (name == "IMFORLOADPOS") {
        value = TScriptValue::int32(ctx_.imageLoad.forLoadPos);
        return true;
    }
    if (name == "KEYDOWNED") {
        value = TScriptValue::int32(ui.lastKey);
        return true;
    }
    if (name == "MOUSEDOWN") {
        value = TScriptValue::boolean(ui.mouseDown);
        return true;
    }
    if (name == "MOUSEINDOWN") {
        value = TScriptValue::boolean(ui.mouseDown && ui.hovered == this);
        return true;
    }
    return false;
}

bool TNBElement::SetValue(std::string_view name, TScriptValue& value) {
    // 1. a double-quoted text id is replaced by its translation, when it has one
    if (value.isString()) {
        const std::string& s = value.rawString();
        if (!s.empty() && s[0] == '"') {
            std::string_view id = s.size() >= 2 ? std::string_view(s).substr(1, s.size() - 2) : std::string_view();
            std::string t = root_ ? root_->LookupText(id) : std::string();
            if (!t.empty()) value = TScriptValue::string(std::move(t));
        }
    }
    // 2. the element's own variables
    if (vars_ && vars_->Exists(name)) {
        vars_->SetExisting(name, value);
        return true;
    }
    // 3. published properties
    if (int idx = PropIndexUpper(name); idx >= 0) {
        switch (info_->props[size_t(idx)].kind) {
            case TPropKind::Integer:
            case TPropKind::Enumeration: WriteProp(idx, TPropValue::Int(ScriptToInt(value))); break;
            case TPropKind::Real: WriteProp(idx, TPropValue::Real(ScriptToReal(value))); break;
            case TPropKind::String: WriteProp(idx, TPropValue::Str(ScriptToString(value))); break;
        }
        return true;
    }
    // 4. the cursor element
    if (name == "CURSOR" && value.isElement()) {
        ctx_.ui.cursor = ctx_.Element(value.elementId());
        return true;
    }
    return false;
}

}  // namespace nb

namespace nb {

void TNBElement::ToFront() {
    if (!parent_) return;
    auto& siblings = parent_->children_;
    for (size_t i = 0; i < siblings.size(); ++i) {
        if (siblings[i].get() != this) continue;
        if (i + 1 == siblings.size()) return;
        std::unique_ptr<TNBElement> self = std::move(siblings[i]);
        siblings.erase(siblings.begin() + long(i));
        siblings.push_back(std::move(self));
        return;
    }
}

}  // namespace nb
