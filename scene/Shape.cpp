#include "scene/Shape.h"

#include "platform/Text.h"
#include "render/RenderCanvas.h"

namespace nb {

TNBShape::TNBShape(TSceneContext& ctx, TNBElement* parent) : TNBElement(ctx, TClassId::TNBShape, parent) {}

bool TNBShape::GetProp(int index, TPropValue& out) {
    switch (PropCode(index)) {
        case TProp::hxDrawFx: out = TPropValue::Int(drawFx_); return true;
        case TProp::hxColor: out = TPropValue::Int(ColorView(color_)); return true;
        case TProp::hxTrans: out = TPropValue::Int(TransView(color_)); return true;
        default: return TNBElement::GetProp(index, out);
    }
}

void TNBShape::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::hxDrawFx: drawFx_ = uint32_t(v.i); break;
        case TProp::hxColor: color_ = WithColorView(color_, v.i); break;
        case TProp::hxTrans: color_ = WithTransView(color_, v.i); break;
        default: TNBElement::SetProp(index, v); break;
    }
}

TNBElement* TNBShape::HitTest(int32_t layer, int32_t x, int32_t y, int32_t, int32_t) {
    if (!MouseVisible() || layer != Order()) return nullptr;
    return InClosedBox(x, y, X(), Y(), sizeX_, sizeY_) ? this : nullptr;
}

void TNBShape::Render(int32_t layer, uint32_t, double ox, double oy, int32_t) {
    if (layer != Order() || !ctx_.canvas) return;
    ctx_.canvas->FillRect(roundHalfEvenI32(ox + RX()), roundHalfEvenI32(oy + RY()), sizeX_, sizeY_, color_,
                          drawFx_);
}

}  // namespace nb
