// TNBStored: an element kind that keeps every property it does not handle
// itself as a plain stored value, initialised with its class's construction
// defaults. The base handles the shared properties (identity, position,
// visibility, hooks, layer, flags); everything else is read back exactly as
// it was written, already narrowed by its declared type.
#pragma once

#include <vector>

#include "scene/Element.h"

namespace nb {

class TNBStored : public TNBElement {
public:
    TNBStored(TSceneContext& ctx, TClassId cls, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;

    // Stored values by property code (0 / 0.0 / "" when the class lacks it).
    int64_t StoredInt(TProp code) const;
    double StoredReal(TProp code) const;
    const std::string& StoredStr(TProp code) const;
    void StoreInt(TProp code, int64_t v);
    void StoreReal(TProp code, double v);
    void StoreStr(TProp code, std::string v);

protected:
    std::vector<TPropValue> values_;
};

}  // namespace nb
