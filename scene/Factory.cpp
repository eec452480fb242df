// Creating children by class name.
#include "scene/Anim.h"
#include "scene/Effect.h"
#include "scene/Element.h"
#include "scene/ImList.h"
#include "scene/Image.h"
#include "scene/Screen.h"
#include "scene/Shape.h"
#include "scene/Text.h"

namespace nb {

TNBElement* TNBElement::CreateChild(std::string_view className) {
    const TClassInfo* cls = FindClass(className);
    if (!cls || cls->id == TClassId::TNBDB || !ParentAllows(*info_, className)) return nullptr;
    switch (cls->id) {
        case TClassId::TNBScreen: return Create<TNBScreen>(ctx_, this);
        case TClassId::TNBExScreen: return Create<TNBExScreen>(ctx_, this);
        case TClassId::TNBImage: return Create<TNBImage>(ctx_, this);
        case TClassId::TNBShape: return Create<TNBShape>(ctx_, this);
        case TClassId::TNBText: return Create<TNBText>(ctx_, this);
        case TClassId::TNBAnim: return Create<TNBAnim>(ctx_, this);
        case TClassId::TNBAnKey: return Create<TNBAnKey>(ctx_, this);
        case TClassId::TNBExAnim: return Create<TNBExAnim>(ctx_, this);
        case TClassId::TNBEffect: return Create<TNBEffect>(ctx_, this);
        case TClassId::TNBImList: return Create<TNBImList>(ctx_, this);
        case TClassId::TNBDB: return nullptr;
    }
    return nullptr;
}

}  // namespace nb
