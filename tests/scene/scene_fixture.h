// Helpers for the scene-core tests: a temporary game folder, a scene context
// whose interpreters know a few test routines, and a writer for game-file
// records built from the class table.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "scene/UnitNBDB.h"

namespace nb::scene_test {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/nb-scene-XXXXXX";
        const char* made = mkdtemp(tmpl);
        path_ = made ? std::string(made) + "/" : std::string();
    }
    ~TempDir() {
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }
    void write(const std::string& name, const std::string& text) const {
        ASSERT_TRUE(fs::writeFile(path_ + name, text.data(), text.size())) << name;
    }
    std::string read(const std::string& name) const { return fs::readFileString(path_ + name).value_or(""); }

private:
    std::string path_;
};

// One element record of a game file. Values not given are written with the
// class's construction defaults; `count` < 0 writes exactly the class's
// number of values.
struct Rec {
    explicit Rec(std::string c) : cls(std::move(c)) {}
    std::string cls;
    std::map<std::string, TPropValue> props;
    std::vector<Rec> children;
    int count = -1;
    std::string writtenName;  // the class name as written, when it differs

    Rec& I(const std::string& n, int64_t v) {
        props[n] = TPropValue::Int(v);
        return *this;
    }
    Rec& R(const std::string& n, double v) {
        props[n] = TPropValue::Real(v);
        return *this;
    }
    Rec& S(const std::string& n, std::string v) {
        props[n] = TPropValue::Str(std::move(v));
        return *this;
    }
    Rec& Child(Rec r) {
        children.push_back(std::move(r));
        return *this;
    }
};

inline std::string Encode(const Rec& r) {
    const TClassInfo* info = FindClass(r.cls);
    ByteWriter w;
    w.str32(r.writtenName.empty() ? r.cls : r.writtenName);
    const int p = info ? int(info->props.size()) : 0;
    const int c = r.count < 0 ? p : r.count;
    w.i32(c);
    for (int k = 0; k < c && k < p; ++k) {
        const TPropInfo& pi = info->props[size_t(k)];
        auto it = r.props.find(pi.name);
        switch (pi.kind) {
            case TPropKind::Real: w.f64(it != r.props.end() ? it->second.r : pi.realDefault); break;
            case TPropKind::String: w.str32(it != r.props.end() ? it->second.s : std::string(pi.strDefault)); break;
            default: w.i32(int32_t(it != r.props.end() ? it->second.i : pi.intDefault)); break;
        }
    }
    for (const Rec& child : r.children) {
        std::string bytes = Encode(child);
        w.i32(int32_t(bytes.size()));
        w.bytes(bytes.data(), bytes.size());
    }
    return std::string(reinterpret_cast<const char*>(w.buffer().data()), w.buffer().size());
}

// A context with a root in a temporary game folder. The interpreters know:
//  Mark(v)   - records "<Id of SELF>:<v as text>"
//  Depth()   - the hook nesting depth
//  Nest()    - runs SELF's MouseDown again (a hook that recurses)
struct SceneWorld {
    SceneWorld()
        : ctx([this](TScriptEngine& eng) {
              eng.SetFunction("Mark", [this](TScriptEngine&, TVarList& args, TVar&) {
                  const TNBElement* self = ctx.currentElement;
                  marks.push_back((self ? self->Id() : std::string("?")) + ":" +
                                  (args.Count() ? args[0].value.toString() : std::string()));
                  return true;
              });
              eng.SetFunction("Depth", [this](TScriptEngine&, TVarList&, TVar& result) {
                  result.value = TScriptValue::int32(ctx.Depth());
                  return true;
              });
              eng.SetFunction("Nest", [this](TScriptEngine&, TVarList&, TVar&) {
                  if (TNBElement* self = ctx.currentElement) self->MouseDown();
                  return true;
              });
          }) {
        ctx.SetGameFolder(dir.path());
        root = &ctx.CreateRoot();
    }

    template <class T>
    T* Make(TNBElement* parent, const std::string& id = std::string(), int32_t key = 0) {
        T* e = TNBElement::Create<T>(ctx, parent);
        e->SetId(id);
        e->SetKey(key);
        return e;
    }
    TNBElement* MakeByName(TNBElement* parent, const std::string& cls, const std::string& id = std::string(),
                           int32_t key = 0) {
        TNBElement* e = parent->CreateChild(cls);
        EXPECT_NE(e, nullptr) << cls;
        if (e) {
            e->SetId(id);
            e->SetKey(key);
        }
        return e;
    }
    static void Set(TNBElement* e, const char* name, TPropValue v) {
        ASSERT_TRUE(e->WritePropByName(name, std::move(v))) << name;
    }
    static TPropValue Get(TNBElement* e, const char* name) {
        TPropValue v;
        EXPECT_TRUE(e->ReadPropByName(name, v)) << name;
        return v;
    }
    std::string Log() const { return dir.read("nimbel.err"); }

    TempDir dir;
    std::vector<std::string> marks;
    TSceneContext ctx;
    TNBDB* root = nullptr;
};

// Script value helpers.
inline TScriptValue Val(TNBElement* e, const std::string& name, bool* handled = nullptr) {
    TScriptValue v;
    bool h = e->GetValue(name, v);
    if (handled) *handled = h;
    return v;
}
inline bool Handles(TNBElement* e, const std::string& name) {
    TScriptValue v;
    return e->GetValue(name, v);
}

}  // namespace nb::scene_test
