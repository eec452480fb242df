// The level procedures. Every value is read with the element's GetValue
// (its own variables first, then properties and pseudo-values) and written
// with SetValue, exactly as a script line on that element would; names are
// passed upper-cased, as the interpreter passes them. A value that no
// element takes (SetValue unhandled) is kept as a variable of the element's
// own table, so a level whose scripts never created, say, WIN still sees it.

#include "scriptlib/LevelProcedures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "media/Sound.h"
#include "scene/Image.h"
#include "scene/Screen.h"
#include "scene/UnitNBDB.h"
#include "scriptlib/Builtins.h"

namespace nb {

namespace level {

const std::vector<TGraphEdge>& FirstGraphEdges() {
    static const std::vector<TGraphEdge> edges = [] {
        std::vector<TGraphEdge> e;
        for (int i = 0; i < 8; ++i) e.push_back({i, (i + 1) % 8});
        for (int i = 0; i < 4; ++i) e.push_back({i, 8});
        for (int i = 4; i < 8; ++i) e.push_back({i, 9});
        e.push_back({8, 9});
        return e;
    }();
    return edges;
}

const std::vector<TGraphEdge>& SecondGraphEdges() {
    static const std::vector<TGraphEdge> edges = [] {
        std::vector<TGraphEdge> e;
        for (int i = 0; i < 8; ++i) e.push_back({i, (i + 1) % 8});
        for (int i = 0; i < 8; ++i) e.push_back({i, 8});
        return e;
    }();
    return edges;
}

namespace {
int64_t clampCoord(int32_t v) {
    constexpr int64_t lim = int64_t(1) << 29;
    return std::clamp<int64_t>(v, -lim, lim);
}
}  // namespace

bool SegmentsCross(TIntPoint a1, TIntPoint a2, TIntPoint b1, TIntPoint b2) {
    const int64_t x1 = clampCoord(a1.x), y1 = clampCoord(a1.y), x2 = clampCoord(a2.x), y2 = clampCoord(a2.y);
    const int64_t x3 = clampCoord(b1.x), y3 = clampCoord(b1.y), x4 = clampCoord(b2.x), y4 = clampCoord(b2.y);
    if (std::max(std::min(x1, x2), std::min(x3, x4)) > std::min(std::max(x1, x2), std::max(x3, x4))) return false;
    if (std::max(std::min(y1, y2), std::min(y3, y4)) > std::min(std::max(y1, y2), std::max(y3, y4))) return false;
    int64_t d = (x2 - x1) * (y4 - y3) - (y2 - y1) * (x4 - x3);
    if (d == 0) return false;  // parallel (or degenerate): never a crossing
    int64_t t = (x3 - x1) * (y4 - y3) - (y3 - y1) * (x4 - x3);
    int64_t u = (x3 - x1) * (y2 - y1) - (y3 - y1) * (x2 - x1);
    if (d < 0) {
        d = -d;
        t = -t;
        u = -u;
    }
    return t >= 0 && t <= d && u >= 0 && u <= d;
}

std::vector<bool> CrossingEdges(const std::vector<TIntPoint>& points, const std::vector<TGraphEdge>& edges) {
    std::vector<bool> crossing(edges.size(), false);
    auto valid = [&](const TGraphEdge& e) {
        return e.a >= 0 && e.b >= 0 && size_t(e.a) < points.size() && size_t(e.b) < points.size();
    };
    for (size_t i = 0; i < edges.size(); ++i) {
        const TGraphEdge& p = edges[i];
        if (!valid(p)) continue;
        for (size_t j = i + 1; j < edges.size(); ++j) {
            const TGraphEdge& q = edges[j];
            if (!valid(q)) continue;
            if (p.a == q.a || p.a == q.b || p.b == q.a || p.b == q.b) continue;
            if (SegmentsCross(points[size_t(p.a)], points[size_t(p.b)], points[size_t(q.a)], points[size_t(q.b)]))
                crossing[i] = crossing[j] = true;
        }
    }
    return crossing;
}

int32_t GlowLevel(int32_t dt) {
    const int32_t c = dt % 60;
    const int32_t level = c < 30 ? 112 - (c % 30) : (c % 30) + 83;
    return std::clamp(level, 0, 255);
}

}  // namespace level

namespace {

using level::TIntPoint;

// ------------------------------------------------------------ value access

bool readValue(TNBElement* e, std::string_view name, TScriptValue& v) { return e && e->GetValue(name, v); }

int32_t readInt(TNBElement* e, std::string_view name, int32_t missing = 0) {
    TScriptValue v;
    return readValue(e, name, v) ? ScriptIntOf(v) : missing;
}

double readReal(TNBElement* e, std::string_view name) {
    TScriptValue v;
    if (!readValue(e, name, v)) return 0.0;
    try {
        return v.toReal();
    } catch (const std::exception&) {
        return 0.0;
    }
}

std::string readString(TNBElement* e, std::string_view name) {
    TScriptValue v;
    if (!readValue(e, name, v)) return std::string();
    try {
        return v.toString();
    } catch (const std::exception&) {
        return std::string();
    }
}

// The element a value refers to; nullptr when the value is missing, is not
// an element reference, or names no live element.
TNBElement* readElement(TSceneContext& ctx, TNBElement* e, std::string_view name) {
    TScriptValue v;
    if (!readValue(e, name, v) || !v.isElement()) return nullptr;
    return ctx.Element(v.elementId());
}

void writeValue(TNBElement* e, std::string_view name, TScriptValue v) {
    if (!e) return;
    if (e->SetValue(name, v)) return;
    if (!e->Vars()) e->ReplaceVars(std::make_shared<TVarList>());
    e->Vars()->Put(TVar{std::string(name), std::move(v)});
}
void writeInt(TNBElement* e, std::string_view name, int32_t v) { writeValue(e, name, TScriptValue::int32(v)); }
void writeFlag(TNBElement* e, std::string_view name, bool v) { writeValue(e, name, TScriptValue::uint8(v ? 1 : 0)); }
void writeReal(TNBElement* e, std::string_view name, double v) { writeValue(e, name, TScriptValue::real(v)); }

int32_t clampI32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Dotted names relative to an element, resolved as the interpreter resolves
// them (no variable table: procedures have none).
TNBElement* walkPath(TSceneContext& ctx, TNBElement* from, std::string_view name, std::string_view& last) {
    return ctx.WalkPath(from, name, nullptr, last);
}

bool pathGet(TSceneContext& ctx, TNBElement* from, std::string_view name, TScriptValue& v) {
    std::string_view last;
    TNBElement* el = walkPath(ctx, from, name, last);
    return el && el->GetValue(last, v);
}

int32_t pathInt(TSceneContext& ctx, TNBElement* from, std::string_view name, int32_t missing = 0) {
    TScriptValue v;
    return pathGet(ctx, from, name, v) ? ScriptIntOf(v) : missing;
}

TNBElement* pathElement(TSceneContext& ctx, TNBElement* from, std::string_view name) {
    TScriptValue v;
    if (!pathGet(ctx, from, name, v) || !v.isElement()) return nullptr;
    return ctx.Element(v.elementId());
}

void pathSet(TSceneContext& ctx, TNBElement* from, std::string_view name, TScriptValue v) {
    std::string_view last;
    if (TNBElement* el = walkPath(ctx, from, name, last)) writeValue(el, last, std::move(v));
}

bool isImage(const TNBElement* e) { return e && e->IsA(TClassId::TNBImage); }

// The element of the first argument, when it is an element reference.
TNBElement* argElement(TSceneContext& ctx, TVarList& args) {
    if (args.Count() < 1 || !args[0].value.isElement()) return nullptr;
    return ctx.Element(args[0].value.elementId());
}

// ------------------------------------------------------- falling-cell board

// One tick of a column of cells that fall. Each cell's first child is its
// overlay; an overlay tagged "*" fades in, any other fades out. While the
// column's MOVING is set, cells drop 10 pixels per tick onto the cell below
// (or the column's bottom), and a cell that was emptied (hxTrans 0) comes back
// above the topmost cell, opaque, with a random colour 0 .. COLS-1.
void fallingBoard(TSceneContext& ctx, TNBElement* board) {
    if (!isImage(board)) return;
    std::vector<TNBElement*> cells;
    for (size_t i = 0; i < board->ChildCount(); ++i)
        if (isImage(board->Child(i))) cells.push_back(board->Child(i));

    for (TNBElement* cell : cells) {
        TNBElement* overlay = cell->Child(0);
        if (!overlay) continue;
        int32_t t = readInt(overlay, "HXTRANS");
        t = readString(overlay, "TAG") == "*" ? std::min(t + 50, 250) : std::max(t - 50, 0);
        writeInt(overlay, "HXTRANS", t);
    }

    if (readInt(board, "MOVING") == 0) return;
    bool moved = false;
    const int32_t colours = pathInt(ctx, board, ".COLS");

    // Emptied cells re-enter above the highest cell, one above the other.
    int64_t top = INT64_MAX;
    for (TNBElement* cell : cells)
        if (readInt(cell, "HXTRANS") != 0) top = std::min<int64_t>(top, readInt(cell, "Y"));
    if (top == INT64_MAX) top = 0;
    for (TNBElement* cell : cells) {
        if (readInt(cell, "HXTRANS") != 0) continue;
        top -= cell->GetSizeY();
        writeInt(cell, "Y", clampI32(top));
        writeInt(cell, "ANIM", int32_t(ctx.NextRandom(uint32_t(colours))));
        writeInt(cell, "HXTRANS", 255);
        moved = true;
    }

    // Fall from the bottom up, each cell resting on the one below it.
    std::vector<TNBElement*> order = cells;
    std::stable_sort(order.begin(), order.end(),
                     [](TNBElement* a, TNBElement* b) { return readInt(a, "Y") > readInt(b, "Y"); });
    int64_t floor = board->GetSizeY();
    for (TNBElement* cell : order) {
        const int64_t y = readInt(cell, "Y");
        const int64_t rest = floor - cell->GetSizeY();
        int64_t ny = y;
        if (y < rest) {
            ny = std::min<int64_t>(y + 10, rest);
            writeInt(cell, "Y", clampI32(ny));
            moved = true;
        }
        floor = ny;
    }

    writeFlag(board, "MOVING", moved);
    if (moved) pathSet(ctx, board, ".MOVING", TScriptValue::uint8(1));
}

// ---------------------------------------------------------- group labelling

// Labels the groups of equal colour on the 9 x 9 board (columns "L1".."L9"
// beside the board, nine cells each, top to bottom). Cells are numbered
// column + 9 * row and visited in that order; labels spread right and down
// and merge to the larger number until nothing changes.
void labelGroups(TSceneContext&, TNBElement* board) {
    if (!isImage(board) || !board->Parent()) return;
    TNBElement* parent = board->Parent();
    std::array<TNBElement*, 81> cell{};
    for (int c = 0; c < 9; ++c) {
        const std::string id = "L" + std::to_string(c + 1);
        TNBElement* column = nullptr;
        for (size_t i = 0; i < parent->ChildCount() && !column; ++i)
            if (iequalsAscii(parent->Child(i)->Id(), id)) column = parent->Child(i);
        if (!column || column->ChildCount() < 9) return;
        for (int r = 0; r < 9; ++r) cell[size_t(c + 9 * r)] = column->Child(size_t(r));
    }

    std::array<int32_t, 81> colour{};
    for (size_t k = 0; k < 81; ++k) {
        writeValue(cell[k], "TAG", TScriptValue::string(std::string()));
        int32_t a = readInt(cell[k], "ANIM");
        if (a >= 6 && a <= 11) {
            a -= 6;
            writeInt(cell[k], "ANIM", a);
        }
        colour[k] = a;
    }

    constexpr int32_t kEmpty = -1, kAlone = -2;
    std::array<int32_t, 81> label;
    label.fill(kEmpty);
    bool changed = true;
    while (changed) {
        changed = false;
        for (int k = 0; k < 81; ++k) {
            if (label[size_t(k)] == kAlone) continue;
            const bool wasEmpty = label[size_t(k)] == kEmpty;
            if (wasEmpty) {
                label[size_t(k)] = k;
                changed = true;
            }
            bool hasEqual = false;
            const int col = k % 9, row = k / 9;
            const int right = col < 8 ? k + 1 : -1;
            const int below = row < 8 ? k + 9 : -1;
            for (int n : {right, below}) {
                if (n < 0 || colour[size_t(n)] != colour[size_t(k)]) continue;
                hasEqual = true;
                int32_t& mine = label[size_t(k)];
                int32_t& theirs = label[size_t(n)];
                if (theirs == kEmpty) {
                    theirs = mine;
                    changed = true;
                } else if (theirs >= 0 && theirs != mine) {
                    mine = theirs = std::max(mine, theirs);
                    changed = true;
                }
            }
            if (!hasEqual && wasEmpty) label[size_t(k)] = kAlone;
        }
    }

    std::array<int, 81> count{};
    for (int32_t l : label)
        if (l >= 0) ++count[size_t(l)];
    for (size_t k = 0; k < 81; ++k) {
        const int32_t l = label[k];
        const bool group = l >= 0 && count[size_t(l)] > 2;
        writeValue(cell[k], "TAG", TScriptValue::string(group ? std::to_string(l) : std::string("x")));
    }

    writeInt(board, "MMX", -1);
    board->MouseMove();
}

// -------------------------------------------------------- dragging a piece

enum class TBoundary { Circle, Ellipse };

// Moves the piece toward the mouse while the button is held on it: the
// first of the fractions 1, 1/2, ... 1/100 of the way that keeps the piece
// `minDist` from every other piece and inside the parent's boundary.
void dragPiece(TSceneContext& ctx, TNBElement* piece, double minDist, TBoundary boundary) {
    if (!isImage(piece) || readInt(piece, "MOUSEINDOWN") == 0) return;
    TNBElement* parent = piece->Parent();
    if (!parent) return;
    const double mx = double(ctx.ui.mouseX) - parent->GetAbsX();
    const double my = double(ctx.ui.mouseY) - parent->GetAbsY();
    const double px = readInt(piece, "X"), py = readInt(piece, "Y");
    const double w = parent->GetSizeX(), h = parent->GetSizeY();
    std::vector<std::array<double, 2>> others;
    for (size_t i = 0; i < parent->ChildCount(); ++i) {
        TNBElement* s = parent->Child(i);
        if (s->Id() == piece->Id()) continue;
        others.push_back({double(readInt(s, "X")), double(readInt(s, "Y"))});
    }
    const double min2 = minDist * minDist;
    auto inside = [&](double x, double y) {
        const double dx = x - w / 2, dy = y - h / 2;
        if (boundary == TBoundary::Circle) {
            const double r = w / 2 - 50;
            return dx * dx + dy * dy < r * r;
        }
        if (w <= 0 || h <= 0) return false;
        return 4 * dx * dx / (w * w) + 4 * dy * dy / (h * h) < 0.8;
    };
    for (int i = 1; i <= 100; ++i) {
        const double cx = px + (mx - px) / i, cy = py + (my - py) / i;
        bool clear = true;
        for (const auto& o : others) {
            const double dx = cx - o[0], dy = cy - o[1];
            if (dx * dx + dy * dy < min2) {
                clear = false;
                break;
            }
        }
        if (!clear || !inside(cx, cy)) continue;
        writeReal(piece, "RX", cx);
        writeReal(piece, "RY", cy);
        return;
    }
}

// ---------------------------------------------------------- untangle graphs

// The node points of a graph element: its first child (an image) holds the
// nodes; a node's point is its absolute position plus (25, 25). False when
// the layout is not there.
bool graphPoints(TNBElement* graph, size_t nodes, std::vector<TIntPoint>& points) {
    if (!graph) return false;
    TNBElement* holder = graph->Child(0);
    if (!isImage(holder) || holder->ChildCount() < nodes) return false;
    points.clear();
    for (size_t i = 0; i < nodes; ++i) {
        TNBElement* n = holder->Child(i);
        points.push_back({clampI32(int64_t(n->GetAbsX()) + 25), clampI32(int64_t(n->GetAbsY()) + 25)});
    }
    return true;
}

void graphUpdate(TSceneContext& ctx, TVarList& args, size_t nodes, const std::vector<level::TGraphEdge>& edges) {
    TNBElement* graph = argElement(ctx, args);
    std::vector<TIntPoint> points;
    if (!graphPoints(graph, nodes, points)) return;
    const std::vector<bool> crossing = level::CrossingEdges(points, edges);
    const bool untangled = std::none_of(crossing.begin(), crossing.end(), [](bool b) { return b; });
    writeFlag(graph, "WIN", untangled);
}

// A band 6 pixels wide along the segment, as two triangles.
void drawBand(TRenderCanvas& canvas, TIntPoint a, TIntPoint b, uint32_t colour, uint32_t effect) {
    const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    const double len = std::sqrt(dx * dx + dy * dy);
    if (len <= 0) return;
    const double nx = -dy / len * 3, ny = dx / len * 3;
    const TPoint2 p1{a.x + nx, a.y + ny}, p2{b.x + nx, b.y + ny};
    const TPoint2 p3{b.x - nx, b.y - ny}, p4{a.x - nx, a.y - ny};
    canvas.FillTriangle(p1, p2, p3, colour, effect);
    canvas.FillTriangle(p1, p3, p4, colour, effect);
}

void graphRender(TSceneContext& ctx, TVarList& args, size_t nodes, const std::vector<level::TGraphEdge>& edges) {
    TNBElement* graph = argElement(ctx, args);
    std::vector<TIntPoint> points;
    if (!ctx.canvas || !graphPoints(graph, nodes, points)) return;
    const std::vector<bool> crossing = level::CrossingEdges(points, edges);
    const uint32_t grey = uint32_t(level::GlowLevel(readInt(graph, "DT")));
    const uint32_t glow = 0xFF000000u | grey << 16 | grey << 8 | grey;
    for (size_t i = 0; i < edges.size(); ++i) {
        const TIntPoint a = points[size_t(edges[i].a)], b = points[size_t(edges[i].b)];
        drawBand(*ctx.canvas, a, b, crossing[i] ? 0x7F0000FFu : 0x7F00FF00u, 1284);
        drawBand(*ctx.canvas, a, b, glow, 260);
    }
}

// -------------------------------------------------------------- towers

struct TTowerRules {
    int32_t liftTo;        // the disc rises until its Y is at most this
    int32_t bobTo;         // ... and then sinks until at least this
    int32_t descendTo;     // travel phase 2 sinks until at least this
    int32_t solvedX;       // every disc at or right of this: solved
    bool narrowOnTop;      // the first tower: a disc may only lie on wider ones
};

// One tick of a disc move (see the controller's variables OBJ, L, V, T, CX,
// TY, S1, LL). Halves of the stacking arithmetic round to even.
void towerTick(TSceneContext& ctx, TNBElement* ctl, const TTowerRules& r) {
    if (!isImage(ctl)) return;
    TNBElement* disc = readElement(ctx, ctl, "OBJ");
    if (!disc) return;
    TNBElement* holder = readElement(ctx, readElement(ctx, ctl, "L"), "L");
    if (!holder) return;

    int32_t v = readInt(ctl, "V");
    int32_t t = readInt(ctl, "T");
    const int32_t cx = readInt(ctl, "CX");
    int32_t ty = readInt(ctl, "TY");
    int32_t y = readInt(disc, "Y");

    // Lifting, then bobbing between the two heights.
    if (v == 1 || v == 3) {
        y = clampI32(int64_t(y) - (v == 1 ? 10 : 1));
        writeInt(disc, "Y", y);
        if (y <= r.liftTo) v = 2;
    } else if (v == 2) {
        y = clampI32(int64_t(y) + 1);
        writeInt(disc, "Y", y);
        if (y >= r.bobTo) v = 3;
    }
    writeInt(ctl, "V", v);

    const int32_t x = readInt(disc, "X");
    if (x != cx) {
        // Sideways only once the disc hangs high enough.
        if (y > 150) return;
        double d = (double(cx) - x) / 10.0;
        while (std::fabs(d) < 3) d *= 2;
        int64_t nx = int64_t(x) + roundHalfEvenI64(d);
        if (std::llabs(int64_t(cx) - nx) < 4) nx = cx;
        writeInt(disc, "X", clampI32(nx));
        return;
    }

    if (t == 1) {
        t = 2;
        v = 0;
    }
    if (t == 2) {
        y = clampI32(int64_t(y) + 5);
        writeInt(disc, "Y", y);
        if (y >= r.descendTo) t = 3;
    }
    if (t == 4) {
        y = clampI32(int64_t(y) + 10);
        if (y >= ty) {
            y = ty;
            writeInt(disc, "Y", y);
            if (r.narrowOnTop) {
                std::string file;
                int32_t volume = 0;
                if (ctx.Root()) ctx.Root()->LookupSound("Lev7.LogStop", file, volume);
                if (ctx.sound) ctx.sound->PlaySound(file, volume);
            }
            t = 0;
            writeInt(ctl, "T", 0);
            writeInt(ctl, "OBJ", 0);
            bool solved = true;
            for (size_t i = 0; i < holder->ChildCount(); ++i)
                if (readInt(holder->Child(i), "X") < r.solvedX) solved = false;
            if (!solved) return;
            pathSet(ctx, ctl->Parent(), "NBDB.LOGINTERFACE.WIN", TScriptValue::uint8(1));
            if (r.narrowOnTop) {
                writeFlag(readElement(ctx, ctl, "LL"), "VIS", true);
                pathSet(ctx, ctl->Parent(), "NBDB.LEVEL7.HANOYLOG.VIS", TScriptValue::uint8(0));
            }
        } else {
            writeInt(disc, "Y", y);
        }
    }
    if (t == 3) {
        // Where the disc would rest, and whether every disc on the peg is
        // wider (first tower) or narrower (second tower) than it.
        if (r.narrowOnTop) {
            TNBElement* base = readElement(ctx, ctl, "S1");
            if (!base) return;
            ty = clampI32(int64_t(base->GetSizeY()) + readInt(base, "Y") - 20);
        } else {
            ty = 227;
        }
        const int32_t own = disc->GetSizeX();
        int32_t reference = own;
        for (size_t i = 0; i < holder->ChildCount(); ++i) {
            TNBElement* d = holder->Child(i);
            if (readInt(d, "X") != cx) continue;
            const int32_t w = d->GetSizeX();
            if (r.narrowOnTop) {
                ty = clampI32(roundHalfEvenI64(double(ty) - 2 - d->GetSizeY() / 1.276));
                if (w <= reference) reference = w;
            } else if (w >= reference) {
                reference = w;
            }
        }
        if (reference == own) {
            t = 4;
        } else {
            t = 0;
            v = 1;
        }
    }
    writeInt(ctl, "V", v);
    writeInt(ctl, "T", t);
    writeInt(ctl, "TY", ty);
}

// ----------------------------------------------------------- pipe puzzle

// The tile (i, j) of a six-by-six grid: column i of the board, its child j.
TNBElement* gridTile(TNBElement* board, int i, int j) {
    TNBElement* column = board ? board->Child(size_t(i)) : nullptr;
    return column ? column->Child(size_t(j)) : nullptr;
}

bool multipleOf90(double angle) { return roundHalfEvenI64(angle) % 90 == 0; }

// Openings: character k (1..4) of a tile's four-character text is "1" when
// the tile is open toward (i, j+1), (i+1, j), (i, j-1), (i-1, j).
struct TPipeGrid {
    std::array<std::array<std::string, 8>, 8> open;  // [i + 1][j + 1], border included
    std::array<std::array<bool, 8>, 8> visited{};
    bool connected = false;
    bool leak = false;
    int leakI = 0, leakJ = 0, leakAngle = 0;

    bool isOpen(int gi, int gj, int side) const {
        const std::string& s = open[size_t(gi)][size_t(gj)];
        return size_t(side) <= s.size() && s[size_t(side - 1)] == '1';
    }
    // Depth first from tile (i, j) in grid coordinates.
    void trace(int gi, int gj) {
        if (visited[size_t(gi)][size_t(gj)]) return;
        visited[size_t(gi)][size_t(gj)] = true;
        static constexpr int di[5] = {0, 0, 1, 0, -1}, dj[5] = {0, 1, 0, -1, 0};
        for (int side = 1; side <= 4; ++side) {
            if (!isOpen(gi, gj, side)) continue;
            const int ni = gi + di[side], nj = gj + dj[side];
            const int back = (side + 1) % 4 + 1;  // 1<->3, 2<->4
            if (ni >= 0 && ni < 8 && nj >= 0 && nj < 8 && isOpen(ni, nj, back)) {
                trace(ni, nj);
            } else {
                connected = false;
                leak = true;
                leakI = gi - 1;
                leakJ = gj - 1;
                leakAngle = (side - 1) * 90;
            }
        }
    }
};

void pipePuzzle(TSceneContext& ctx, TNBElement* board) {
    if (!isImage(board)) return;
    TNBElement* overlays = pathElement(ctx, board, ".LL");
    if (!overlays) return;

    std::array<std::array<TNBElement*, 6>, 6> tile{};
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j) tile[size_t(i)][size_t(j)] = gridTile(board, i, j);

    // Finish rotations: ten degrees per call; on reaching the next right
    // angle the openings turn by one place.
    for (auto& column : tile) {
        for (TNBElement* t : column) {
            if (!t) continue;
            const double a = readReal(t, "ANGLE");
            if (multipleOf90(a)) continue;
            writeReal(t, "ANGLE", a + 10);
            if (multipleOf90(readReal(t, "ANGLE"))) {
                std::string tag = readString(t, "TAG");
                if (!tag.empty()) tag = tag.back() + tag.substr(0, tag.size() - 1);
                writeValue(t, "TAG", TScriptValue::string(tag));
            }
        }
    }

    for (const auto& column : tile)
        for (TNBElement* t : column)
            if (!t) return;  // an incomplete board traces nothing

    TPipeGrid g;
    for (auto& row : g.open) row.fill("0000");
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j) g.open[size_t(i + 1)][size_t(j + 1)] = readString(tile[size_t(i)][size_t(j)], "TAG");
    g.open[0][1] = "1111";  // the inlet, beside tile (0, 0)
    g.open[7][6] = "1111";  // the outlet, beside tile (5, 5)
    g.visited[0][1] = g.visited[7][6] = true;
    if (g.isOpen(1, 1, 4)) {
        g.connected = true;
        g.trace(1, 1);
    }

    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 6; ++j) {
            TNBElement* o = gridTile(overlays, i, j);
            if (!o) continue;
            TNBElement* t = tile[size_t(i)][size_t(j)];
            writeReal(o, "ANGLE", readReal(t, "ANGLE"));
            writeInt(o, "ANIM", clampI32(int64_t(readInt(t, "ANIM")) + 6));
            writeInt(o, "HXTRANS", g.visited[size_t(i + 1)][size_t(j + 1)] ? 255 : 0);
        }
    }

    TNBElement* outlet = pathElement(ctx, board, ".END");
    if (!outlet) return;
    const bool flowing = g.isOpen(6, 6, 2) && g.visited[6][6];
    writeInt(outlet, "HXTRANS", flowing ? 255 : 0);
    if (flowing && g.connected) pathSet(ctx, board, "NBDB.LOGINTERFACE.WIN", TScriptValue::uint8(1));

    if (TNBElement* marker = pathElement(ctx, board, ".PROT")) {
        if (g.leak) {
            writeFlag(marker, "VIS", true);
            writeInt(marker, "X", 141 + 75 * g.leakI);
            writeInt(marker, "Y", 506 - 75 * g.leakJ);
            writeInt(marker, "ANGLE", g.leakAngle);
        } else {
            writeFlag(marker, "VIS", false);
        }
    }
}

// --------------------------------------------------------------- progress

bool tagIs(TNBElement* e, std::string_view tag) { return iequalsAscii(readString(e, "TAG"), tag); }
bool idIs(TNBElement* e, std::string_view id) { return iequalsAscii(readString(e, "ID"), id); }
bool visible(TNBElement* e) { return readInt(e, "VIS") != 0; }

std::string indexed(const char* prefix, int n) { return std::string(prefix) + std::to_string(n) + "]"; }

// Scores a level screen's children as the progress bars do: hidden crystals,
// found items, and actions and logic puzzles done; an action seen visible for
// the first time is remembered in the screen's A[n] / LG[m].
int64_t scoreLevel(TNBElement* screen) {
    int64_t s = 0;
    int n = 0, m = 0;
    auto task = [&](TNBElement* e, bool shown) {
        const bool act = tagIs(e, "ACT");
        const std::string name = act ? indexed("A[", ++n) : indexed("LG[", ++m);
        const int32_t v = readInt(screen, name);
        if (shown) {
            if (v == 0) writeFlag(screen, name, true);
        } else if (v == 1) {
            s += act ? 5 : 10;
        }
    };
    for (size_t i = 0; i < screen->ChildCount(); ++i) {
        TNBElement* c = screen->Child(i);
        if (!isImage(c)) continue;
        if (idIs(c, "Krist")) {
            if (!visible(c)) s += 3;
        } else if (tagIs(c, "FIND")) {
            for (size_t k = 0; k < c->ChildCount(); ++k) {
                TNBElement* f = c->Child(k);
                if (!visible(f) || readInt(f, "HXTRANS", 255) != 255) ++s;
            }
        } else if (tagIs(c, "ACT") || tagIs(c, "LOG")) {
            task(c, visible(c));
        } else {
            const bool groupShown = visible(c);
            for (size_t k = 0; k < c->ChildCount(); ++k) {
                TNBElement* g = c->Child(k);
                if (isImage(g) && (tagIs(g, "ACT") || tagIs(g, "LOG"))) task(g, groupShown && visible(g));
            }
        }
    }
    return s;
}

// Keeps a value in the screen's own variable table, created when missing.
void putOwn(TNBElement* screen, const std::string& name, TScriptValue v) {
    if (!screen->Vars()) screen->ReplaceVars(std::make_shared<TVarList>());
    screen->Vars()->Put(TVar{name, std::move(v)});
}

void levelBookkeeping(TSceneContext&, TNBElement* screen) {
    if (!screen || !screen->IsA(TClassId::TNBScreen)) return;
    int64_t total = 0;
    int n = 0, m = 0;
    auto task = [&](TNBElement* e, bool shown) {
        const bool act = tagIs(e, "ACT");
        total += act ? 5 : 10;
        putOwn(screen, act ? indexed("A[", ++n) : indexed("LG[", ++m), TScriptValue::uint8(shown ? 1 : 0));
    };
    for (size_t i = 0; i < screen->ChildCount(); ++i) {
        TNBElement* c = screen->Child(i);
        if (!isImage(c)) continue;
        if (idIs(c, "Krist")) {
            total += 3;
        } else if (tagIs(c, "FIND")) {
            total += int64_t(c->ChildCount());
        } else if (tagIs(c, "ACT") || tagIs(c, "LOG")) {
            task(c, visible(c));
        } else {
            for (size_t k = 0; k < c->ChildCount(); ++k) {
                TNBElement* g = c->Child(k);
                if (isImage(g) && (tagIs(g, "ACT") || tagIs(g, "LOG"))) task(g, visible(g) && visible(c));
            }
        }
    }
    putOwn(screen, "ENDCN", TScriptValue::int32(clampI32(total)));
    putOwn(screen, "ENDAN", TScriptValue::uint8(0));
}

void levelProgressBar(TSceneContext& ctx, TNBElement* bar) {
    if (!isImage(bar)) return;
    TNBElement* screen = pathElement(ctx, bar, ".SCR");
    if (!screen) return;
    const int64_t s = scoreLevel(screen);
    const int32_t total = pathInt(ctx, bar, ".SCR.ENDCN");
    double fraction = 0;
    if (total != 0) {
        fraction = double(s) / total;
        writeReal(bar, "SCALEX", fraction);
    } else {
        writeValue(bar, "SCALEX", TScriptValue::uint8(0));
    }
    const bool incomplete = fraction != 1.0;
    pathSet(ctx, bar, ".PRB.VIS", TScriptValue::uint8(incomplete ? 1 : 0));
    pathSet(ctx, bar, ".PRF.VIS", TScriptValue::uint8(incomplete ? 1 : 0));
    writeInt(bar, "HXTRANS", incomplete ? 255 : 0);
    if (incomplete) {
        pathSet(ctx, bar, ".PRAN.VIS", TScriptValue::uint8(0));
        return;
    }
    if (pathInt(ctx, bar, ".SCR.ENDAN") == 0) {
        pathSet(ctx, bar, ".PRAN.ACTIVE", TScriptValue::uint8(1));
        pathSet(ctx, bar, ".PRAN.POS", TScriptValue::int32(0));
        // The completion animation's start hook, under the calling hook's name.
        if (TNBElement* anim = pathElement(ctx, bar, ".PRAN")) anim->RunHook(THook::Start);
    }
    pathSet(ctx, bar, ".PRAN.VIS", TScriptValue::uint8(1));
    pathSet(ctx, bar, ".SCR.ENDAN", TScriptValue::uint8(1));
}

void mapProgressBar(TSceneContext& ctx, TNBElement* bar) {
    if (!isImage(bar)) return;
    int64_t s = 0, sum = 0;
    if (TNBDB* root = ctx.Root()) {
        for (size_t i = 0; i < root->ChildCount(); ++i) {
            TNBElement* level = root->Child(i);
            const std::string& id = level->Id();
            if (id.compare(0, 5, "Level") != 0 || id.find("Log") != std::string::npos) continue;
            s += scoreLevel(level);
            TScriptValue v;
            if (level->GetValue("ENDCN", v)) sum += ScriptIntOf(v);
        }
    }
    if (sum != 0) writeReal(bar, "SCALEX", double(s) / double(sum));
    else writeValue(bar, "SCALEX", TScriptValue::uint8(0));
}

// ----------------------------------------------------- sliding-row puzzle

constexpr int32_t kRowPitch = 81;
constexpr int32_t kRowLimit = 410;
constexpr int32_t kSwayLimit = 42;
constexpr int32_t kRowShift = 82;

// What a tile shows: its own frame and its partner's frame and visibility.
struct TTileLook {
    TScriptValue anim, partnerAnim, partnerVis;
};

void slidingRows(TSceneContext& ctx, TNBElement* board) {
    if (!isImage(board)) return;
    int32_t place = 0;
    int sway = -1;
    bool anyVisible = false;
    for (size_t r = 0; r < board->ChildCount(); ++r) {
        TNBElement* row = board->Child(r);
        if (!visible(row)) continue;
        anyVisible = true;

        const int32_t y = readInt(row, "Y");
        if (y < place) writeInt(row, "Y", place);
        else if (y > place) writeInt(row, "Y", clampI32(int64_t(y) - 2));

        int64_t x = int64_t(readInt(row, "X")) + sway;
        sway = -sway;
        writeInt(row, "X", clampI32(x));

        if (x < -kSwayLimit || x > kSwayLimit) {
            std::vector<TNBElement*> tiles, partners;
            for (size_t k = 0; k < row->ChildCount(); ++k) {
                TNBElement* t = row->Child(k);
                TNBElement* p = readElement(ctx, t, "S");
                if (!p) return;  // rows stop being handled here for this call
                tiles.push_back(t);
                partners.push_back(p);
            }
            std::vector<TTileLook> looks;
            for (size_t k = 0; k < tiles.size(); ++k) {
                TTileLook l;
                readValue(tiles[k], "ANIM", l.anim);
                readValue(partners[k], "ANIM", l.partnerAnim);
                readValue(partners[k], "VIS", l.partnerVis);
                looks.push_back(l);
            }
            const size_t n = tiles.size();
            const bool towardFront = x < -kSwayLimit;
            for (size_t k = 0; k < n; ++k) {
                const TTileLook& from = looks[towardFront ? (k + 1) % n : (k + n - 1) % n];
                writeValue(tiles[k], "ANIM", from.anim);
                writeValue(partners[k], "ANIM", from.partnerAnim);
                writeValue(partners[k], "VIS", from.partnerVis);
            }
            x += towardFront ? kRowShift : -kRowShift;
            writeInt(row, "X", clampI32(x));
        }

        place += kRowPitch;
        if (place > kRowLimit) break;
    }
    if (!anyVisible) pathSet(ctx, board, "NBDB.LOGINTERFACE.WIN", TScriptValue::uint8(1));
}

// A tile entering its row: fades in and slides left into place beside its
// previous sibling.
void enteringTile(TSceneContext& ctx, TNBElement* tile) {
    if (!isImage(tile)) return;
    int32_t trans = readInt(tile, "HXTRANS");
    if (trans != 255) {
        trans = (trans + 25) & 0xFF;  // byte arithmetic, as stored levels expect
        writeInt(tile, "HXTRANS", trans);
        if (TNBElement* partner = readElement(ctx, tile, "S")) writeInt(partner, "HXTRANS", std::min(trans >> 2, 63));
    }
    int64_t target;
    if (readInt(tile, "PARPOS") == 1) {
        target = 10;
    } else {
        const int idx = tile->IndexInParent();
        TNBElement* prev = (idx > 0 && tile->Parent()) ? tile->Parent()->Child(size_t(idx - 1)) : nullptr;
        if (!prev) return;
        target = int64_t(readInt(prev, "X")) + 85;
    }
    const int64_t x = readInt(tile, "X");
    if (x > target) writeInt(tile, "X", clampI32(std::max(x - 17, target)));
}

}  // namespace

void RegisterLevelProcedures(TScriptEngine& engine, TSceneContext& ctx) {
    TSceneContext* c = &ctx;
    // Every procedure answers success; nothing it meets stops the script.
    auto reg = [&](const char* name, auto fn) {
        engine.SetFunction(name, [c, fn](TScriptEngine&, TVarList& args, TVar&) {
            try {
                fn(*c, args);
            } catch (const std::exception&) {
            }
            return true;
        });
    };
    auto onArg = [](auto fn) {
        return [fn](TSceneContext& ctx, TVarList& args) { fn(ctx, argElement(ctx, args)); };
    };

    static const TTowerRules kFirstTower{100, 115, 150, 500, true};
    static const TTowerRules kSecondTower{0, 15, 25, 450, false};

    reg("MagicLev6_1", onArg(fallingBoard));
    reg("MagicLev6_2", onArg(labelGroups));
    reg("MagicLev6_3", onArg([](TSceneContext& ctx, TNBElement* e) { dragPiece(ctx, e, 50, TBoundary::Circle); }));
    reg("MagicLev6Log_Rend",
        [](TSceneContext& ctx, TVarList& args) { graphRender(ctx, args, 10, level::FirstGraphEdges()); });
    reg("MagicLev6Log_Upd",
        [](TSceneContext& ctx, TVarList& args) { graphUpdate(ctx, args, 10, level::FirstGraphEdges()); });
    reg("MagicLev4In_3", onArg([](TSceneContext& ctx, TNBElement* e) { dragPiece(ctx, e, 28, TBoundary::Ellipse); }));
    reg("MagicLev4InLog_Rend",
        [](TSceneContext& ctx, TVarList& args) { graphRender(ctx, args, 9, level::SecondGraphEdges()); });
    reg("MagicLev4InLog_Upd",
        [](TSceneContext& ctx, TVarList& args) { graphUpdate(ctx, args, 9, level::SecondGraphEdges()); });
    reg("MagicLev7Log", onArg([](TSceneContext& ctx, TNBElement* e) { towerTick(ctx, e, kFirstTower); }));
    reg("MagicLev15Log", onArg([](TSceneContext& ctx, TNBElement* e) { towerTick(ctx, e, kSecondTower); }));
    reg("MagicLev12Log", onArg(pipePuzzle));
    reg("MagicGIProg", onArg(levelProgressBar));
    reg("MagicLevProg", onArg(levelBookkeeping));
    reg("MagicMapProg", onArg(mapProgressBar));
    reg("MagicLev6InLog", onArg(slidingRows));
    reg("MagicLev6InLogO", onArg(enteringTile));
}

}  // namespace nb
