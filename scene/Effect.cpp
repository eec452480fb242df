#include "scene/Effect.h"

#include <vector>

#include "archive/ResArchive.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderTimers.h"
#include "scene/Root.h"

namespace nb {

TNBEffect::TNBEffect(TSceneContext& ctx, TNBElement* parent) : TNBStored(ctx, TClassId::TNBEffect, parent) {}

TNBEffect::~TNBEffect() = default;

void TNBEffect::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::EffectFN:
            TNBStored::SetProp(index, v);
            createSystem();
            return;
        case TProp::Active: SetActive(v.i != 0); return;
        default: TNBStored::SetProp(index, v); return;
    }
}

void TNBEffect::createSystem() {
    TNBDB* root = Root();
    TParticleManager* manager = root ? root->ParticleManager() : nullptr;
    if (!manager) return;  // no display device when the game was read: only the name is kept
    system_.reset();
    system_ = std::make_unique<TParticleSystem>(TParticleSystem::kEffectCapacity, TParticleRandom(ctx_.randomSeed));
    system_->SetTexture(manager->Texture());

    const std::string& name = StoredStr(TProp::EffectFN);
    if (!name.empty()) {
        const std::string path = ctx_.CompanionPath(name);
        if (fs::fileExists(path)) {
            system_->LoadFromFile(path);
        } else if (ctx_.archive && ctx_.archive->HasRecord(name)) {
            std::vector<uint8_t> bytes;
            if (ctx_.archive->ReadRecord(name, bytes)) system_->LoadFromStream(bytes);
        }
    }
    // A new system is not emitting, so this leaves no trail.
    system_->PlaceAt({X(), Y()}, false);
    if (Active()) system_->StartEmission();
}

void TNBEffect::SetX(int32_t v) {
    TNBStored::SetX(v);
    if (system_) system_->PlaceAt({X(), Y()}, false);
}

void TNBEffect::SetY(int32_t v) {
    TNBStored::SetY(v);
    if (system_) system_->PlaceAt({X(), Y()}, false);
}

void TNBEffect::SetPos(int32_t x, int32_t y) {
    TNBStored::SetPos(x, y);
    if (!system_) return;
    if (Active()) system_->RestartAt({x, y});
    else system_->PlaceAt({x, y}, false);
}

void TNBEffect::SetActive(bool v) {
    StoreInt(TProp::Active, v ? 1 : 0);
    if (!system_) return;
    if (v) system_->StartEmission();
    else system_->StopEmission(false);
}

void TNBEffect::Start() {
    SetActive(true);
    RunHook(THook::Start);
}

void TNBEffect::Stop() { SetActive(false); }

void TNBEffect::Break() {
    if (system_) system_->StopEmission(true);
    SetActive(false);
}

void TNBEffect::AdvanceSystem(float dt) {
    if (system_) system_->Advance(dt);
}

void TNBEffect::Process() {
    if (system_) {
        const double speed = ctx_.timer ? ctx_.timer->Speed : 30.0;
        system_->Advance(float(StoredReal(TProp::DAnim) / speed));
        if (Active() && !system_->Emitting() && system_->LiveCount() == 0) SetActive(false);
    }
    TNBStored::Process();
}

void TNBEffect::Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) {
    TNBStored::Render(layer, color, ox, oy, flag);
    if (layer != Order() || !system_) return;
    TNBDB* root = Root();
    TParticleManager* manager = root ? root->ParticleManager() : nullptr;
    TRenderCanvas* canvas = manager && manager->Canvas() ? manager->Canvas() : ctx_.canvas;
    if (!canvas) return;
    // The particle picture is replaced when pictures are reloaded (window
    // mode switch, device reset): draw with the one the manager holds now,
    // never with a freed one.
    if (manager) system_->SetTexture(manager->Texture());
    canvas->SetAntialias(true);
    const int w = ctx_.device ? ctx_.device->Width : 1024;
    const int h = ctx_.device ? ctx_.device->Height : 768;
    // The emitter position already carries X and Y; the colour can only
    // remove channels, never add them.
    system_->DrawParticles(*canvas, roundHalfEven(ox), roundHalfEven(oy),
                           uint32_t(StoredInt(TProp::hxColor)) | 0xFF000000u, w, h);
}

}  // namespace nb
