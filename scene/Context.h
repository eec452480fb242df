// The scene context: everything the scene database shares process-wide.
//
// One TSceneContext holds the interaction state the shell, the input routing,
// the scene and the script library read and write, the picture-loading
// counters, the interpreter pool with its nesting depth, the identities of the
// live elements, the game root and non-owning pointers to the services. The
// player owns one; every test builds its own, and two contexts never see each
// other.
//
// Invariants:
//  - depth is 1 between hooks and rises by one for every hook that is running;
//    the current interpreter is pool[depth - 1] (none once the pool is freed);
//  - every live element has a unique non-zero ElementId registered here; an id
//    is never handed out twice, so a stale script reference finds nothing;
//  - pointers to elements in the interaction state are cleared when their
//    element is freed, so they never dangle.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "media/ImageLoadState.h"
#include "script/scriptengine.h"

namespace nb {

class TNBElement;
class TNBDB;
class TNBText;
class TRenderDevice;
class TRenderCanvas;
class TRenderImages;
class TRenderFonts;
class TRenderTimer;
class TResArchive;
class TImageRegistry;
class TSoundManager;
class TSceneContext;

// Interaction state shared by the shell, the input routing, the scene and the
// script library.
struct TInteractionState {
    TNBElement* currentScreen = nullptr;  // processed, drawn and hit-tested
    TNBElement* pendingScreen = nullptr;  // shown when a screen load finishes
    TNBElement* cursor = nullptr;         // drawn last, at the mouse position
    TNBElement* hovered = nullptr;        // the element under the mouse
    int32_t mouseX = 0, mouseY = 0;       // last mouse position, client pixels
    int32_t mouseDX = 0, mouseDY = 0;     // movement since the previous event
    bool mouseDown = false;               // a button is held
    bool fullScreenWanted = false;        // the window mode the player wants
    bool exitRequested = false;           // close at the next process tick
    TNBElement* typingTarget = nullptr;   // the text that receives typed characters
    int32_t lastKey = 0;                  // last key code given to the root's key hook
};

// Player settings shared with the audio part and the shell. The sound manager
// keeps its own copy when there is one; these are what the scene reads
// without it.
struct TPlayerSettings {
    int32_t soundVolume = 100;
    int32_t musicVolume = 50;
};

// The scene's side of the interpreter: dotted names resolved on the current
// element, language texts through the root, the error log in the game folder.
class TSceneHost final : public IScriptHost {
public:
    explicit TSceneHost(TSceneContext& ctx) : ctx_(ctx) {}
    bool pathGet(std::string_view name, const TVarList& vars, TScriptValue& out) override;
    bool pathSet(std::string_view name, const TVarList& vars, TScriptValue& value) override;
    std::string lookupText(std::string_view id) override;
    std::string currentElementText() override;
    std::string currentHookName() override;
    void appendLog(std::string_view line) override;

private:
    // Walks every segment but the last; answers the element reached and the
    // last segment, or nullptr when the walk fails.
    TNBElement* walk(std::string_view name, const TVarList& vars, std::string_view& last);
    TSceneContext& ctx_;
};

class TSceneContext {
public:
    static constexpr int kPoolSize = 10;
    using TRegisterBuiltins = std::function<void(TScriptEngine&)>;

    // Creates the pool of ten interpreters, each with the scene host and the
    // built-ins that `registerBuiltins` (the shell's, or a test's) registers.
    explicit TSceneContext(TRegisterBuiltins registerBuiltins = {});
    ~TSceneContext();
    TSceneContext(const TSceneContext&) = delete;
    TSceneContext& operator=(const TSceneContext&) = delete;

    // ---- interaction and loading state
    TInteractionState ui;
    TImageLoadState imageLoad;
    TPlayerSettings settings;
    // Raised while the game file or a saved state is read (animations do not
    // rebuild then).
    bool restoring = false;

    // ---- services (not owned; any may be null, e.g. in tests)
    TRenderDevice* device = nullptr;
    TRenderCanvas* canvas = nullptr;
    TRenderImages* images = nullptr;
    TRenderFonts* fonts = nullptr;
    TRenderTimer* timer = nullptr;
    TResArchive* archive = nullptr;
    TImageRegistry* imageRegistry = nullptr;
    TSoundManager* sound = nullptr;

    // ---- interpreter pool
    TSceneHost& Host() { return host_; }
    // The interpreter of the current nesting level; nullptr once freed.
    TScriptEngine* CurrentEngine();
    TScriptEngine* Engine(int index);  // 0-based pool position; nullptr outside
    int Depth() const { return depth_; }
    // Frees the ten interpreters (shut-down); hooks then run nothing.
    void ReleasePool();
    bool HasPool() const { return pool_[0] != nullptr; }

    // The element whose hook is running (SELF) and the running hook's name.
    TNBElement* currentElement = nullptr;
    std::string hookName;

    // ---- random numbers: 32-bit linear congruential generator
    uint32_t randomSeed = 0;
    // seed := seed * 134775813 + 1 (mod 2^32); the result is the high 32 bits
    // of seed * n taken as a 64-bit product, so it lies in 0 .. n-1.
    uint32_t NextRandom(uint32_t n);

    // ---- element identities
    ElementId Register(TNBElement* e);
    // Forgets the id and clears every reference the context holds to `e`.
    void Unregister(ElementId id, TNBElement* e);
    // The live element of an id; nullptr for 0, unknown or freed ids.
    TNBElement* Element(ElementId id) const;
    size_t LiveElements() const { return elements_.size(); }
    // Changes whenever an element is created or freed or a Key changes, so
    // an index of elements by key knows when it must be rebuilt.
    uint64_t TreeGeneration() const { return treeGeneration_; }
    void TouchTree() { ++treeGeneration_; }

    // ---- the root
    TNBDB* Root() const { return root_.get(); }
    // Creates a new, empty root (freeing an old one with its tree).
    TNBDB& CreateRoot();
    void FreeRoot();

    // ---- game folder
    // Native path with a trailing '/' ("" before a game is loaded), and the
    // folder upper-cased as Windows-1251 text: a comparison key, never a path.
    const std::string& GameFolder() const { return gameFolder_; }
    const std::string& GameFolderKey() const { return gameFolderKey_; }
    void SetGameFolder(const std::string& nativeFolder);
    // Native path of a companion file named in game text (Windows-1251,
    // backslashes, any case) relative to the game folder. Resolved without
    // regard to case when it exists; otherwise the path to create.
    std::string CompanionPath(std::string_view cp1251Name) const;

    // Appends one line plus CR LF to the game folder's "nimbel.err"
    // (opened, appended and closed for every line; created when missing).
    void AppendLog(std::string_view line) const;

    // Walks a dotted name from `from` as the interpreter resolves names:
    // leading points climb to the parent, every further segment must yield
    // an element (the element's values first, then `vars` when given; the
    // segment "NBDB" restarts at the root when nothing else answers for it).
    // Answers the element reached and the last segment, or nullptr.
    TNBElement* WalkPath(TNBElement* from, std::string_view name, const TVarList* vars, std::string_view& last);

    // Nesting depth of the game-file reader (guards against absurdly deep
    // files); used by LoadFromData.
    int loadDepth = 0;

private:
    friend class TNBElement;
    TSceneHost host_;
    std::array<std::unique_ptr<TScriptEngine>, kPoolSize> pool_;
    int depth_ = 1;
    ElementId nextId_ = 1;
    uint64_t treeGeneration_ = 0;
    std::unordered_map<ElementId, TNBElement*> elements_;
    std::unique_ptr<TNBDB> root_;
    std::string gameFolder_;
    std::string gameFolderKey_;
};

}  // namespace nb
