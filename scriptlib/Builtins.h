// Registration of every built-in routine an interpreter of the pool gets: the
// standard functions, then the engine functions, then the level procedures,
// in their fixed order.
#pragma once

namespace nb {

class TScriptEngine;
class TSceneContext;

// The thirty-three engine functions, in registration order, acting on `ctx`.
void RegisterEngineFunctions(TScriptEngine& engine, TSceneContext& ctx);

// Standard functions, then engine functions, then level procedures.
void RegisterBuiltins(TScriptEngine& engine, TSceneContext& ctx);

// Registers the built-ins in every interpreter of the context's pool.
void RegisterBuiltinsInPool(TSceneContext& ctx);

}  // namespace nb
