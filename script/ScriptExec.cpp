// The statement executor.
#include <charconv>
#include <utility>

#include "script/ScriptInternal.h"

namespace nb {

using namespace script;

bool TScriptEngine::Impl::loopSignalEnds() {
    switch (signal) {
        case Signal::None: return false;
        case Signal::Break: signal = Signal::None; return true;
        case Signal::Continue: signal = Signal::None; return false;
        case Signal::Exit:
        case Signal::Goto: return true;
    }
    return true;
}

void TScriptEngine::Impl::execList(Unit& u, StmtList& list) {
    Range whole = list.items.empty() ? Range{} : Range{list.items.front().full.b, list.items.back().full.e};
    if (!enterDepth(u, whole)) return;
    ++nesting;
    const size_t n = list.items.size();
    size_t idx = 0;
    while (!failed() && idx < n) {
        Stmt* s = &list.items[idx];
        if (s->readErr) {
            report(s->readMsg, u, s->full, s->readErr);
            break;
        }
        execStatement(u, *s);
        ++idx;
        bool ends = false;
        while (!failed() && signal != Signal::None) {
            if (signal == Signal::Break || signal == Signal::Continue) {
                if (nesting == 0)
                    report(signal == Signal::Break ? "BREAK outside loop" : "CONTINUE outside loop", u,
                           s->proper, 15);
                ends = true;
                break;
            }
            if (signal != Signal::Goto) {  // EXIT
                ends = true;
                break;
            }
            // Look for the label in this list, reading it from the start.
            size_t j = 0;
            bool found = false;
            for (; j < n && !failed(); ++j) {
                Stmt& t = list.items[j];
                if (t.readErr) {
                    report(t.readMsg, u, t.full, t.readErr);
                    break;
                }
                if (t.label >= 0 && u.toks[static_cast<size_t>(t.label)].text == gotoLabel) {
                    found = true;
                    break;
                }
            }
            if (!found || failed()) {
                ends = true;
                break;
            }
            signal = Signal::None;
            s = &list.items[j];
            execStatement(u, *s);
            idx = j + 1;
        }
        if (ends) break;
    }
    --nesting;
    leaveDepth();
    if (nesting < 0 && signal == Signal::Goto && !failed())
        recordError("Label " + gotoLabel + " not exist or unreacheble", gotoText, 18);
}

void TScriptEngine::Impl::execStatement(Unit& u, Stmt& s) {
    switch (s.kind) {
        case tkIdent: execIdentStatement(u, s); return;
        case tkBegin: execBlock(u, s); return;
        case tkIf: execIf(u, s); return;
        case tkFor: execFor(u, s); return;
        case tkWhile: execWhile(u, s); return;
        case tkRepeat: execRepeat(u, s); return;
        case tkCase: execCase(u, s); return;
        case tkBreak: execSignal(u, s, Signal::Break, "Invalid BREAK operator"); return;
        case tkContinue: execSignal(u, s, Signal::Continue, "Invalid CONTINUE operator"); return;
        case tkExit: execSignal(u, s, Signal::Exit, "Invalid EXIT operator"); return;
        case tkGoto: execGoto(u, s); return;
        case tkEndKw: report("Too many END", u, s.proper, 11); return;
        case tkElse: report("ELSE without IF", u, s.proper, 9); return;
        default: {
            std::string tok = s.proper.empty() ? std::string() : u.toks[s.proper.b].text;
            report("Invalid operator: ", tok, u, s.proper, 9);
            return;
        }
    }
}

bool TScriptEngine::Impl::condition(Unit& u, Range r, ExprSlot& slot, bool& out) {
    TScriptValue v;
    if (!evaluate(u, r, slot, v)) {
        report("Error in expression", u, r, 1);
        return false;
    }
    try {
        out = v.toBool();
    } catch (const ScriptError&) {
        report("Invalid condition type", u, r, 5);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- assignment and calls

void TScriptEngine::Impl::execIdentStatement(Unit& u, Stmt& s) {
    const Range st = s.proper;
    if (!s.info) {
        s.info = std::make_unique<StmtInfo>();
        StmtInfo& in = *s.info;
        uint32_t p = st.b + 1;
        while (in.ngroups < 2 && p < st.e && u.toks[p].code == tkLBracket) {
            IndexGroup& g = in.groups[in.ngroups++];
            p = scanIndexGroup(u, p, st.e, g);
            if (!g.closed) break;
        }
        in.validName = IsValidVarName(u.toks[st.b].text);
        uint8_t c = p < st.e ? u.toks[p].code : uint8_t(tkEnd);
        if (c == tkAssign) {
            in.next = StmtInfo::Assign;
            in.rhs = Range{p + 1, st.e};
        } else if (p >= st.e || c == tkLParen || c == tkLBracket) {
            in.next = StmtInfo::CallStmt;
        } else {
            in.next = StmtInfo::Other;
            in.otherToken = u.toks[p].text;
        }
    }
    StmtInfo& in = *s.info;
    const std::string& name = u.toks[st.b].text;

    std::string index[2];
    for (int g = 0; g < in.ngroups; ++g) {
        if (!in.groups[g].closed) {
            report("] expected", u, st, 21);
            return;
        }
        if (!evalIndexGroup(u, st, in.groups[g], index[g])) return;
    }

    if (in.next == StmtInfo::Other) {
        report("Found " + in.otherToken + ", expected :=, (, [ or ;", u, st, 1);
        return;
    }
    if (in.next == StmtInfo::CallStmt) {
        TScriptValue dropped;
        if (!evaluate(u, st, in.wholeSlot, dropped)) report("Error in expression", u, st, 1);
        return;
    }

    TScriptValue value;
    if (!evaluate(u, in.rhs, in.rhsSlot, value)) {
        report("Error in expression", u, in.rhs, 1);
        return;
    }
    TVarList& vars = self.Vars();

    if (in.ngroups == 0) {
        if (!in.validName) {
            report("Invalid variable name: ", name, u, st, 4);
            return;
        }
        if (vars.HasArray(name)) {
            report("Array with same name exist : ", name, u, st, 24);
            return;
        }
        // An existing variable is written in place; anything else goes through
        // Set (element value, else a new variable).
        int i = findVarHint(vars, name, in.hint);
        if (i >= 0)
            vars.ValueAt(static_cast<size_t>(i)) = std::move(value);
        else
            vars.Set(TVar{name, std::move(value)});
        return;
    }

    if (in.ngroups == 1 && vars.Exists(name)) {
        // One index on an existing plain variable: a character of it.
        if (!in.validName) {
            report("Invalid variable name: ", name, u, st, 4);
            return;
        }
        if (vars.HasArray(name)) {
            report("Array with same name exist : ", name, u, st, 24);
            return;
        }
        execCharAssign(u, st, name, index[0], value);
        return;
    }

    std::string element = name + "[" + index[0] + "]";
    if (!IsValidVarName(element)) {
        report("Invalid variable name: ", element, u, st, 4);
        return;
    }
    if (vars.Exists(name)) {
        report("Variable with same name exist : ", name, u, st, 24);
        return;
    }
    if (in.ngroups == 2) {
        execCharAssign(u, st, element, index[1], value);
        return;
    }
    vars.Set(TVar{element, std::move(value)});
}

void TScriptEngine::Impl::execCharAssign(Unit& u, Range st, const std::string& target,
                                         const std::string& index, const TScriptValue& value) {
    TVarList& vars = self.Vars();
    const TVar* var = vars.Find(target);
    if (!var) {
        report("Variable not found :", target, u, st, 3);
        return;
    }
    if (!var->value.isString()) {
        report("Invalid variable type: ", target, u, st, 5);
        return;
    }
    if (index.empty()) {
        report("Empty string index", u, st, 19);
        return;
    }
    if (index.find(',') != std::string::npos) {
        report("Invalid string index", u, st, 19);
        return;
    }
    int64_t at = 0;
    auto r = std::from_chars(index.data(), index.data() + index.size(), at);
    if (r.ec != std::errc() || r.ptr != index.data() + index.size()) {
        report("Invalid string index : ", index, u, st, 19);
        return;
    }
    std::string text = var->value.rawString();
    if (at < 1 || at > static_cast<int64_t>(text.size())) {
        report("String index out of range: ", index, u, st, 19);
        return;
    }
    char ch;
    if (value.isString()) {
        if (value.rawString().size() != 1) {
            report("Character expected: '" + value.rawString() + "'", u, st, 20);
            return;
        }
        ch = value.rawString()[0];
    } else {
        int32_t code;
        try {
            code = value.toInt32();
        } catch (const ScriptError&) {
            report("Invalid variable type: ", target, u, st, 5);
            return;
        }
        if (code < 0 || code > 255) {
            report("Character value out of range: ", std::to_string(code), u, st, 20);
            return;
        }
        ch = static_cast<char>(static_cast<uint8_t>(code));
    }
    text[static_cast<size_t>(at - 1)] = ch;
    vars.SetExisting(target, TScriptValue::string(std::move(text)));
}

// ---------------------------------------------------------------- blocks and branches

void TScriptEngine::Impl::execBlock(Unit& u, Stmt& s) {
    const Range st = s.proper;
    if (st.size() < 2 || u.toks[st.e - 1].code != tkEndKw) {
        report("END expected", u, st, 10);
        return;
    }
    if (!s.info) s.info = std::make_unique<StmtInfo>();
    StmtInfo& in = *s.info;
    execList(u, *listPtr(u, Range{st.b + 1, st.e - 1}, in.bodyList));
}

void TScriptEngine::Impl::execIf(Unit& u, Stmt& s) {
    const Range st = s.proper;
    if (!s.info) {
        s.info = std::make_unique<StmtInfo>();
        StmtInfo& in = *s.info;
        uint32_t thenPos = findToken(u, st.b + 1, st.e, tkThen);
        in.cond = Range{st.b + 1, thenPos};
        uint32_t from = thenPos < st.e ? thenPos + 1 : st.e;
        StmtRead rd = readStatement(u, from, st.e, true);
        in.body = rd.stmt;
        in.partErr = rd.errCode;
        in.partMsg = rd.errMsg;
        in.alt = Range{rd.next, st.e};
    }
    StmtInfo& in = *s.info;
    bool c;
    if (!condition(u, in.cond, in.condSlot, c)) return;
    if (in.partErr) {
        report(in.partMsg, u, in.body, in.partErr);
        return;
    }
    if (c)
        execList(u, *listPtr(u, in.body, in.bodyList));
    else
        execList(u, *listPtr(u, in.alt, in.altList));
}

void TScriptEngine::Impl::buildCase(Unit& u, Stmt& s) {
    const Range st = s.proper;
    s.info = std::make_unique<StmtInfo>();
    StmtInfo& in = *s.info;
    uint32_t ofPos = findToken(u, st.b + 1, st.e, tkOf);
    in.cond = Range{st.b + 1, ofPos};
    in.hasDo = ofPos < st.e;
    // Read the branches once; evaluation walks this list in order.
    uint32_t p = ofPos + 1;
    bool elseSeen = false;
    while (in.hasDo) {
        CaseEntry e;
        if (p >= st.e) {
            e.errCode = 1;
            e.errMsg = "Error in CASE statement";
            in.cases.push_back(std::move(e));
            break;
        }
        uint8_t c = u.toks[p].code;
        if (c == tkEndKw) {
            e.kind = CaseEntry::End;
            in.cases.push_back(std::move(e));
            break;
        }
        if (c == tkElse) {
            if (elseSeen) {
                e.errCode = 28;
                e.errMsg = "Too many ELSEin CASE statement";
                in.cases.push_back(std::move(e));
                break;
            }
            elseSeen = true;
            StmtRead rd = readStatement(u, p + 1, st.e, false);
            e.kind = CaseEntry::Else;
            e.stmt = rd.stmt;
            e.errCode = rd.errCode;
            e.errMsg = rd.errMsg;
            in.cases.push_back(std::move(e));
            if (rd.errCode) break;
            p = rd.next;
            continue;
        }
        uint32_t colon = findToken(u, p, st.e, tkColon);
        if (colon >= st.e) {
            e.errCode = 29;
            e.errMsg = ": expected";
            in.cases.push_back(std::move(e));
            break;
        }
        if (colon == p) {
            e.errCode = 29;
            e.errMsg = "Range defininition expected";
            in.cases.push_back(std::move(e));
            break;
        }
        for (Range item : splitAtCommas(u, Range{p, colon}, false)) {
            CaseItem ci;
            int parens = 0;
            uint32_t dd = item.e;
            for (uint32_t q = item.b; q < item.e; ++q) {
                uint8_t k = u.toks[q].code;
                if (k == tkLParen) ++parens;
                else if (k == tkRParen) --parens;
                else if (k == tkRange && parens == 0) {
                    dd = q;
                    break;
                }
            }
            if (dd < item.e) {
                ci.single = false;
                ci.low = Range{item.b, dd};
                ci.high = Range{dd + 1, item.e};
            } else {
                ci.low = ci.high = item;
            }
            e.items.push_back(std::move(ci));
        }
        StmtRead rd = readStatement(u, colon + 1, st.e, false);
        e.kind = CaseEntry::Branch;
        e.stmt = rd.stmt;
        e.errCode = rd.errCode;
        e.errMsg = rd.errMsg;
        in.cases.push_back(std::move(e));
        if (rd.errCode) break;
        p = rd.next;
    }
}

void TScriptEngine::Impl::execCase(Unit& u, Stmt& s) {
    const Range st = s.proper;
    if (!s.info) buildCase(u, s);
    StmtInfo& in = *s.info;
    if (!in.hasDo) {
        report("OF expected", u, st, 14);
        return;
    }
    TScriptValue selector;
    if (!evaluate(u, in.cond, in.condSlot, selector)) {
        report("Error in expression", u, in.cond, 1);
        return;
    }
    CaseEntry* elsePart = nullptr;
    for (CaseEntry& e : in.cases) {
        if (e.errCode) {
            report(e.errMsg, u, e.kind == CaseEntry::Fail ? st : e.stmt, e.errCode);
            return;
        }
        if (e.kind == CaseEntry::End) {
            if (elsePart) execList(u, *listPtr(u, elsePart->stmt, elsePart->list));
            return;
        }
        if (e.kind == CaseEntry::Else) {
            elsePart = &e;
            continue;
        }
        for (CaseItem& item : e.items) {
            if (caseItemMatches(u, st, item, selector)) {
                execList(u, *listPtr(u, e.stmt, e.list));
                return;
            }
            if (failed()) return;
        }
    }
}

bool TScriptEngine::Impl::caseItemMatches(Unit& u, Range st, CaseItem& item, const TScriptValue& selector) {
    TScriptValue low, high;
    if (!evaluate(u, item.low, item.lowSlot, low)) {
        report("Error in expression", u, item.low, 1);
        return false;
    }
    if (item.single) {
        high = low;
    } else if (!evaluate(u, item.high, item.highSlot, high)) {
        report("Error in expression", u, item.high, 1);
        return false;
    }
    try {
        if (low.isString() != high.isString()) throw ScriptError("mixed range");
        if (low.greater(high)) std::swap(low, high);
        if (selector.isString() != low.isString()) return false;
        return (low.less(selector) || low.equals(selector)) && (selector.less(high) || selector.equals(high));
    } catch (const ScriptError&) {
        report("Invalid typecast in CASE range", u, st, 1);
        return false;
    }
}

// ---------------------------------------------------------------- loops

void TScriptEngine::Impl::execFor(Unit& u, Stmt& s) {
    const Range st = s.proper;
    if (!s.info) {
        s.info = std::make_unique<StmtInfo>();
        StmtInfo& in = *s.info;
        uint32_t toPos = st.e;
        for (uint32_t q = st.b + 1; q < st.e; ++q) {
            if (u.toks[q].code == tkTo || u.toks[q].code == tkDownto) {
                toPos = q;
                break;
            }
        }
        if (toPos >= st.e) {
            in.errCode = 12;
            in.errMsg = "TO or DOWNTO expected";
        } else if (st.b + 1 >= toPos || u.toks[st.b + 1].code != tkIdent) {
            in.errCode = 13;
            in.errMsg = "FOR control variable expected";
        } else if (st.b + 2 >= toPos || u.toks[st.b + 2].code != tkAssign) {
            // The "op" of this message is written in Cyrillic letters.
            std::string tok = st.b + 2 < toPos ? u.toks[st.b + 2].text : std::string();
            in.errCode = 9;
            in.errMsg = "Invalid \xEE\xF0" "erator: " + tok + " (':=' expected ";
        } else {
            in.down = u.toks[toPos].code == tkDownto;
            in.cond = Range{st.b + 3, toPos};
            uint32_t doPos = findToken(u, toPos + 1, st.e, tkDo);
            in.hasDo = doPos < st.e;
            in.cond2 = Range{toPos + 1, doPos};
            in.body = Range{doPos < st.e ? doPos + 1 : st.e, st.e};
        }
    }
    StmtInfo& in = *s.info;
    if (in.errCode) {
        report(in.errMsg, u, st, in.errCode);
        return;
    }
    const std::string& name = u.toks[st.b + 1].text;
    TScriptValue v;
    int32_t from, to;
    if (!evaluate(u, in.cond, in.condSlot, v)) {
        report("Error in expression", u, in.cond, 1);
        return;
    }
    try {
        from = v.toInt32();
    } catch (const ScriptError&) {
        report("Invalid loop variable value ", u, in.cond, 5);
        return;
    }
    if (!in.hasDo) {
        report("DO expected", u, st, 14);
        return;
    }
    if (!evaluate(u, in.cond2, in.cond2Slot, v)) {
        report("Error in expression", u, in.cond2, 1);
        return;
    }
    try {
        to = v.toInt32();
    } catch (const ScriptError&) {
        report("Invalid loop variable value ", u, in.cond2, 5);
        return;
    }
    TVarList& vars = self.Vars();
    StmtList* body = listPtr(u, in.body, in.bodyList);
    const int64_t step = in.down ? -1 : 1;
    for (int64_t c = from; in.down ? c >= to : c <= to; c += step) {
        int i = findVarHint(vars, name, in.hint);
        if (i < 0) {
            report("Invalid variable name: ", name, u, st, 1);
            return;
        }
        vars.ValueAt(static_cast<size_t>(i)) = TScriptValue::int32(static_cast<int32_t>(c));
        execList(u, *body);
        if (failed() || loopSignalEnds()) return;
    }
}

void TScriptEngine::Impl::execWhile(Unit& u, Stmt& s) {
    const Range st = s.proper;
    if (!s.info) {
        s.info = std::make_unique<StmtInfo>();
        StmtInfo& in = *s.info;
        uint32_t doPos = findToken(u, st.b + 1, st.e, tkDo);
        in.hasDo = doPos < st.e;
        in.cond = Range{st.b + 1, doPos};
        in.body = Range{in.hasDo ? doPos + 1 : st.e, st.e};
    }
    StmtInfo& in = *s.info;
    if (!in.hasDo) {
        report("DO expected", u, st, 14);
        return;
    }
    StmtList* body = listPtr(u, in.body, in.bodyList);
    for (;;) {
        bool c;
        if (!condition(u, in.cond, in.condSlot, c) || !c) return;
        execList(u, *body);
        if (failed() || loopSignalEnds()) return;
    }
}

void TScriptEngine::Impl::execRepeat(Unit& u, Stmt& s) {
    const Range st = s.proper;
    if (!s.info) {
        s.info = std::make_unique<StmtInfo>();
        StmtInfo& in = *s.info;
        uint32_t untilPos = findToken(u, st.b + 1, st.e, tkUntil);
        in.hasDo = untilPos < st.e;
        in.body = Range{st.b + 1, untilPos};
        in.cond = Range{in.hasDo ? untilPos + 1 : st.e, st.e};
    }
    StmtInfo& in = *s.info;
    if (!in.hasDo) {
        report("UNTIL expected", u, st, 16);
        return;
    }
    StmtList* body = listPtr(u, in.body, in.bodyList);
    for (;;) {
        execList(u, *body);
        if (failed()) return;
        bool c;
        if (!condition(u, in.cond, in.condSlot, c)) return;
        if (c) {
            if (signal == Signal::Break || signal == Signal::Continue) signal = Signal::None;
            return;
        }
        if (loopSignalEnds()) return;
    }
}

// ---------------------------------------------------------------- jumps

void TScriptEngine::Impl::execSignal(Unit& u, Stmt& s, Signal sig, const char* message) {
    signal = sig;
    if (s.proper.size() > 1) report(message, u, s.proper, 1);
}

void TScriptEngine::Impl::execGoto(Unit& u, Stmt& s) {
    const Range st = s.proper;
    uint32_t p = st.b + 1;
    bool labelOk = p < st.e && (u.toks[p].code == tkIdent || u.toks[p].code == tkConst);
    if (labelOk) {
        for (unsigned char c : u.toks[p].text)
            if (!isIdentChar(c)) labelOk = false;
    }
    if (!labelOk) {
        report("Invalid label in GOTO", u, st, 1);
        return;
    }
    if (p + 1 < st.e) {
        report("Error in GOTO statement", u, st, 1);
        return;
    }
    gotoLabel = u.toks[p].text;
    gotoText = decodeRange(u, st);
    signal = Signal::Goto;
}

}  // namespace nb
