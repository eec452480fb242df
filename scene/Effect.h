// TNBEffect: a particle emitter placed on a screen. Its properties, defaults
// and the start/stop/break operations the engine functions use are here; the
// particle system itself (emission, simulation, drawing) is not attached yet.
#pragma once

#include "scene/Stored.h"

namespace nb {

class TNBEffect : public TNBStored {
public:
    TNBEffect(TSceneContext& ctx, TNBElement* parent);

    bool Active() const { return StoredInt(TProp::Active) != 0; }
    void SetActive(bool v);
    // AnimStart: Active := true, then the prepared exStart runs (no variable
    // table, the current hook name is kept).
    void Start();
    // AnimStop: Active := false (live particles run out).
    void Stop();
    // AnimBreak: live particles are dropped, then Active := false.
    void Break();
};

}  // namespace nb
