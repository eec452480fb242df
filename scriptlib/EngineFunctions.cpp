// The engine functions: the built-ins through which scripts change screens,
// start and stop animations and effects, run hooks on demand, move and
// reorder elements, edit image lists, play sounds and music, save and restore
// progress, read and write settings, delete files, draw random numbers and
// end the game. Most answer success even when their arguments are unusable
// and then do nothing; an argument is an element only when its value is of
// the element-reference kind.

#include <string>
#include <string_view>

#include "media/Sound.h"
#include "media/UnitNBIm.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "render/RenderImages.h"
#include "render/RenderTimers.h"
#include "scene/Image.h"
#include "scene/Screen.h"
#include "scene/Text.h"
#include "scene/UnitNBDB.h"
#include "scriptlib/Builtins.h"
#include "scriptlib/LevelProcedures.h"
#include "scriptlib/std/StdFunctions.h"

namespace nb {

namespace {

// The element an argument refers to; nullptr when the argument is missing,
// is not of the element-reference kind, or names no live element.
TNBElement* elementArg(TSceneContext& ctx, TVarList& args, size_t i) {
    if (i >= args.Count() || !args[i].value.isElement()) return nullptr;
    return ctx.Element(args[i].value.elementId());
}

template <class T>
T* kindArg(TSceneContext& ctx, TVarList& args, size_t i, TClassId cls) {
    TNBElement* e = elementArg(ctx, args, i);
    return (e && e->IsA(cls)) ? static_cast<T*>(e) : nullptr;
}

void setByte0(TVar& result) { result.value = TScriptValue::uint8(0); }

// A name relative to the game folder that stays inside it: not absolute, no
// drive, no ".." component.
bool isContainedRelative(std::string_view name) {
    if (name.empty()) return false;
    if (name[0] == '/' || name[0] == '\\') return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    size_t i = 0;
    while (i <= name.size()) {
        size_t j = name.find_first_of("/\\", i);
        if (j == std::string_view::npos) j = name.size();
        if (trimView(name.substr(i, j - i)) == "..") return false;
        i = j + 1;
    }
    return true;
}

void setScreen(TSceneContext& ctx, TVarList& args) {
    TNBElement* target = kindArg<TNBElement>(ctx, args, 0, TClassId::TNBScreen);
    TNBDB* root = ctx.Root();
    if (!target || !root) return;
    ctx.ui.typingTarget = nullptr;
    ctx.imageLoad.forLoadCount = 0;
    ctx.imageLoad.forLoadPos = 0;
    ctx.imageLoad.loading = true;
    if (ctx.imageRegistry) ctx.imageRegistry->ResetImageUse();
    root->ClearLoaded();
    // Always-loaded screens load now, while loading is still allowed.
    root->MarkKeepLoaded();
    ctx.imageLoad.ready = false;  // from here on requests are only counted
    ctx.ui.pendingScreen = target;
    target->SetKeepLoaded(true);
    target->LoadImages();
    if (TNBElement* ls = TNBElement::FindByKey(root, root->LoadingScreen())) ls->Init();
    for (size_t i = 1; i < args.Count(); ++i) {
        if (TNBElement* e = elementArg(ctx, args, i)) {
            e->SetKeepLoaded(true);
            e->LoadImages();
        }
    }
    ctx.imageLoad.ready = true;
    if (ctx.timer) ctx.timer->Reset();
}

void fastSetScreen(TSceneContext& ctx, TVarList& args) {
    TNBElement* target = kindArg<TNBElement>(ctx, args, 0, TClassId::TNBScreen);
    if (!target) return;
    ctx.ui.currentScreen = target;
    target->LoadImages();
    for (size_t i = 1; i < args.Count(); ++i)
        if (TNBElement* e = elementArg(ctx, args, i)) e->LoadImages();
    target->Show();
    if (ctx.timer) ctx.timer->Reset();
}

}  // namespace

void RegisterEngineFunctions(TScriptEngine& engine, TSceneContext& ctx) {
    TSceneContext* c = &ctx;
    auto reg = [&](const char* name, auto fn) {
        engine.SetFunction(name, [c, fn](TScriptEngine&, TVarList& args, TVar& result) {
            return fn(*c, args, result);
        });
    };

    reg("ListAdd", [](TSceneContext& ctx, TVarList& args, TVar&) {
        auto* list = kindArg<TNBImList>(ctx, args, 0, TClassId::TNBImList);
        TNBElement* item = kindArg<TNBElement>(ctx, args, 1, TClassId::TNBImage);
        if (list && item) list->Append(item);
        return true;
    });
    reg("ListDel", [](TSceneContext& ctx, TVarList& args, TVar&) {
        auto* list = kindArg<TNBImList>(ctx, args, 0, TClassId::TNBImList);
        if (!list || args.Count() < 2) return true;
        if (args[1].value.isString()) {
            list->RemoveById(args[1].value.rawString());
        } else if (TNBElement* item = kindArg<TNBElement>(ctx, args, 1, TClassId::TNBImage)) {
            list->Remove(item);
        }
        return true;
    });
    reg("AnimStart", [](TSceneContext& ctx, TVarList& args, TVar&) {
        TNBElement* e = elementArg(ctx, args, 0);
        if (!e) return true;
        if (e->IsA(TClassId::TNBAnim)) {
            auto* a = static_cast<TNBAnim*>(e);
            a->SetFramePos(0);
            a->SetActive(true);
            a->SetVis(true);
            a->RunStart();  // under the hook name of the calling hook
        } else if (e->IsA(TClassId::TNBEffect)) {
            static_cast<TNBEffect*>(e)->Start();
        }
        return true;
    });
    reg("AnimStop", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (auto* fx = kindArg<TNBEffect>(ctx, args, 0, TClassId::TNBEffect)) fx->Stop();
        return true;
    });
    reg("AnimBreak", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (auto* fx = kindArg<TNBEffect>(ctx, args, 0, TClassId::TNBEffect)) fx->Break();
        return true;
    });
    reg("AnimPlay", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (auto* a = kindArg<TNBAnim>(ctx, args, 0, TClassId::TNBAnim)) {
            a->SetActive(true);
            if (a->FramePos() >= a->FrameCount() - 1) a->SetFramePos(0);
            a->SetVis(true);
        }
        return true;
    });
    reg("Update", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (TNBElement* e = elementArg(ctx, args, 0)) e->Update();
        return true;
    });
    reg("Process", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (TNBElement* e = elementArg(ctx, args, 0)) e->Process();
        return true;
    });
    reg("MsDown", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (TNBElement* e = elementArg(ctx, args, 0)) e->MouseDown();
        return true;
    });
    reg("MsMove", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (TNBElement* e = elementArg(ctx, args, 0)) e->MouseMove();
        return true;
    });
    reg("Init", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (TNBElement* e = elementArg(ctx, args, 0)) e->InitPr();
        return true;
    });
    reg("Show", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (TNBElement* e = elementArg(ctx, args, 0)) e->Show();
        return true;
    });
    reg("SetFocus", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (TNBElement* e = kindArg<TNBElement>(ctx, args, 0, TClassId::TNBText)) ctx.ui.typingTarget = e;
        return true;
    });
    reg("SetScreen", [](TSceneContext& ctx, TVarList& args, TVar&) {
        setScreen(ctx, args);
        return true;
    });
    reg("FastSetScreen", [](TSceneContext& ctx, TVarList& args, TVar&) {
        fastSetScreen(ctx, args);
        return true;
    });
    reg("Random", [](TSceneContext& ctx, TVarList& args, TVar& result) {
        if (args.Count() != 1) return false;
        uint32_t n = uint32_t(args[0].value.toInt32());
        result.value = TScriptValue::int32(int32_t(ctx.NextRandom(n)));
        return true;
    });
    reg("GetAlpha", [](TSceneContext& ctx, TVarList& args, TVar& result) {
        if (args.Count() != 3 || !args[0].value.isElement()) return true;
        setByte0(result);
        auto* img = kindArg<TNBImage>(ctx, args, 0, TClassId::TNBImage);
        if (!img) return true;
        // The coordinates are read only when there is a picture to read.
        TNBIm* entry = img->Picture();
        if (entry && entry->image) {
            const int32_t x = args[1].value.toInt32();
            const int32_t y = args[2].value.toInt32();
            result.value = TScriptValue::int32(int32_t(entry->image->Pixel(x, y, img->Anim()) >> 24));
        }
        return true;
    });
    reg("MoveTo", [](TSceneContext& ctx, TVarList& args, TVar& result) {
        setByte0(result);
        TNBElement* e = elementArg(ctx, args, 0);
        if (e && args.Count() >= 3) e->SetPos(args[1].value.toInt32(), args[2].value.toInt32());
        return true;
    });
    reg("ProcEf", [](TSceneContext& ctx, TVarList& args, TVar& result) {
        setByte0(result);
        auto* fx = kindArg<TNBEffect>(ctx, args, 0, TClassId::TNBEffect);
        if (fx && args.Count() >= 2) {
            // t / Speed * DAnim in the value type's arithmetic, as seconds.
            double speed = ctx.timer ? ctx.timer->Speed : 30.0;
            TScriptValue t = args[1].value.div(TScriptValue::real(speed));
            TScriptValue dt = t.mul(TScriptValue::real(fx->StoredReal(TProp::DAnim)));
            fx->AdvanceSystem(float(dt.toReal()));
        }
        return true;
    });
    reg("GetText", [](TSceneContext& ctx, TVarList& args, TVar& result) {
        if (args.Count() != 1) return false;
        std::string key = args[0].value.toString();
        result.value = TScriptValue::string(ctx.Root() ? ctx.Root()->LookupText(key) : std::string());
        return true;
    });
    reg("LoadIm", [](TSceneContext& ctx, TVarList&, TVar&) {
        if (ctx.Root()) ctx.Root()->FinishLoading();
        return true;
    });
    reg("EndLoadIm", [](TSceneContext& ctx, TVarList&, TVar&) {
        ctx.imageLoad.loading = false;
        return true;
    });
    reg("SaveState", [](TSceneContext& ctx, TVarList&, TVar&) {
        if (ctx.Root()) ctx.Root()->SaveState();
        return true;
    });
    reg("LoadState", [](TSceneContext& ctx, TVarList&, TVar&) {
        if (ctx.Root()) ctx.Root()->LoadState();
        return true;
    });
    reg("TimerReset", [](TSceneContext& ctx, TVarList&, TVar&) {
        if (ctx.timer) ctx.timer->Reset();
        return true;
    });
    reg("GetIni", [](TSceneContext& ctx, TVarList& args, TVar& result) {
        try {
            IniFile* ini = ctx.Root() ? ctx.Root()->Settings() : nullptr;
            if (args.Count() != 3 || !ini) return false;
            result.value = TScriptValue::string(ini->readString(
                args[0].value.toString(), args[1].value.toString(), args[2].value.toString()));
            return true;
        } catch (const std::exception&) {
            return false;
        }
    });
    reg("SetIni", [](TSceneContext& ctx, TVarList& args, TVar& result) {
        try {
            IniFile* ini = ctx.Root() ? ctx.Root()->Settings() : nullptr;
            if (args.Count() != 3 || !ini) return false;
            const std::string section = args[0].value.toString();
            const std::string key = args[1].value.toString();
            const std::string value = args[2].value.toString();
            // A write that does not reach the disk leaves the settings as
            // they were, so GetIni never answers a value the file lacks.
            IniFile before = *ini;
            bool written = false;
            try {
                written = ini->writeString(section, key, value);
            } catch (const std::exception&) {
                written = false;
            }
            if (!written) {
                *ini = std::move(before);
                return false;
            }
            setByte0(result);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    });
    reg("DelFile", [](TSceneContext& ctx, TVarList& args, TVar& result) {
        try {
            if (args.Count() != 1) return false;
            std::string name = args[0].value.toString();
            // An empty name is the game folder itself, which is no file:
            // nothing is deleted, as for a missing file.
            if (name.empty()) {
                setByte0(result);
                return true;
            }
            // Only files inside the game folder may be deleted.
            if (!isContainedRelative(name)) return false;
            setByte0(result);
            fs::removeFile(ctx.CompanionPath(name));
            return true;
        } catch (const std::exception&) {
            return false;
        }
    });
    reg("ToFront", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (TNBElement* e = elementArg(ctx, args, 0)) e->ToFront();
        return true;
    });
    reg("PlaySnd", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (args.Count() != 1) return false;
        std::string file;
        int32_t volume = 0;
        if (ctx.Root()) ctx.Root()->LookupSound(args[0].value.toString(), file, volume);
        if (ctx.sound) ctx.sound->PlaySound(file, volume);
        return true;
    });
    reg("PlayMuz", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (args.Count() != 1) return false;
        std::string file;
        int32_t volume = 0;
        if (ctx.Root()) ctx.Root()->LookupSound(args[0].value.toString(), file, volume);
        if (ctx.sound) ctx.sound->PlayMusic(file, volume);
        return true;
    });
    reg("StopMuz", [](TSceneContext& ctx, TVarList& args, TVar&) {
        if (args.Count() != 1) return false;
        if (ctx.sound) ctx.sound->StopMusic();
        return true;
    });
    reg("ExitGame", [](TSceneContext& ctx, TVarList&, TVar&) {
        ctx.ui.exitRequested = true;
        return true;
    });
}

void RegisterBuiltins(TScriptEngine& engine, TSceneContext& ctx) {
    RegisterStdFunctions(engine);
    RegisterEngineFunctions(engine, ctx);
    RegisterLevelProcedures(engine, ctx);
}

void RegisterBuiltinsInPool(TSceneContext& ctx) {
    for (int i = 0; i < TSceneContext::kPoolSize; ++i)
        if (TScriptEngine* e = ctx.Engine(i)) RegisterBuiltins(*e, ctx);
}

}  // namespace nb
