// TScriptEngine: public operations, error reporting, compiled-unit cache,
// compiling and the declaration pass.
#include <cerrno>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "script/ScriptInternal.h"
#include "script/ScriptLimits.h"

namespace nb {

namespace script {

std::string decodeRange(const Unit& u, Range r) {
    std::string out;
    for (uint32_t i = r.b; i < r.e && i < u.toks.size(); ++i) {
        out += u.toks[i].text;
        out += ' ';
    }
    out += ' ';
    return out;
}

std::string rawRange(const Unit& u, Range r) {
    std::string out;
    for (uint32_t i = r.b; i < r.e && i < u.toks.size(); ++i)
        appendCompiledToken(out, u.toks[i].code, u.toks[i].text);
    return out;
}

std::string joinRange(const Unit& u, Range r) {
    std::string out;
    for (uint32_t i = r.b; i < r.e && i < u.toks.size(); ++i) out += u.toks[i].text;
    return out;
}

uint32_t findToken(const Unit& u, uint32_t from, uint32_t end, uint8_t code) {
    for (uint32_t i = from; i < end; ++i)
        if (u.toks[i].code == code) return i;
    return end;
}

std::vector<Range> splitAtCommas(const Unit& u, Range r, bool countBrackets) {
    std::vector<Range> parts;
    if (r.empty()) return parts;
    int parens = 0, brackets = 0;
    uint32_t start = r.b;
    for (uint32_t i = r.b; i < r.e; ++i) {
        switch (u.toks[i].code) {
            case tkLParen: ++parens; break;
            case tkRParen: --parens; break;
            case tkLBracket: ++brackets; break;
            case tkRBracket: --brackets; break;
            case tkComma:
                if (parens == 0 && (!countBrackets || brackets == 0)) {
                    parts.push_back(Range{start, i});
                    start = i + 1;
                }
                break;
            default: break;
        }
    }
    parts.push_back(Range{start, r.e});
    return parts;
}

// "[" ... "]" starting at `p` (which holds "["); answers the position after
// the closing bracket, or `end` when the text ends first.
uint32_t scanIndexGroup(const Unit& u, uint32_t p, uint32_t end, IndexGroup& g) {
    int depth = 0;
    for (uint32_t q = p; q < end; ++q) {
        uint8_t c = u.toks[q].code;
        if (c == tkLBracket) ++depth;
        if (c == tkRBracket && --depth == 0) {
            g.closed = true;
            g.parts = splitAtCommas(u, Range{p + 1, q}, true);
            g.slots.resize(g.parts.size());
            return q + 1;
        }
    }
    g.closed = false;
    return end;
}

StmtRead readStatement(const Unit& u, uint32_t pos, uint32_t end, bool elseEnds) {
    StmtRead rd;
    while (pos < end && u.toks[pos].code == tkSemicolon) ++pos;  // empty statements
    if (pos >= end) {
        rd.stmt = Range{end, end};
        rd.next = end;
        rd.atEnd = true;
        return rd;
    }
    int block = 0, repeat = 0;
    uint32_t b = pos;
    for (; pos < end; ++pos) {
        uint8_t c = u.toks[pos].code;
        if ((c == tkSemicolon || (elseEnds && c == tkElse)) && block == 0 && repeat == 0) {
            rd.stmt = Range{b, pos};
            rd.next = pos + 1;
            return rd;
        }
        switch (c) {
            case tkBegin:
            case tkCase: ++block; break;
            case tkEndKw: --block; break;
            case tkRepeat: ++repeat; break;
            case tkUntil: --repeat; break;
            default: break;
        }
    }
    rd.stmt = Range{b, end};
    rd.next = end;
    if (block > 0) {
        rd.errCode = 10;
        rd.errMsg = "END expected";
    } else if (block < 0) {
        rd.errCode = 11;
        rd.errMsg = "Too many END";
    } else if (repeat > 0) {
        rd.errCode = 16;
        rd.errMsg = "UNTIL expected";
    } else if (repeat < 0) {
        rd.errCode = 17;
        rd.errMsg = "Too many UNTIL";
    }
    return rd;
}

}  // namespace script

using script::Range;
using script::StmtList;
using script::Unit;

// ---------------------------------------------------------------- state

void TScriptEngine::Impl::reset() {
    nesting = -1;
    signal = Signal::None;
    gotoLabel.clear();
    gotoText.clear();
    errCode = 0;
    errMsg.clear();
    errText.clear();
    // depth and includeDepth are balanced by their users and stay as they are.
}

void TScriptEngine::Impl::clearProcs() {
    if (procs.Count() == 0) return;
    procs.Clear();
    ++gen;
}

void TScriptEngine::Impl::recordError(const std::string& message, std::string text, int32_t code) {
    if (errCode != 0) return;
    // Code 0 means "no error"; a reporter passing it still stops the run.
    errCode = code != 0 ? code : 1;
    errMsg = message;
    errText = std::move(text);
    if (IScriptHost* host = self.Host()) {
        // The error text ends with a blank already, so "in" follows it
        // directly: "Variable not found: Y (Y  in BTN1 <TNBImage>) ms_Down".
        std::string line = errMsg;
        line += " (";
        line += errText;
        line += "in ";
        line += host->currentElementText();
        line += ") ";
        line += host->currentHookName();
        host->appendLog(line);
    }
}

void TScriptEngine::Impl::report(const std::string& message, const Unit& u, Range r, int32_t code) {
    if (errCode != 0) return;
    recordError(message, script::decodeRange(u, r), code);
}

void TScriptEngine::Impl::report(const char* prefix, const std::string& what, const Unit& u, Range r,
                                 int32_t code) {
    if (errCode != 0) return;
    report(prefix + what, u, r, code);
}

bool TScriptEngine::Impl::enterDepth(const Unit& u, Range r) {
    if (depth >= scriptlimits::kMaxDepth) {
        report("Stack overflow: nesting too deep", u, r, scriptlimits::kDepthErrorCode);
        return false;
    }
    ++depth;
    return true;
}

std::shared_ptr<Unit> TScriptEngine::Impl::makeUnit(const std::string& compiled) {
    auto unit = std::make_shared<Unit>();
    unit->toks = script::decodeCompiled(compiled);
    return unit;
}

std::shared_ptr<Unit> TScriptEngine::Impl::unitFor(const std::string& compiled) {
    auto it = units.find(compiled);
    if (it != units.end()) return it->second;
    if (units.size() >= scriptlimits::kMaxCachedUnits || unitBytes >= scriptlimits::kMaxCachedBytes) {
        // Units in use stay alive through the handles their runs hold.
        units.clear();
        unitBytes = 0;
    }
    std::shared_ptr<Unit> unit = makeUnit(compiled);
    unitBytes += compiled.size();
    units.emplace(compiled, unit);
    return unit;
}

StmtList& TScriptEngine::Impl::listFor(Unit& u, Range r) {
    auto& slot = u.lists[r.key()];
    if (slot) return *slot;
    slot = std::make_unique<StmtList>();
    StmtList& list = *slot;
    uint32_t pos = r.b;
    for (;;) {
        script::StmtRead rd = script::readStatement(u, pos, r.e, false);
        if (rd.atEnd) break;
        script::Stmt s;
        s.full = rd.stmt;
        s.proper = rd.stmt;
        if (rd.errCode) {
            s.readErr = rd.errCode;
            s.readMsg = rd.errMsg;
            list.items.push_back(std::move(s));
            break;  // execution stops at this entry
        }
        if (rd.stmt.size() >= 2 && u.toks[rd.stmt.b + 1].code == script::tkColon) {
            s.label = static_cast<int32_t>(rd.stmt.b);
            s.proper.b = rd.stmt.b + 2;
        }
        s.kind = s.proper.empty() ? uint8_t(script::tkEnd) : u.toks[s.proper.b].code;
        list.items.push_back(std::move(s));
        pos = rd.next;
    }
    return list;
}

StmtList* TScriptEngine::Impl::listPtr(Unit& u, Range r, StmtList*& cache) {
    if (!cache) cache = &listFor(u, r);
    return cache;
}

// ---------------------------------------------------------------- compiling

std::string TScriptEngine::Impl::compile(const std::string& source) {
    reset();
    clearProcs();
    std::string compiled;
    if (source.find(script::kMarker) != std::string::npos) {
        compiled = source;
    } else if (source == lastSource) {
        compiled = lastCompiled;
    } else {
        compiled = script::compileSource(source);
        lastSource = source;
        lastCompiled = compiled;
    }
    // Compile-time units stay out of the run cache: most hook sources are
    // compiled once, and their main programs are what later runs.
    std::shared_ptr<Unit> unit = makeUnit(compiled);
    std::string main;
    main.reserve(compiled.size() + 16);
    declarationPass(*unit, main);
    return main;
}

void TScriptEngine::Impl::declarationPass(Unit& u, std::string& main) {
    using namespace script;
    const uint32_t end = static_cast<uint32_t>(u.toks.size());
    uint32_t pos = 0;
    while (!failed()) {
        StmtRead rd = readStatement(u, pos, end, false);
        if (rd.atEnd) break;
        if (rd.errCode) {
            report(rd.errMsg, u, rd.stmt, rd.errCode);
            break;
        }
        pos = rd.next;
        const Range st = rd.stmt;
        const uint8_t first = u.toks[st.b].code;

        if (first == tkProcedure || first == tkFunction) {
            uint32_t p = st.b + 1;
            if (p >= st.e || u.toks[p].code != tkIdent) {
                report("Invalid procedure name", u, st, 4);
                break;
            }
            TProcedure proc;
            proc.name = u.toks[p].text;
            proc.isFunction = first == tkFunction;
            if (procs.Find(proc.name)) {
                report("Duplicate procedure name", u, st, 24);
                break;
            }
            ++p;
            if (p >= st.e || u.toks[p].code != tkLParen) {
                report("( expected", u, st, 2);
                break;
            }
            ++p;
            bool ok = true;
            if (p < st.e && u.toks[p].code == tkRParen) {
                // no parameters
            } else {
                for (;;) {
                    if (p >= st.e || u.toks[p].code != tkIdent) {
                        ok = false;
                        break;
                    }
                    proc.paramList.push_back(u.toks[p].text);
                    ++p;
                    if (p < st.e && u.toks[p].code == tkRParen) break;
                    if (p < st.e && u.toks[p].code == tkComma) {
                        ++p;
                        continue;
                    }
                    ok = false;
                    break;
                }
            }
            if (!ok) {
                report("Invalid function call", u, st, 7);
                break;
            }
            // The statement after the declaration is the body.
            StmtRead body = readStatement(u, pos, end, false);
            if (body.errCode) {
                report(body.errMsg, u, body.stmt, body.errCode);
                break;
            }
            pos = body.next;
            for (size_t i = 0; i < proc.paramList.size(); ++i) {
                if (i) proc.params += "\r\n";
                proc.params += proc.paramList[i];
            }
            proc.body = rawRange(u, body.stmt);
            proc.bodyUnit = makeUnit(proc.body);
            procs.Add(std::move(proc));
            ++gen;
            continue;
        }

        if (first == tkUses || first == tkInclude) {
            const std::string keyword(tokenTableText(first));
            const Range expr{st.b + 1, st.e};
            TScriptValue value;
            bool ok = evaluateAdHoc(u, expr, value);
            std::string fileName;
            if (ok) {
                try {
                    fileName = value.toString();
                } catch (const ScriptError&) {
                    ok = false;
                }
            }
            if (!ok) {
                report("Invalid filename \"" + rawRange(u, expr) + "\" in " + keyword + " statement", u,
                       st, 1);
                break;
            }
            if (includeDepth >= scriptlimits::kMaxIncludeDepth) {
                report("Too many nested files: \"" + rawRange(u, expr) + "\" in " + keyword +
                           " statement",
                       u, st, scriptlimits::kDepthErrorCode);
                break;
            }
            // Include files are named relative to the current folder.
            const std::string path = cp1251ToUtf8(fileName);
            int osError = 0;
            std::optional<std::string> content;
            if (!fileName.empty() && fs::dirExists(path)) {
                osError = EISDIR;
            } else if (!fileName.empty() && fs::resolve(path)) {
                errno = 0;
                content = fs::readFileString(path);
                if (!content) osError = errno != 0 ? errno : EIO;
            } else {
                osError = ENOENT;
            }
            if (!content) {
                report("Can't open file \"" + rawRange(u, expr) + "\", error code " +
                           std::to_string(osError),
                       u, st, 25);
                break;
            }
            std::string compiled = content->find(kMarker) != std::string::npos
                                       ? std::move(*content)
                                       : compileSource(*content);
            std::shared_ptr<Unit> sub = makeUnit(compiled);
            std::string subMain;
            ++includeDepth;
            declarationPass(*sub, subMain);
            --includeDepth;
            if (first == tkInclude) main += subMain;
            continue;
        }

        for (uint32_t i = st.b; i < st.e; ++i) appendCompiledToken(main, u.toks[i].code, u.toks[i].text);
        appendCompiledToken(main, tkSemicolon, tokenTableText(tkSemicolon));
    }
}

// ---------------------------------------------------------------- public API

TScriptEngine::TScriptEngine(IScriptHost* host)
    : host_(host), vars_(this), impl_(std::make_unique<Impl>(*this)) {}

TScriptEngine::~TScriptEngine() = default;

std::string TScriptEngine::Compile(const std::string& source) {
    Impl& im = *impl_;
    ++im.active;
    std::string main = im.compile(source);
    if (--im.active == 0) im.retired.clear();
    return main;
}

bool TScriptEngine::Run(const std::string& compiled) {
    Impl& im = *impl_;
    ++im.active;
    im.reset();
    im.clearProcs();
    std::shared_ptr<Unit> unit = im.unitFor(compiled);
    im.execList(*unit, im.listFor(*unit, unit->all()));
    im.nesting = -1;
    if (--im.active == 0) im.retired.clear();
    return im.errCode == 0;
}

bool TScriptEngine::SetFunction(std::string_view name, TScriptRoutine routine) {
    std::string n = asciiUpper(trim(name));
    bool ok = impl_->funcs.Set(n, std::move(routine));
    if (ok) ++impl_->gen;
    return ok;
}

bool TScriptEngine::SetVar(std::string_view name, const TScriptValue& value) {
    return vars_.SetExisting(asciiUpper(trim(name)), value);
}

bool TScriptEngine::GetVar(std::string_view name, TVar& out) {
    return vars_.Get(asciiUpper(trim(name)), out);
}

int32_t TScriptEngine::ErrorCode() const { return impl_->errCode; }
const std::string& TScriptEngine::ErrorMessage() const { return impl_->errMsg; }
const std::string& TScriptEngine::ErrorText() const { return impl_->errText; }

void TScriptEngine::ReportError(const std::string& message, const std::string& text, int32_t code) {
    if (impl_->errCode != 0) return;
    std::string decoded;
    if (text.find(script::kMarker) != std::string::npos) {
        Unit tmp;
        tmp.toks = script::decodeCompiled(text);
        decoded = script::decodeRange(tmp, tmp.all());
    } else {
        // Plain text reads as one token.
        decoded = text.empty() ? std::string(" ") : text + "  ";
    }
    impl_->recordError(message, std::move(decoded), code);
}

void TScriptEngine::WarnAddVar(std::string_view name) {
    if (!host_) return;
    std::string line = "Add var ";
    line += name;
    line += " (in ";
    line += host_->currentElementText();
    line += ' ';
    line += host_->currentHookName();
    host_->appendLog(line);
}

TScriptValue TScriptEngine::ApplyOperator(std::string_view op, const TScriptValue& a, const TScriptValue& b) {
    for (int code = script::tkTrue; code <= script::tkLastCode; ++code) {
        if (script::tokenTableText(code) != op) continue;
        switch (code) {
            case script::tkOr: case script::tkXor: case script::tkAnd: case script::tkEq:
            case script::tkNe: case script::tkGt: case script::tkLt: case script::tkGe:
            case script::tkLe: case script::tkPlus: case script::tkMinus: case script::tkMul:
            case script::tkDiv: case script::tkPow: case script::tkShl: case script::tkShr:
                return impl_->applyBinary(static_cast<uint8_t>(code), a, b);
            default: break;
        }
    }
    throw ScriptError("Unknown operator " + std::string(op));
}

}  // namespace nb
