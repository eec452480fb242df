// The script interpreter: TScriptEngine with its three tables (variables
// TVarList, built-in functions TFuncList, script procedures TProcList).
//
// script/ knows nothing of scene elements. It reaches the scene through
// IScriptHost: reading and writing a dotted name on the current element, the
// language texts for double-quoted text ids, and the error log with the
// identity of the running hook.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/ScriptValue.h"

namespace nb {

class TScriptEngine;

// A script variable record: name and value. Argument lists, results and
// variable tables are made of them.
struct TVar {
    std::string name;
    TScriptValue value;
};

class TVarList;

// What the interpreter needs of the scene. One host serves every interpreter
// of a pool; it answers for the element whose hook is running.
class IScriptHost {
public:
    virtual ~IScriptHost() = default;
    // Path get: the value of `name` (not a script variable) read from the
    // current element along a dotted path; `vars` is the running script's
    // table, used as a source of element references for path segments.
    virtual bool pathGet(std::string_view name, const TVarList& vars, TScriptValue& out) = 0;
    // Path set: writes `value` along the same walk; true when an element took
    // it. The element may replace the value (text-id translation).
    virtual bool pathSet(std::string_view name, const TVarList& vars, TScriptValue& value) = 0;
    // Language text of a text id (the root's LookupText); "" when none.
    virtual std::string lookupText(std::string_view id) = 0;
    // "Id <ClassName>" of the current element, "" when there is none.
    virtual std::string currentElementText() = 0;
    // Name of the hook being run ("Init", "ms_Down", ...).
    virtual std::string currentHookName() = 0;
    // Appends one line (the CR LF is added here) to the error log.
    virtual void appendLog(std::string_view line) = 0;
};

// A built-in routine: (interpreter, arguments in source order, result) ->
// success. Arguments are named "VAR" (written as an existing variable's name;
// the routine may change the value, which is copied back on success) or
// "VALUE". Failure, or a ScriptError thrown inside, stops the script with
// "Invalid parameters, function NAME".
using TScriptRoutine = std::function<bool(TScriptEngine&, TVarList& args, TVar& result)>;

// Ordered list of owned variable records. A list that belongs to an
// interpreter falls back to the interpreter's host for names that are not
// variables (Get, Set) and logs the "Add var" warning; a list without an
// interpreter (an element's own table) does neither.
class TVarList {
public:
    explicit TVarList(TScriptEngine* owner = nullptr) : owner_(owner) {}

    size_t Count() const { return vars_.size(); }
    // Writable access may rename records, so HasArray recounts after it.
    TVar& operator[](size_t i) {
        namesTouched_ = true;
        return vars_[i];
    }
    const TVar& operator[](size_t i) const { return vars_[i]; }
    auto begin() {
        namesTouched_ = true;
        return vars_.begin();
    }
    auto end() {
        namesTouched_ = true;
        return vars_.end();
    }
    auto begin() const { return vars_.begin(); }
    auto end() const { return vars_.end(); }
    // The value of record i; its name stays as it is.
    TScriptValue& ValueAt(size_t i) { return vars_[i].value; }

    void Clear();
    int IndexOf(std::string_view name) const;
    bool Exists(std::string_view name) const { return IndexOf(name) >= 0; }
    // Some variable's name begins with name + "[".
    bool HasArray(std::string_view name) const;
    // Existing name: success, nothing changes. Invalid name: failure. A name
    // with a point logs the "Add var" warning (owned lists only).
    bool Add(const TVar& v);
    bool AddSilent(const TVar& v);
    // Replace an existing variable; else the path set on the current element;
    // else Add. Fails only for an invalid name.
    bool Set(const TVar& v);
    bool SetExisting(std::string_view name, const TScriptValue& value);
    // Adds the variable or replaces its value (no path fallback, no warning);
    // used by the scene to keep the variables a hook created.
    void Put(const TVar& v);
    const TVar* Find(std::string_view name) const;
    // Find, then the path get on the current element.
    bool Get(std::string_view name, TVar& out) const;
    void CopyInto(TVarList& other) const;
    void Remove(std::string_view name);
    // Appends the record as it is, without any check (argument lists, whose
    // records share the names "VAR" and "VALUE").
    void Append(TVar v);
    // Exchanges the records of two lists; each keeps its interpreter.
    void Swap(TVarList& other);
    // Replaces the records by copies of the other list's (no checks, no
    // warnings); this list keeps its interpreter.
    void Assign(const TVarList& other);

    TScriptEngine* owner() const { return owner_; }

private:
    void Push(TVar v);
    void Replace(size_t i, const TVar& v);

    TScriptEngine* owner_;
    std::vector<TVar> vars_;
    // Number of names holding "[" (array elements), so that the common case
    // of a table without arrays answers HasArray at once. Recounted when
    // writable access may have renamed a record.
    mutable size_t arrayNames_ = 0;
    mutable bool namesTouched_ = false;
};

// Valid variable name: identifier characters, not starting with a digit,
// optionally followed by one "[...]" holding only digits, '-' and ','.
bool IsValidVarName(std::string_view name);

class TScriptEngine {
public:
    explicit TScriptEngine(IScriptHost* host = nullptr);
    ~TScriptEngine();
    TScriptEngine(const TScriptEngine&) = delete;
    TScriptEngine& operator=(const TScriptEngine&) = delete;

    void SetHost(IScriptHost* host) { host_ = host; }
    IScriptHost* Host() const { return host_; }

    // Compiles a hook text to token text (declaration pass included).
    std::string Compile(const std::string& source);
    // Runs compiled text; true when no error was recorded.
    bool Run(const std::string& compiled);

    // Registers (or with a null routine removes) a built-in; the name is
    // trimmed and upper-cased. False when the name is not a valid name.
    bool SetFunction(std::string_view name, TScriptRoutine routine);

    TVarList& Vars() { return vars_; }
    const TVarList& Vars() const { return vars_; }
    // SetExisting / Get with the name trimmed and ASCII upper-cased.
    bool SetVar(std::string_view name, const TScriptValue& value);
    bool GetVar(std::string_view name, TVar& out);

    int32_t ErrorCode() const;
    const std::string& ErrorMessage() const;
    const std::string& ErrorText() const;
    // Records and logs an error (only the first of a run counts). Built-ins
    // and the host may use it.
    void ReportError(const std::string& message, const std::string& text, int32_t code);

    // Logs the "Add var NAME (in ..." warning through the host.
    void WarnAddVar(std::string_view name);

    // Evaluates an operator with the double-quoted text-id rule; exposed for
    // built-ins that apply "+" and "-" (Inc, Dec) and comparisons (Min, Max,
    // Decode). `op` is the operator's table text ("+", "-", "=", "<", ">").
    TScriptValue ApplyOperator(std::string_view op, const TScriptValue& a, const TScriptValue& b);

private:
    struct Impl;
    IScriptHost* host_;
    TVarList vars_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace nb
