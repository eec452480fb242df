// The expression evaluator and the two kinds of call.
//
// Precedence, lowest first; every two-operand level is left-associative:
//   1 OR XOR   2 AND   3 = <> > < >= <=   4 + -   5 * /   6 ^ SHL SHR
//   7 one optional prefix NOT + -   8 primary
// The prefix binds tighter than "^" (so -2^2 is 4) and only one is allowed.
#include <charconv>
#include <cmath>
#include <exception>

#include <utility>

#include "script/ScriptInternal.h"
#include "script/ScriptLimits.h"

namespace nb {

using namespace script;

namespace {

int levelOf(uint8_t code) {
    switch (code) {
        case tkOr:
        case tkXor: return 1;
        case tkAnd: return 2;
        case tkEq:
        case tkNe:
        case tkGt:
        case tkLt:
        case tkGe:
        case tkLe: return 3;
        case tkPlus:
        case tkMinus: return 4;
        case tkMul:
        case tkDiv: return 5;
        case tkPow:
        case tkShl:
        case tkShr: return 6;
        default: return 0;
    }
}

// Number constants: digits with at most one decimal separator. A point or a
// comma may separate decimals; the other one is then a grouping character
// and dropped. No exponent.
bool parseConstantNumber(std::string_view text, double& value, bool& hasPoint) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    if (text.empty()) return false;
    int points = 0, commas = 0;
    char last = 0;
    for (char c : text) {
        if (c == '.') ++points, last = c;
        else if (c == ',') ++commas, last = c;
        else if (!isDigitChar(static_cast<unsigned char>(c)) && c != '+' && c != '-') return false;
    }
    std::string s;
    s.reserve(text.size());
    for (char c : text) {
        if (last == '.' && points == 1 && c == ',') continue;
        if (last == ',' && commas == 1) {
            if (c == '.') continue;
            if (c == ',') c = '.';
        }
        s.push_back(c);
    }
    std::string_view body = s;
    bool neg = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        neg = body.front() == '-';
        body.remove_prefix(1);
    }
    size_t p = 0, digits = 0;
    while (p < body.size() && isDigitChar(static_cast<unsigned char>(body[p]))) ++p, ++digits;
    if (p < body.size() && body[p] == '.') {
        ++p;
        while (p < body.size() && isDigitChar(static_cast<unsigned char>(body[p]))) ++p, ++digits;
    }
    if (digits == 0 || p != body.size()) return false;
    double d = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), d);
    if (r.ptr != body.data() + body.size() || (r.ec != std::errc() && std::fabs(d) > 1)) return false;
    value = neg ? -d : d;
    hasPoint = s.find('.') != std::string::npos;
    return true;
}

// One-pass recursive-descent parse into a tree. Parsing stops at the first
// error, leaving an error node where the evaluation will report it.
class Parser {
public:
    Parser(const Unit& u, const TFuncList& funcs, const TProcList& procs, ExprRoot& root, Range r)
        : u_(u), funcs_(funcs), procs_(procs), root_(root), pos_(r.b), end_(r.e) {}

    void run() {
        root_.top = binary(1);
        root_.trailing = !failed_ && pos_ < end_;
    }

private:
    template <class T>
    T* make() {
        auto node = std::make_unique<T>();
        T* raw = node.get();
        root_.nodes.push_back(std::move(node));
        return raw;
    }

    uint8_t cur() const { return pos_ < end_ ? u_.toks[pos_].code : uint8_t(tkEnd); }
    const std::string& curText() const {
        static const std::string kEmpty;
        return pos_ < end_ ? u_.toks[pos_].text : kEmpty;
    }

    Node* error(std::string message, int32_t code) {
        failed_ = true;
        ErrorNode* e = make<ErrorNode>();
        e->message = std::move(message);
        e->code = code;
        return e;
    }

    // Precedence climbing: the recursion goes one call deeper per level
    // that rises, never per operand, and a run of operators of one level
    // collects into one chain, evaluated left to right like the loop of a
    // recursive-descent level.
    Node* binary(int minLevel) {
        Node* lhs = prefix();
        while (!failed_ && levelOf(cur()) >= minLevel) {
            const uint8_t op = cur();
            const int level = levelOf(op);
            ++pos_;
            Node* rhs = binary(level + 1);
            if (lhs->kind == Node::Chain && static_cast<ChainNode*>(lhs)->level == level) {
                static_cast<ChainNode*>(lhs)->rest.emplace_back(op, rhs);
            } else {
                ChainNode* chain = make<ChainNode>();
                chain->level = level;
                chain->first = lhs;
                chain->rest.emplace_back(op, rhs);
                lhs = chain;
            }
        }
        return lhs;
    }

    Node* prefix() {
        uint8_t c = cur();
        if (c != tkNot && c != tkPlus && c != tkMinus) return primary();
        ++pos_;
        PrefixNode* p = make<PrefixNode>();
        p->op = c;
        p->operand = primary();
        return p;
    }

    // The parse recurses once per parenthesis; keeping the recursive frames
    // free of string temporaries keeps that cheap (the work with texts is in
    // the non-inlined helpers below).
    Node* primary() {
        const uint8_t c = cur();
        if (c == tkConst) return constant();
        if (c == tkTrue || c == tkFalse) {
            ++pos_;
            ConstNode* k = make<ConstNode>();
            k->value = TScriptValue::boolean(c == tkTrue);
            return k;
        }
        if (c == tkLParen) {
            ++pos_;
            if (parens_ >= scriptlimits::kMaxDepth) return depthError();
            ++parens_;
            ParenNode* p = make<ParenNode>();
            p->inner = binary(1);
            --parens_;
            if (!failed_) {
                if (cur() == tkRParen) {
                    ++pos_;
                } else {
                    p->closed = false;
                    failed_ = true;
                }
            }
            return p;
        }
        if (c == tkIdent) return identifier();
        return errorWith("Unknown or invalid operator in expression: ", curText(), 1);
    }

    [[gnu::noinline]] Node* depthError() {
        return error("Stack overflow: nesting too deep", scriptlimits::kDepthErrorCode);
    }

    [[gnu::noinline]] Node* errorWith(const char* prefix, const std::string& text, int32_t code) {
        return error(prefix + text, code);
    }

    [[gnu::noinline]] Node* constant() {
        const std::string& text = curText();
        ++pos_;
        if (!text.empty() && isQuoteChar(static_cast<unsigned char>(text[0]))) {
            if (text.size() < 2 || !isQuoteChar(static_cast<unsigned char>(text.back())))
                return errorWith("Unterminated string: ", text, 6);
            ConstNode* k = make<ConstNode>();
            // A double-quoted constant keeps its quotes: it is a text id
            // that operators resolve.
            k->value = TScriptValue::string(text[0] == '"' ? text : text.substr(1, text.size() - 2));
            return k;
        }
        double d;
        bool hasPoint;
        if (!parseConstantNumber(text, d, hasPoint)) return errorWith("Invalid number: ", text, 1);
        ConstNode* k = make<ConstNode>();
        if (hasPoint || d >= 2147483647.0 || d <= -2147483647.0)
            k->value = TScriptValue::real(d);
        else  // the small bias absorbs representation error of the text
            k->value = TScriptValue::int32(static_cast<int32_t>(d < 0 ? -(-d + 1e-9) : d + 1e-9));
        return k;
    }

    [[gnu::noinline]] Node* identifier() {
        const std::string& name = u_.toks[pos_].text;
        ++pos_;
        const bool isProc = procs_.IndexOf(name) >= 0;
        const TFunc* func = isProc ? nullptr : funcs_.Find(name);
        if (cur() != tkLParen && !isProc && !func) {
            VarNode* v = make<VarNode>();
            v->name = name;
            while (v->ngroups < 2 && cur() == tkLBracket) {
                IndexGroup& g = v->groups[v->ngroups++];
                pos_ = scanIndexGroup(u_, pos_, end_, g);
                if (!g.closed) {
                    failed_ = true;
                    break;
                }
            }
            return v;
        }
        CallNode* call = make<CallNode>();
        call->name = name;
        call->isProc = isProc;
        if (isProc) call->proc = procs_.Handle(name);
        if (func) call->routine = func->routine;
        if (cur() == tkLParen) {
            call->hasList = true;
            int depth = 0;
            uint32_t q = pos_;
            for (; q < end_; ++q) {
                uint8_t k = u_.toks[q].code;
                if (k == tkLParen) ++depth;
                if (k == tkRParen && --depth == 0) break;
            }
            if (q >= end_) {
                call->closed = false;
                call->listRange = Range{pos_ + 1, end_};
                failed_ = true;
                pos_ = end_;
                return call;
            }
            call->listRange = Range{pos_ + 1, q};
            for (Range a : splitAtCommas(u_, call->listRange, false)) {
                CallArg arg;
                arg.range = a;
                arg.joined = joinRange(u_, a);
                arg.validName = IsValidVarName(arg.joined);
                call->args.push_back(std::move(arg));
            }
            pos_ = q + 1;
        }
        return call;
    }

    const Unit& u_;
    const TFuncList& funcs_;
    const TProcList& procs_;
    ExprRoot& root_;
    uint32_t pos_, end_;
    int parens_ = 0;
    bool failed_ = false;
};

TScriptValue applyPlain(uint8_t op, const TScriptValue& a, const TScriptValue& b) {
    switch (op) {
        case tkPlus: return a.add(b);
        case tkMinus: return a.sub(b);
        case tkMul: return a.mul(b);
        case tkDiv: return a.div(b);
        case tkPow: return a.power(b);
        case tkOr: return a.logicalOr(b);
        case tkAnd: return a.logicalAnd(b);
        case tkXor: return a.logicalXor(b);
        case tkShl: return a.shl(b);
        case tkShr: return a.shr(b);
        case tkEq: return TScriptValue::boolean(a.equals(b));
        case tkNe: return TScriptValue::boolean(!a.equals(b));
        case tkGt: return TScriptValue::boolean(a.greater(b));
        case tkLt: return TScriptValue::boolean(a.less(b));
        case tkGe: return TScriptValue::boolean(a.greater(b) || a.equals(b));
        case tkLe: return TScriptValue::boolean(a.less(b) || a.equals(b));
        default: throw ScriptError("Unknown operator");
    }
}

}  // namespace

std::shared_ptr<ExprRoot> TScriptEngine::Impl::parse(Unit& u, Range r) {
    auto root = std::make_shared<ExprRoot>();
    root->gen = gen;
    Parser(u, funcs, procs, *root, r).run();
    return root;
}

ExprRoot* TScriptEngine::Impl::rootFor(Unit& u, Range r, ExprSlot& slot) {
    if (slot.root && slot.root->gen == gen) return slot.root.get();
    if (slot.root) retired.push_back(std::move(slot.root));
    slot.root = parse(u, r);
    return slot.root.get();
}

bool TScriptEngine::Impl::evaluate(Unit& u, Range r, ExprSlot& slot, TScriptValue& out) {
    out = TScriptValue();
    if (r.empty()) {
        report("Empty string - not expression", u, r, 1);
        return false;
    }
    if (!enterDepth(u, r)) return false;
    ExprRoot* root = rootFor(u, r, slot);
    evalNode(u, r, root->top, out);
    leaveDepth();
    return !failed() && !root->trailing;
}

bool TScriptEngine::Impl::evaluateAdHoc(Unit& u, Range r, TScriptValue& out) {
    return evaluate(u, r, u.exprs[r.key()], out);
}

TScriptValue TScriptEngine::Impl::resolveTextId(const TScriptValue& v) {
    IScriptHost* host = self.Host();
    if (!host) return v;
    const std::string& s = v.rawString();
    std::string id = s.size() >= 2 ? s.substr(1, s.size() - 2) : std::string();
    std::string text = host->lookupText(id);
    if (text.empty()) return v;
    return TScriptValue::string(std::move(text));
}

TScriptValue TScriptEngine::Impl::applyBinary(uint8_t op, const TScriptValue& a, const TScriptValue& b) {
    // Double-quoted strings are text ids as soon as they meet an operator;
    // an id without a language text takes part as the string it is.
    auto isTextId = [](const TScriptValue& v) {
        return v.isString() && !v.rawString().empty() && v.rawString()[0] == '"';
    };
    if (isTextId(a) || isTextId(b)) {
        TScriptValue ra = isTextId(a) ? resolveTextId(a) : a;
        TScriptValue rb = isTextId(b) ? resolveTextId(b) : b;
        return applyPlain(op, ra, rb);
    }
    return applyPlain(op, a, b);
}

// Evaluation recurses once per parenthesis, argument and index; the
// dispatcher's frame stays small and each node kind has its own function.
void TScriptEngine::Impl::evalNode(Unit& u, Range ctx, Node* n, TScriptValue& out) {
    switch (n->kind) {
        case Node::Const: out = static_cast<ConstNode*>(n)->value; return;
        case Node::Error: {
            auto* e = static_cast<ErrorNode*>(n);
            report(e->message, u, ctx, e->code);
            return;
        }
        case Node::Chain: evalChain(u, ctx, *static_cast<ChainNode*>(n), out); return;
        case Node::Prefix: evalPrefix(u, ctx, *static_cast<PrefixNode*>(n), out); return;
        case Node::Paren: {
            auto* p = static_cast<ParenNode*>(n);
            if (!enterDepth(u, ctx)) return;
            evalNode(u, ctx, p->inner, out);
            leaveDepth();
            if (!p->closed && !failed()) report("')' expected", u, ctx, 2);
            return;
        }
        case Node::Var: evalVar(u, ctx, *static_cast<VarNode*>(n), out); return;
        case Node::Call: evalCall(u, ctx, *static_cast<CallNode*>(n), out); return;
    }
}

void TScriptEngine::Impl::evalChain(Unit& u, Range ctx, ChainNode& c, TScriptValue& out) {
    evalNode(u, ctx, c.first, out);
    if (failed()) return;
    TScriptValue rhs;
    for (auto& [op, node] : c.rest) {
        evalNode(u, ctx, node, rhs);
        if (failed()) return;
        try {
            out = applyBinary(op, out, rhs);
        } catch (const ScriptError&) {
            reportOperandTypes(tokenTableText(op), u, ctx);
            return;
        }
    }
}

void TScriptEngine::Impl::evalPrefix(Unit& u, Range ctx, PrefixNode& p, TScriptValue& out) {
    evalNode(u, ctx, p.operand, out);
    if (failed() || p.op == tkPlus) return;
    try {
        out = p.op == tkMinus ? out.negate() : out.logicalNot();
    } catch (const ScriptError&) {
        reportOperandTypes(tokenTableText(p.op), u, ctx);
    }
}

void TScriptEngine::Impl::reportOperandTypes(std::string_view op, const Unit& u, Range ctx) {
    report("Invalid operand types for \"" + std::string(op) + "\"", u, ctx, 5);
}

bool TScriptEngine::Impl::evalIndexGroup(Unit& u, Range ctx, IndexGroup& g, std::string& out) {
    out.clear();
    for (size_t i = 0; i < g.parts.size(); ++i) {
        TScriptValue v;
        if (!evaluate(u, g.parts[i], g.slots[i], v)) {
            report("Error in expression: ", decodeRange(u, g.parts[i]), u, ctx, 1);
            return false;
        }
        int32_t n;
        try {
            n = v.toInt32();
        } catch (const ScriptError&) {
            report("Invalid index: ", decodeRange(u, g.parts[i]), u, ctx, 5);
            return false;
        }
        if (i) out += ',';
        out += std::to_string(n);
    }
    return true;
}

bool TScriptEngine::Impl::charAt(Unit& u, Range ctx, const std::string& name, const TScriptValue& v,
                                 const std::string& index, TScriptValue& out) {
    if (!v.isString()) {
        report("Invalid variable type: ", name, u, ctx, 5);
        return false;
    }
    if (index.empty()) {
        report("Empty string index", u, ctx, 19);
        return false;
    }
    if (index.find(',') != std::string::npos) {
        report("Invalid string index", u, ctx, 19);
        return false;
    }
    int64_t at = 0;
    auto r = std::from_chars(index.data(), index.data() + index.size(), at);
    if (r.ec != std::errc() || r.ptr != index.data() + index.size()) {
        report("Invalid string index : ", index, u, ctx, 19);
        return false;
    }
    const std::string& s = v.rawString();
    if (at < 1 || at > static_cast<int64_t>(s.size())) {
        report("String index out of range: ", index, u, ctx, 19);
        return false;
    }
    out = TScriptValue::string(std::string(1, s[static_cast<size_t>(at - 1)]));
    return true;
}

void TScriptEngine::Impl::evalVar(Unit& u, Range ctx, VarNode& n, TScriptValue& out) {
    std::string index[2];
    for (int g = 0; g < n.ngroups; ++g) {
        if (!n.groups[g].closed) {
            report("] expected", u, ctx, 21);
            return;
        }
        if (!evalIndexGroup(u, ctx, n.groups[g], index[g])) return;
    }
    TVarList& vars = self.Vars();
    if (n.ngroups == 0) {
        if (vars.HasArray(n.name)) {
            report("Array with same name exist : ", n.name, u, ctx, 24);
            return;
        }
        int i = findVarHint(vars, n.name, n.hint);
        if (i >= 0) {
            out = std::as_const(vars)[static_cast<size_t>(i)].value;
            return;
        }
        TVar found;
        if (vars.Get(n.name, found)) {
            out = std::move(found.value);
            return;
        }
        report("Variable not found: ", n.name, u, ctx, 3);
        return;
    }
    if (n.ngroups == 1 && vars.Exists(n.name)) {
        // One index on an existing plain variable: a character of it.
        if (vars.HasArray(n.name)) {
            report("Array with same name exist : ", n.name, u, ctx, 24);
            return;
        }
        TVar found;
        vars.Get(n.name, found);
        charAt(u, ctx, n.name, found.value, index[0], out);
        return;
    }
    if (vars.Exists(n.name)) {
        report("Variable with same name exist : ", n.name, u, ctx, 24);
        return;
    }
    const std::string element = n.name + "[" + index[0] + "]";
    TVar found;
    if (!vars.Get(element, found)) {
        report("Variable not found: ", element, u, ctx, 3);
        return;
    }
    if (n.ngroups == 2)
        charAt(u, ctx, element, found.value, index[1], out);
    else
        out = std::move(found.value);
}

void TScriptEngine::Impl::evalCall(Unit& u, Range ctx, CallNode& n, TScriptValue& out) {
    if (n.hasList && !n.closed) {
        report("Invalid function params: ", decodeRange(u, n.listRange), u, ctx, 1);
        return;
    }
    if (n.isProc)
        callProcedure(u, ctx, n, out);
    else
        callBuiltin(u, ctx, n, out);
}

bool TScriptEngine::Impl::callBuiltin(Unit& u, Range ctx, CallNode& n, TScriptValue& out) {
    // Holding the routine keeps it alive even if it unregisters itself.
    std::shared_ptr<const TScriptRoutine> routine = n.routine;
    if (!routine) {
        report("Unknown function: ", n.name, u, ctx, 8);
        return false;
    }
    TVarList args;
    std::vector<std::pair<size_t, int>> refs;  // VAR argument -> table position
    if (!evalArguments(u, ctx, n, args, refs)) return false;
    return invokeBuiltin(u, ctx, n, *routine, args, refs, out);
}

bool TScriptEngine::Impl::evalArguments(Unit& u, Range ctx, CallNode& n, TVarList& args,
                                        std::vector<std::pair<size_t, int>>& refs) {
    TVarList& vars = self.Vars();
    for (size_t i = 0; i < n.args.size(); ++i) {
        CallArg& a = n.args[i];
        TScriptValue v;
        if (!evaluate(u, a.range, a.slot, v)) {
            report("Invalid expression in function params: ", rawRange(u, a.range), u, ctx, 7);
            return false;
        }
        int pos = a.validName ? vars.IndexOf(a.joined) : -1;
        if (pos >= 0) refs.emplace_back(i, pos);
        args.Append(TVar{pos >= 0 ? "VAR" : "VALUE", std::move(v)});
    }
    return true;
}

bool TScriptEngine::Impl::invokeBuiltin(Unit& u, Range ctx, CallNode& n, const TScriptRoutine& routine,
                                        TVarList& args, const std::vector<std::pair<size_t, int>>& refs,
                                        TScriptValue& out) {
    TVar result;
    bool ok = false;
    std::string caught;
    bool hasCaught = false;
    try {
        ok = routine(self, args, result);
    } catch (const std::exception& e) {
        ok = false;
        hasCaught = true;
        caught = e.what();
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        std::string msg = "Invalid parameters, function " + n.name;
        if (hasCaught) msg += " : " + caught;
        report(msg, u, ctx, 7);
        return false;
    }
    // VAR arguments: the routine's values go back into the variables.
    TVarList& vars = self.Vars();
    for (const auto& [arg, remembered] : refs) {
        if (arg >= args.Count()) continue;
        const std::string& name = n.args[arg].joined;
        int pos = remembered;
        const TVarList& table = vars;
        if (static_cast<size_t>(pos) >= table.Count() || table[static_cast<size_t>(pos)].name != name)
            pos = table.IndexOf(name);
        if (pos >= 0) vars.ValueAt(static_cast<size_t>(pos)) = args[arg].value;
    }
    out = std::move(result.value);
    return true;
}

bool TScriptEngine::Impl::callProcedure(Unit& u, Range ctx, CallNode& n, TScriptValue& out) {
    // Held for as long as the call runs.
    std::shared_ptr<TProcedure> proc = n.proc.lock();
    if (!proc) {
        report("Unknown procedure: ", n.name, u, ctx, 8);
        return false;
    }
    TVarList& vars = self.Vars();
    std::unique_ptr<TVarList> saved;
    if (spareTables.empty()) {
        saved = std::make_unique<TVarList>();
    } else {
        saved = std::move(spareTables.back());
        spareTables.pop_back();
    }
    saved->Assign(vars);
    const bool ok = runProcedure(u, ctx, n, *proc, *saved, out);
    saved->Clear();
    spareTables.push_back(std::move(saved));
    return ok;
}

bool TScriptEngine::Impl::runProcedure(Unit& u, Range ctx, CallNode& n, TProcedure& proc, TVarList& saved,
                                       TScriptValue& out) {
    TVarList& vars = self.Vars();
    if (n.args.size() != proc.paramList.size()) {
        report("Wrong parameters amount, procedure ", n.name, u, ctx, 7);
        return false;
    }
    for (size_t i = 0; i < n.args.size(); ++i) {
        CallArg& a = n.args[i];
        TScriptValue v;
        if (!evaluate(u, a.range, a.slot, v)) {
            report("Invalid expression in function params: ", rawRange(u, a.range), u, ctx, 7);
            return false;
        }
        // Each parameter is bound before the next argument is evaluated.
        if (!vars.Set(TVar{proc.paramList[i], std::move(v)})) {
            report("Duplicate variable name: ", proc.paramList[i], u, ctx, 24);
            return false;
        }
    }
    if (proc.isFunction) vars.Remove("RESULT");
    Unit& body = *proc.bodyUnit;
    if (enterDepth(u, ctx)) {
        execList(body, *listPtr(body, body.all(), proc.bodyList));
        leaveDepth();
    }
    switch (signal) {
        case Signal::Exit: signal = Signal::None; break;
        case Signal::Break: report("BREAK outside loop", u, ctx, 15); return false;
        case Signal::Continue: report("CONTINUE outside loop", u, ctx, 15); return false;
        case Signal::Goto:
            recordError("Label " + gotoLabel + " not exist or unreacheble", gotoText, 18);
            return false;
        case Signal::None: break;
    }
    // The caller's table comes back as it was; `saved` becomes the callee's view.
    vars.Swap(saved);
    TVarList& view = saved;
    IScriptHost* host = self.Host();
    for (size_t i = 0; i < n.args.size(); ++i) {
        const std::string& param = proc.paramList[i];
        TScriptValue pv;
        bool found = false;
        if (const TVar* t = view.Find(param)) {
            pv = t->value;
            found = true;
        } else if (host) {
            found = host->pathGet(param, view, pv);
        }
        if (!found || !n.args[i].validName) continue;
        int pos = vars.IndexOf(n.args[i].joined);
        if (pos >= 0) vars.ValueAt(static_cast<size_t>(pos)) = std::move(pv);
    }
    if (proc.isFunction) {
        const TVar* r = view.Find("RESULT");
        if (!r) {
            report("Function must return result : ", n.name, u, ctx, 26);
            return false;
        }
        out = r->value;
    }
    return true;
}

}  // namespace nb
