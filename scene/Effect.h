// TNBEffect: a particle emitter placed on a screen. It owns one particle
// system whose parameters come from the effect file `EffectFN`, moves the
// emitter with the element, advances the simulation every process tick by
// DAnim / Speed seconds, draws the particles on its layer tinted by hxColor,
// and switches itself off once its emission has ended and its last particle
// has died.
#pragma once

#include <memory>

#include "particles/ParticleSystems.h"
#include "scene/Stored.h"

namespace nb {

class TNBEffect : public TNBStored {
public:
    TNBEffect(TSceneContext& ctx, TNBElement* parent);
    ~TNBEffect() override;

    void SetX(int32_t v) override;
    void SetY(int32_t v) override;
    // MoveTo: while Active the system restarts at the new place (its
    // emission time starts again, no trail); otherwise the emitter only
    // moves there.
    void SetPos(int32_t x, int32_t y) override;
    // The base (children), then the particles on the layer equal to Order.
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;
    // Advances the system, applies the switch-off rule, then the base.
    void Process() override;
    // EffectFN replaces the system; Active starts or stops its emission.
    void SetProp(int index, const TPropValue& v) override;

    bool Active() const { return StoredInt(TProp::Active) != 0; }
    // Stores; with a system, true starts emission and false stops it (live
    // particles run out).
    void SetActive(bool v);
    // AnimStart: Active := true, then the prepared exStart runs (no variable
    // table, the current hook name is kept).
    void Start();
    // AnimStop: Active := false (live particles run out).
    void Stop();
    // AnimBreak: live particles are dropped, then Active := false.
    void Break();
    // ProcEf: the system (when there is one) advances by dt seconds.
    void AdvanceSystem(float dt);

    // The owned system; null until EffectFN is written while the root has
    // its particle manager.
    TParticleSystem* System() const { return system_.get(); }

private:
    // A new system for EffectFN: the manager's texture, the parameters from
    // the game folder's file or else the archive record of that name, the
    // emitter at (X, Y), emitting when Active.
    void createSystem();

    std::unique_ptr<TParticleSystem> system_;
};

}  // namespace nb
