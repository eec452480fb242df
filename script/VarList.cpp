// Variable, function and procedure tables.
#include "platform/Text.h"
#include "script/ScriptLexer.h"
#include "script/ScriptTables.h"
#include "script/scriptengine.h"

namespace nb {

bool IsValidVarName(std::string_view name) {
    if (name.empty()) return false;
    unsigned char first = static_cast<unsigned char>(name[0]);
    if (!script::isIdentChar(first) || script::isDigitChar(first)) return false;
    size_t i = 1;
    for (; i < name.size() && name[i] != '['; ++i)
        if (!script::isIdentChar(static_cast<unsigned char>(name[i]))) return false;
    if (i == name.size()) return true;
    for (++i; i < name.size(); ++i) {
        char c = name[i];
        if (c == ']') return i + 1 == name.size();
        if (!script::isDigitChar(static_cast<unsigned char>(c)) && c != '-' && c != ',') return false;
    }
    return true;
}

namespace {
bool isArrayName(const std::string& n) {
    for (char c : n)
        if (c == '[') return true;
    return false;
}
// Names are short: test the length and first byte before comparing.
inline bool sameName(const std::string& a, std::string_view b) {
    return a.size() == b.size() && (b.empty() || (a[0] == b[0] && a.compare(0, a.size(), b) == 0));
}
}  // namespace

void TVarList::Push(TVar v) {
    if (isArrayName(v.name)) ++arrayNames_;
    vars_.push_back(std::move(v));
}

void TVarList::Replace(size_t i, const TVar& v) {
    if (isArrayName(vars_[i].name)) --arrayNames_;
    if (isArrayName(v.name)) ++arrayNames_;
    vars_[i] = v;
}

void TVarList::Append(TVar v) { Push(std::move(v)); }

void TVarList::Swap(TVarList& other) {
    vars_.swap(other.vars_);
    std::swap(arrayNames_, other.arrayNames_);
    std::swap(namesTouched_, other.namesTouched_);
}

void TVarList::Assign(const TVarList& other) {
    if (&other == this) return;
    vars_ = other.vars_;
    arrayNames_ = other.arrayNames_;
    namesTouched_ = other.namesTouched_;
}

void TVarList::Clear() {
    vars_.clear();
    arrayNames_ = 0;
    namesTouched_ = false;
}

int TVarList::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < vars_.size(); ++i)
        if (sameName(vars_[i].name, name)) return static_cast<int>(i);
    return -1;
}

bool TVarList::HasArray(std::string_view name) const {
    if (namesTouched_) {
        arrayNames_ = 0;
        for (const TVar& v : vars_)
            if (isArrayName(v.name)) ++arrayNames_;
        namesTouched_ = false;
    }
    if (arrayNames_ == 0) return false;
    for (const TVar& v : vars_) {
        const std::string& n = v.name;
        if (n.size() > name.size() && n[name.size()] == '[' && n.compare(0, name.size(), name) == 0)
            return true;
    }
    return false;
}

bool TVarList::Add(const TVar& v) {
    if (Exists(v.name)) return true;
    if (!IsValidVarName(v.name)) return false;
    if (owner_ && v.name.find('.') != std::string::npos) owner_->WarnAddVar(v.name);
    Push(v);
    return true;
}

bool TVarList::AddSilent(const TVar& v) {
    if (Exists(v.name)) return true;
    if (!IsValidVarName(v.name)) return false;
    Push(v);
    return true;
}

bool TVarList::Set(const TVar& v) {
    int i = IndexOf(v.name);
    if (i >= 0) {
        Replace(static_cast<size_t>(i), v);
        return true;
    }
    if (owner_ && owner_->Host()) {
        TScriptValue value = v.value;
        if (owner_->Host()->pathSet(v.name, *this, value)) return true;
    }
    return Add(v);
}

bool TVarList::SetExisting(std::string_view name, const TScriptValue& value) {
    int i = IndexOf(name);
    if (i < 0) return false;
    vars_[static_cast<size_t>(i)].value = value;
    return true;
}

void TVarList::Put(const TVar& v) {
    int i = IndexOf(v.name);
    if (i >= 0)
        Replace(static_cast<size_t>(i), v);
    else
        Push(v);
}

const TVar* TVarList::Find(std::string_view name) const {
    int i = IndexOf(name);
    return i >= 0 ? &vars_[static_cast<size_t>(i)] : nullptr;
}

bool TVarList::Get(std::string_view name, TVar& out) const {
    if (const TVar* v = Find(name)) {
        out = *v;
        return true;
    }
    if (owner_ && owner_->Host()) {
        TScriptValue value;
        if (owner_->Host()->pathGet(name, *this, value)) {
            out.name = std::string(name);
            out.value = std::move(value);
            return true;
        }
    }
    return false;
}

void TVarList::CopyInto(TVarList& other) const {
    if (&other == this) return;
    for (const TVar& v : vars_) other.Add(v);
}

void TVarList::Remove(std::string_view name) {
    int i = IndexOf(name);
    if (i < 0) return;
    if (isArrayName(vars_[static_cast<size_t>(i)].name)) --arrayNames_;
    vars_.erase(vars_.begin() + i);
}

bool TFuncList::Set(const std::string& name, TScriptRoutine routine) {
    auto it = index_.find(name);
    if (it != index_.end()) {
        if (routine) {
            funcs_[it->second].routine = std::make_shared<const TScriptRoutine>(std::move(routine));
        } else {
            size_t at = it->second;
            funcs_.erase(funcs_.begin() + static_cast<std::ptrdiff_t>(at));
            index_.erase(it);
            for (auto& [n, i] : index_)
                if (i > at) --i;
        }
        return true;
    }
    if (!IsValidVarName(name)) return false;
    // Removing a name that was never registered leaves nothing to do; a null
    // routine is never stored, so a call can never reach one.
    if (!routine) return true;
    index_.emplace(name, funcs_.size());
    funcs_.push_back(TFunc{name, std::make_shared<const TScriptRoutine>(std::move(routine))});
    return true;
}

const TFunc* TFuncList::Find(std::string_view name) const {
    auto it = index_.find(name);
    return it == index_.end() ? nullptr : &funcs_[it->second];
}

void TProcList::Clear() {
    procs_.clear();
    index_.clear();
}

int TProcList::IndexOf(std::string_view name) const {
    auto it = index_.find(name);
    return it == index_.end() ? -1 : static_cast<int>(it->second);
}

const TProcedure* TProcList::Find(std::string_view name) const {
    int i = IndexOf(name);
    return i >= 0 ? procs_[static_cast<size_t>(i)].get() : nullptr;
}

std::shared_ptr<TProcedure> TProcList::Handle(std::string_view name) const {
    int i = IndexOf(name);
    return i >= 0 ? procs_[static_cast<size_t>(i)] : nullptr;
}

bool TProcList::Add(TProcedure proc) {
    if (index_.count(proc.name)) return false;
    index_.emplace(proc.name, procs_.size());
    procs_.push_back(std::make_shared<TProcedure>(std::move(proc)));
    return true;
}

}  // namespace nb
