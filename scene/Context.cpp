#include "scene/Context.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "scene/Element.h"
#include "scene/Root.h"

namespace nb {

TSceneContext::TSceneContext(TRegisterBuiltins registerBuiltins) : host_(*this) {
    for (auto& e : pool_) {
        e = std::make_unique<TScriptEngine>(&host_);
        if (registerBuiltins) registerBuiltins(*e);
    }
}

TSceneContext::~TSceneContext() {
    // The tree goes first: its elements unregister themselves here.
    root_.reset();
    for (auto& e : pool_) e.reset();
}

TScriptEngine* TSceneContext::CurrentEngine() {
    if (depth_ < 1 || depth_ > kPoolSize) return nullptr;
    return pool_[size_t(depth_ - 1)].get();
}

TScriptEngine* TSceneContext::Engine(int index) {
    if (index < 0 || index >= kPoolSize) return nullptr;
    return pool_[size_t(index)].get();
}

void TSceneContext::ReleasePool() {
    for (auto& e : pool_) e.reset();
}

uint32_t TSceneContext::NextRandom(uint32_t n) {
    randomSeed = randomSeed * 134775813u + 1u;
    return uint32_t((uint64_t(randomSeed) * uint64_t(n)) >> 32);
}

ElementId TSceneContext::Register(TNBElement* e) {
    ElementId id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;  // 0 never names an element
    elements_[id] = e;
    ++treeGeneration_;
    return id;
}

void TSceneContext::Unregister(ElementId id, TNBElement* e) {
    elements_.erase(id);
    ++treeGeneration_;
    TInteractionState& u = ui;
    for (TNBElement** p : {&u.currentScreen, &u.pendingScreen, &u.cursor, &u.hovered, &u.typingTarget})
        if (*p == e) *p = nullptr;
    if (currentElement == e) currentElement = nullptr;
}

TNBElement* TSceneContext::Element(ElementId id) const {
    if (id == 0) return nullptr;
    auto it = elements_.find(id);
    return it == elements_.end() ? nullptr : it->second;
}

TNBDB& TSceneContext::CreateRoot() {
    root_.reset();
    root_ = std::make_unique<TNBDB>(*this);
    return *root_;
}

void TSceneContext::FreeRoot() { root_.reset(); }

void TSceneContext::SetGameFolder(const std::string& nativeFolder) {
    gameFolder_ = nativeFolder;
    if (!gameFolder_.empty() && gameFolder_.back() != '/') gameFolder_ += '/';
    gameFolderKey_ = cp1251Upper(utf8ToCp1251(gameFolder_));
}

std::string TSceneContext::CompanionPath(std::string_view cp1251Name) const {
    std::string p = gameFolder_ + cp1251ToUtf8(cp1251Name);
    if (auto r = fs::resolve(p)) return *r;
    return fs::resolveForCreate(p);
}

void TSceneContext::AppendLog(std::string_view line) const {
    std::string text(line);
    text += "\r\n";
    fs::appendFile(gameFolder_ + "nimbel.err", text);
}

// ------------------------------------------------------------ script host

TNBElement* TSceneContext::WalkPath(TNBElement* from, std::string_view name, const TVarList* vars,
                                     std::string_view& last) {
    TNBElement* el = from;
    // Leading points climb to the parent.
    while (!name.empty() && name.front() == '.') {
        name.remove_prefix(1);
        if (!el) return nullptr;
        el = el->Parent();
    }
    if (name.empty()) return nullptr;
    // Every segment before a further point must name an element.
    for (size_t dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.')) {
        std::string_view part = name.substr(0, dot);
        name.remove_prefix(dot + 1);
        if (part.empty()) return nullptr;
        TScriptValue v;
        bool found = false;
        if (el && el->GetValue(part, v)) {
            found = true;
        } else if (const TVar* var = vars ? vars->Find(part) : nullptr) {
            v = var->value;
            found = true;
        }
        if (found) {
            if (!v.isElement()) return nullptr;
            el = Element(v.elementId());
        } else if (part == "NBDB") {
            el = Root();
        } else {
            return nullptr;
        }
    }
    last = name;
    return el;
}

TNBElement* TSceneHost::walk(std::string_view name, const TVarList& vars, std::string_view& last) {
    return ctx_.WalkPath(ctx_.currentElement, name, &vars, last);
}

bool TSceneHost::pathGet(std::string_view name, const TVarList& vars, TScriptValue& out) {
    std::string_view last;
    TNBElement* el = walk(name, vars, last);
    return el && el->GetValue(last, out);
}

bool TSceneHost::pathSet(std::string_view name, const TVarList& vars, TScriptValue& value) {
    std::string_view last;
    TNBElement* el = walk(name, vars, last);
    return el && el->SetValue(last, value);
}

std::string TSceneHost::lookupText(std::string_view id) {
    TNBDB* root = ctx_.Root();
    return root ? root->LookupText(id) : std::string();
}

std::string TSceneHost::currentElementText() {
    TNBElement* e = ctx_.currentElement;
    if (!e) return std::string();
    return e->Id() + " <" + e->ClassName() + ">";
}

std::string TSceneHost::currentHookName() { return ctx_.hookName; }

void TSceneHost::appendLog(std::string_view line) { ctx_.AppendLog(line); }

}  // namespace nb
