// The built-in function table and the script procedure table of an
// interpreter.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "script/scriptengine.h"

namespace nb {

namespace script {
struct Unit;
struct StmtList;
}

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// A registered built-in. The routine is shared so that a call in progress
// keeps it alive even when a routine re-registers or removes itself.
struct TFunc {
    std::string name;
    std::shared_ptr<const TScriptRoutine> routine;
};

class TFuncList {
public:
    // Name already upper-cased and trimmed. An existing entry is replaced, or
    // removed for a null routine; a new name must be a valid variable name.
    bool Set(const std::string& name, TScriptRoutine routine);
    const TFunc* Find(std::string_view name) const;
    size_t Count() const { return funcs_.size(); }

private:
    std::vector<TFunc> funcs_;
    std::unordered_map<std::string, size_t, StringHash, std::equal_to<>> index_;
};

// A procedure or function declared by a script.
struct TProcedure {
    std::string name;      // upper case
    std::string body;      // compiled text of one statement
    std::string params;    // one name per line, lines separated by CR LF
    bool isFunction = false;
    std::vector<std::string> paramList;        // the same names, split
    std::shared_ptr<script::Unit> bodyUnit;    // tokens of `body`
    script::StmtList* bodyList = nullptr;      // its statements, once read
};

class TProcList {
public:
    void Clear();
    int IndexOf(std::string_view name) const;
    const TProcedure* Find(std::string_view name) const;
    // Fails when the name exists.
    bool Add(TProcedure proc);
    size_t Count() const { return procs_.size(); }

private:
    std::vector<std::shared_ptr<TProcedure>> procs_;
    std::unordered_map<std::string, size_t, StringHash, std::equal_to<>> index_;

public:
    // Shared handle of a procedure, kept by a call in progress.
    std::shared_ptr<TProcedure> Handle(std::string_view name) const;
};

}  // namespace nb
