// Inside the interpreter: compiled units, their caches, and the engine state.
//
// The language is defined on compiled token text: statements are found by
// scanning tokens, expressions are parsed and evaluated in one pass, loops
// re-read their bodies. The interpreter keeps that model exactly but never
// scans text twice: a compiled text is split into a token array once (a
// Unit), every sub-text is a token range of it, and what reading a range
// yields (the statements of a list, the parts of a statement, the parse of an
// expression) is computed on first use and kept beside the range. Reading is
// a pure function of the tokens, so the caches cannot be told from re-reading:
//  - a statement list keeps the statements in the order reading meets them;
//    a statement whose read fails (unbalanced BEGIN/END, REPEAT/UNTIL) is kept
//    as an error entry and reported only when execution reaches it;
//  - a parsed expression is a small tree whose error nodes stand where the
//    one-pass parser would have stopped, so side effects and the first error
//    come in the same order. Whether a name is a call or a variable depends on
//    the function and procedure tables; a parse remembers the table
//    generation it was made with and is redone when the tables changed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "script/ScriptLexer.h"
#include "script/ScriptTables.h"
#include "script/scriptengine.h"

namespace nb::script {

// Tokens [b, e) of a unit.
struct Range {
    uint32_t b = 0, e = 0;
    bool empty() const { return b >= e; }
    uint32_t size() const { return e > b ? e - b : 0; }
    uint64_t key() const { return (uint64_t(b) << 32) | e; }
};

struct ExprRoot;
struct StmtList;

// Cached parse of an expression range (re-parsed when the table generation
// moved on). Shared so that an evaluation in progress keeps its tree.
struct ExprSlot {
    std::shared_ptr<ExprRoot> root;
};

// "[" list "]": the list split at commas outside brackets and parentheses.
struct IndexGroup {
    bool closed = true;
    std::vector<Range> parts;
    std::vector<ExprSlot> slots;
};

struct Node {
    enum Kind : uint8_t { Const, Error, Chain, Prefix, Paren, Var, Call };
    explicit Node(Kind k) : kind(k) {}
    virtual ~Node() = default;
    Kind kind;
};

struct ConstNode : Node {
    ConstNode() : Node(Const) {}
    TScriptValue value;
};

// Where parsing stopped with an error; reported when evaluation gets here.
struct ErrorNode : Node {
    ErrorNode() : Node(Error) {}
    std::string message;
    int32_t code = 1;
};

// Operands of one precedence level joined by its operators, left to right.
struct ChainNode : Node {
    ChainNode() : Node(Chain) {}
    int level = 0;
    Node* first = nullptr;
    std::vector<std::pair<uint8_t, Node*>> rest;
};

struct PrefixNode : Node {
    PrefixNode() : Node(Prefix) {}
    uint8_t op = 0;
    Node* operand = nullptr;
};

struct ParenNode : Node {
    ParenNode() : Node(Paren) {}
    Node* inner = nullptr;
    bool closed = true;
};

struct VarNode : Node {
    VarNode() : Node(Var) {}
    std::string name;
    IndexGroup groups[2];
    int ngroups = 0;
    int hint = -1;  // last position of the variable in the table
};

struct CallArg {
    Range range;
    std::string joined;      // tokens joined without blanks
    bool validName = false;  // `joined` is a valid variable name
    ExprSlot slot;
};

struct CallNode : Node {
    CallNode() : Node(Call) {}
    std::string name;
    bool hasList = false;    // written with "(" ... ")"
    bool closed = true;      // the ")" was found
    Range listRange;         // tokens after "(" (to the end when not closed)
    std::vector<CallArg> args;
    bool isProc = false;
    // The declared procedure (isProc). Weak: a procedure's body holds call
    // nodes, and a recursive one would otherwise keep itself alive.
    std::weak_ptr<TProcedure> proc;
    std::shared_ptr<const TScriptRoutine> routine;  // null: unknown function
};

struct ExprRoot {
    uint64_t gen = 0;
    Node* top = nullptr;
    bool trailing = false;  // tokens left after a complete expression
    std::vector<std::unique_ptr<Node>> nodes;
};

// One statement as reading found it.
struct StmtRead {
    Range stmt;
    uint32_t next = 0;
    int32_t errCode = 0;
    const char* errMsg = nullptr;
    bool atEnd = false;  // nothing left to read
};

struct CaseItem {
    Range low, high;
    bool single = true;
    ExprSlot lowSlot, highSlot;
};

struct CaseEntry {
    enum Kind : uint8_t { Branch, Else, End, Fail };
    Kind kind = Fail;
    std::vector<CaseItem> items;
    Range stmt;
    StmtList* list = nullptr;
    int32_t errCode = 0;  // Fail entries, and Branch/Else whose statement read failed
    const char* errMsg = nullptr;
};

// What a statement's first execution worked out about its parts.
struct StmtInfo {
    // identifier statements
    IndexGroup groups[2];
    int ngroups = 0;
    enum Next : uint8_t { Assign, CallStmt, Other } next = Other;
    bool validName = false;  // the identifier is a valid variable name
    std::string otherToken;
    Range rhs;
    ExprSlot rhsSlot, wholeSlot;
    int hint = -1;
    // conditions, bounds, bodies
    int32_t errCode = 0;
    std::string errMsg;
    Range cond, cond2, body, alt;
    ExprSlot condSlot, cond2Slot;
    StmtList* bodyList = nullptr;
    StmtList* altList = nullptr;
    bool down = false;
    bool hasDo = true;
    int32_t partErr = 0;
    const char* partMsg = nullptr;
    Range partText;
    std::vector<CaseEntry> cases;
};

struct Stmt {
    Range full;    // as read, label included
    Range proper;  // label split off
    int32_t label = -1;  // token index of the label
    uint8_t kind = tkEnd;
    int32_t readErr = 0;
    const char* readMsg = nullptr;
    std::unique_ptr<StmtInfo> info;
};

struct StmtList {
    std::vector<Stmt> items;
};

// A compiled text split into tokens, with the caches of its ranges.
struct Unit {
    std::vector<Token> toks;
    std::unordered_map<uint64_t, std::unique_ptr<StmtList>> lists;
    std::unordered_map<uint64_t, ExprSlot> exprs;

    Range all() const { return Range{0, static_cast<uint32_t>(toks.size())}; }
};

// Token texts, each followed by one blank, plus one more blank.
std::string decodeRange(const Unit& u, Range r);
// The range as compiled text again (markers included).
std::string rawRange(const Unit& u, Range r);
// Tokens joined without blanks.
std::string joinRange(const Unit& u, Range r);

// Reads one statement from `pos`; `elseEnds` adds ELSE to the terminators.
StmtRead readStatement(const Unit& u, uint32_t pos, uint32_t end, bool elseEnds);
// "[" ... "]" starting at `p` (which holds "["), counting nested brackets;
// answers the position after the closing bracket, or `end` when the text
// ends first (the group is then not closed).
uint32_t scanIndexGroup(const Unit& u, uint32_t p, uint32_t end, IndexGroup& g);
// First token of `code` in [from, end), or `end`.
uint32_t findToken(const Unit& u, uint32_t from, uint32_t end, uint8_t code);
// Position of `name` in the table, trying the remembered position first.
inline int findVarHint(const TVarList& vars, const std::string& name, int& hint) {
    if (hint >= 0 && static_cast<size_t>(hint) < vars.Count() && vars[static_cast<size_t>(hint)].name == name)
        return hint;
    int i = vars.IndexOf(name);
    if (i >= 0) hint = i;
    return i;
}

// Splits at commas outside parentheses (and brackets when asked).
std::vector<Range> splitAtCommas(const Unit& u, Range r, bool countBrackets);

}  // namespace nb::script

namespace nb {

struct TScriptEngine::Impl {
    using Unit = script::Unit;
    using Range = script::Range;

    enum class Signal : uint8_t { None, Break, Continue, Exit, Goto };

    explicit Impl(TScriptEngine& engine) : self(engine) {}

    TScriptEngine& self;
    TFuncList funcs;
    TProcList procs;
    uint64_t gen = 1;  // moves on whenever the function or procedure table changes

    int32_t nesting = -1;
    Signal signal = Signal::None;
    std::string gotoLabel;
    std::string gotoText;  // decoded GOTO statement, for the unreachable-label message

    int32_t errCode = 0;
    std::string errMsg, errText;

    std::string lastSource, lastCompiled;

    int depth = 0;         // shared nesting counter (see ScriptLimits.h)
    // Spare tables for the saved copies of procedure calls, reused so that a
    // call allocates nothing once the tables have grown.
    std::vector<std::unique_ptr<TVarList>> spareTables;
    int includeDepth = 0;

    // Parses replaced while an evaluation may still be using them; freed
    // when the outermost Run or Compile returns.
    std::vector<std::shared_ptr<script::ExprRoot>> retired;
    int active = 0;  // Run/Compile calls in progress on this interpreter

    std::unordered_map<std::string, std::shared_ptr<Unit>, StringHash, std::equal_to<>> units;
    size_t unitBytes = 0;

    // --- state ---
    void reset();
    void clearProcs();
    bool failed() const { return errCode != 0; }
    void recordError(const std::string& message, std::string text, int32_t code);
    void report(const std::string& message, const Unit& u, Range r, int32_t code);
    // prefix + what; kept out of line so recursive frames hold no temporaries.
    [[gnu::noinline]] void report(const char* prefix, const std::string& what, const Unit& u, Range r,
                                  int32_t code);
    bool enterDepth(const Unit& u, Range r);
    void leaveDepth() { --depth; }

    std::shared_ptr<Unit> makeUnit(const std::string& compiled);  // not cached
    std::shared_ptr<Unit> unitFor(const std::string& compiled);   // from the run cache
    script::StmtList& listFor(Unit& u, Range r);
    script::StmtList* listPtr(Unit& u, Range r, script::StmtList*& cache);

    // --- compiling ---
    std::string compile(const std::string& source);
    void declarationPass(Unit& u, std::string& main);

    // --- statements ---
    void execList(Unit& u, script::StmtList& list);
    void execStatement(Unit& u, script::Stmt& s);
    void execIdentStatement(Unit& u, script::Stmt& s);
    void execCharAssign(Unit& u, Range text, const std::string& target, const std::string& index,
                        const TScriptValue& value);
    void execBlock(Unit& u, script::Stmt& s);
    void execIf(Unit& u, script::Stmt& s);
    void execFor(Unit& u, script::Stmt& s);
    void execWhile(Unit& u, script::Stmt& s);
    void execRepeat(Unit& u, script::Stmt& s);
    void execCase(Unit& u, script::Stmt& s);
    [[gnu::noinline]] void buildCase(Unit& u, script::Stmt& s);
    [[gnu::noinline]] bool caseItemMatches(Unit& u, Range st, script::CaseItem& item,
                                           const TScriptValue& selector);
    void execSignal(Unit& u, script::Stmt& s, Signal sig, const char* message);
    void execGoto(Unit& u, script::Stmt& s);
    bool condition(Unit& u, Range r, script::ExprSlot& slot, bool& out);
    // Consumes a loop's BREAK/CONTINUE; true when the loop must end.
    bool loopSignalEnds();

    // --- expressions ---
    bool evaluate(Unit& u, Range r, script::ExprSlot& slot, TScriptValue& out);
    bool evaluateAdHoc(Unit& u, Range r, TScriptValue& out);
    script::ExprRoot* rootFor(Unit& u, Range r, script::ExprSlot& slot);
    std::shared_ptr<script::ExprRoot> parse(Unit& u, Range r);
    void evalNode(Unit& u, Range ctx, script::Node* n, TScriptValue& out);
    [[gnu::noinline]] void evalChain(Unit& u, Range ctx, script::ChainNode& c, TScriptValue& out);
    [[gnu::noinline]] void evalPrefix(Unit& u, Range ctx, script::PrefixNode& p, TScriptValue& out);
    [[gnu::noinline]] void reportOperandTypes(std::string_view op, const Unit& u, Range ctx);
    void evalVar(Unit& u, Range ctx, script::VarNode& n, TScriptValue& out);
    void evalCall(Unit& u, Range ctx, script::CallNode& n, TScriptValue& out);
    bool callBuiltin(Unit& u, Range ctx, script::CallNode& n, TScriptValue& out);
    bool evalArguments(Unit& u, Range ctx, script::CallNode& n, TVarList& args,
                       std::vector<std::pair<size_t, int>>& refs);
    [[gnu::noinline]] bool invokeBuiltin(Unit& u, Range ctx, script::CallNode& n,
                                         const TScriptRoutine& routine, TVarList& args,
                                         const std::vector<std::pair<size_t, int>>& refs, TScriptValue& out);
    bool callProcedure(Unit& u, Range ctx, script::CallNode& n, TScriptValue& out);
    bool runProcedure(Unit& u, Range ctx, script::CallNode& n, TProcedure& proc, TVarList& saved,
                      TScriptValue& out);
    bool evalIndexGroup(Unit& u, Range ctx, script::IndexGroup& g, std::string& out);
    bool charAt(Unit& u, Range ctx, const std::string& name, const TScriptValue& v,
                const std::string& index, TScriptValue& out);
    TScriptValue applyBinary(uint8_t op, const TScriptValue& a, const TScriptValue& b);
    TScriptValue resolveTextId(const TScriptValue& v);
};

}  // namespace nb
