#include "scene/Stored.h"

namespace nb {

TNBStored::TNBStored(TSceneContext& ctx, TClassId cls, TNBElement* parent) : TNBElement(ctx, cls, parent) {
    values_.reserve(info_->props.size());
    for (const TPropInfo& p : info_->props) {
        switch (p.kind) {
            case TPropKind::Real: values_.push_back(TPropValue::Real(p.realDefault)); break;
            case TPropKind::String: values_.push_back(TPropValue::Str(p.strDefault)); break;
            default: values_.push_back(TPropValue::Int(p.intDefault)); break;
        }
    }
}

bool TNBStored::GetProp(int index, TPropValue& out) {
    if (GetBaseProp(PropCode(index), out)) return true;
    if (index < 0 || size_t(index) >= values_.size()) return false;
    out = values_[size_t(index)];
    return true;
}

void TNBStored::SetProp(int index, const TPropValue& v) {
    if (SetBaseProp(PropCode(index), v)) return;
    if (index >= 0 && size_t(index) < values_.size()) values_[size_t(index)] = v;
}

int64_t TNBStored::StoredInt(TProp code) const {
    int i = PropIndex(code);
    return i >= 0 ? values_[size_t(i)].i : 0;
}

double TNBStored::StoredReal(TProp code) const {
    int i = PropIndex(code);
    return i >= 0 ? values_[size_t(i)].r : 0.0;
}

const std::string& TNBStored::StoredStr(TProp code) const {
    static const std::string kEmpty;
    int i = PropIndex(code);
    return i >= 0 ? values_[size_t(i)].s : kEmpty;
}

void TNBStored::StoreInt(TProp code, int64_t v) {
    if (int i = PropIndex(code); i >= 0) values_[size_t(i)] = TPropValue::Int(v);
}

void TNBStored::StoreReal(TProp code, double v) {
    if (int i = PropIndex(code); i >= 0) values_[size_t(i)] = TPropValue::Real(v);
}

void TNBStored::StoreStr(TProp code, std::string v) {
    if (int i = PropIndex(code); i >= 0) values_[size_t(i)] = TPropValue::Str(std::move(v));
}

}  // namespace nb
