// The level procedures: sixteen built-in procedures that carry the per-tick
// logic of particular puzzle levels (falling-cell board, group labelling,
// dragging between obstacles, untangle graphs, tower puzzles, the pipe
// puzzle, progress bars and the sliding-row puzzle). Each takes an element of
// the level as its first argument, works on the tree the game file built for
// that level through the elements' GetValue / SetValue, and always answers
// success: an unusable argument or a missing element simply does nothing.
//
// The geometry of the untangle puzzles is exposed here so that it can be
// checked without a scene.
#pragma once

#include <cstdint>
#include <vector>

namespace nb {

class TScriptEngine;
class TSceneContext;

// Registers the sixteen procedures, in their fixed order, acting on `ctx`.
// They come after the standard and engine functions in every interpreter.
void RegisterLevelProcedures(TScriptEngine& engine, TSceneContext& ctx);

namespace level {

struct TIntPoint {
    int32_t x = 0, y = 0;
};
struct TGraphEdge {
    int a = 0, b = 0;  // node indices
};

// The seventeen edges of the first untangle graph (ten nodes): the ring
// 0-1-...-7-0, spokes 0..3 to node 8 and 4..7 to node 9, and 8-9.
const std::vector<TGraphEdge>& FirstGraphEdges();
// The sixteen edges of the second graph (nine nodes): the ring 0-...-7-0 and
// spokes 0..7 to node 8.
const std::vector<TGraphEdge>& SecondGraphEdges();

// Whether two segments cross: their bounding boxes overlap, they are not
// parallel, and the intersection lies on both (end points included). Exact
// integer arithmetic; coordinates beyond +-2^29 are clamped first so that
// the products cannot overflow.
bool SegmentsCross(TIntPoint a1, TIntPoint a2, TIntPoint b1, TIntPoint b2);

// For every edge, whether it crosses some other edge. Edges that share a
// node never count as crossing each other. Edges naming a node outside
// `points` are treated as crossing nothing.
std::vector<bool> CrossingEdges(const std::vector<TIntPoint>& points, const std::vector<TGraphEdge>& edges);

// The grey level of the pulsing glow for a tick counter: with c = dt mod 60,
// 112 - (c mod 30) below 30, else (c mod 30) + 83; kept within 0..255.
int32_t GlowLevel(int32_t dt);

}  // namespace level

}  // namespace nb
