#include "scene/Effect.h"

namespace nb {

TNBEffect::TNBEffect(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBEffect, parent) {}

void TNBEffect::SetActive(bool v) { StoreInt(TProp::Active, v ? 1 : 0); }

void TNBEffect::Start() {
    SetActive(true);
    RunHook(THook::Start);
}

void TNBEffect::Stop() { SetActive(false); }

void TNBEffect::Break() { SetActive(false); }

}  // namespace nb
