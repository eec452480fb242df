// A small scene stand-in for interpreter tests: a few elements with named
// values, dotted-path walking like the scene's, language texts and a log
// that records every line.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "script/scriptengine.h"

namespace nb::test {

struct FakeElement {
    std::string id;
    ElementId parent = 0;
    std::map<std::string, TScriptValue> values;  // upper-case names
};

class FakeHost : public IScriptHost {
public:
    FakeHost() {
        elements[1] = FakeElement{"NBDB", 0, {}};
        elements[2] = FakeElement{"SCREEN1", 1, {}};
        elements[3] = FakeElement{"BTN1", 2, {}};
        elements[1].values["SCREEN1"] = TScriptValue::element(2);
        elements[2].values["BTN1"] = TScriptValue::element(3);
        current = 3;
    }

    // Reads a value the way the scene does: leading dots climb to parents,
    // middle segments must be element references (element value, script
    // variable, or NBDB), the last segment is the element's value.
    bool pathGet(std::string_view name, const TVarList& vars, TScriptValue& out) override {
        ++pathGets;
        ElementId e;
        std::string last;
        if (!walk(name, vars, e, last)) return false;
        auto& vals = elements[e].values;
        auto it = vals.find(last);
        if (it == vals.end()) return false;
        out = it->second;
        return true;
    }
    bool pathSet(std::string_view name, const TVarList& vars, TScriptValue& value) override {
        ElementId e;
        std::string last;
        if (!walk(name, vars, e, last)) return false;
        auto& vals = elements[e].values;
        auto it = vals.find(last);
        if (it == vals.end()) return false;
        it->second = value;
        return true;
    }
    std::string lookupText(std::string_view id) override {
        auto it = texts.find(std::string(id));
        return it == texts.end() ? std::string() : it->second;
    }
    std::string currentElementText() override {
        if (current == 0) return "";
        return elements[current].id + " <TNBImage>";
    }
    std::string currentHookName() override { return hook; }
    void appendLog(std::string_view line) override { log.emplace_back(line); }

    std::map<ElementId, FakeElement> elements;
    std::map<std::string, std::string> texts;
    std::vector<std::string> log;
    ElementId current = 0;
    std::string hook = "ms_Down";
    int pathGets = 0;

private:
    bool walk(std::string_view name, const TVarList& vars, ElementId& e, std::string& last) {
        e = current;
        while (!name.empty() && name.front() == '.') {
            name.remove_prefix(1);
            if (e == 0) return false;
            e = elements[e].parent;
        }
        if (name.empty()) return false;
        size_t dot;
        while ((dot = name.find('.')) != std::string_view::npos) {
            std::string part(name.substr(0, dot));
            name.remove_prefix(dot + 1);
            if (part.empty()) return false;
            TScriptValue v;
            bool found = false;
            if (e != 0) {
                auto it = elements[e].values.find(part);
                if (it != elements[e].values.end()) {
                    v = it->second;
                    found = true;
                }
            }
            if (!found) {
                if (const TVar* var = vars.Find(part)) {
                    v = var->value;
                    found = true;
                }
            }
            if (!found && part == "NBDB") {
                v = TScriptValue::element(1);
                found = true;
            }
            if (!found || !v.isElement() || !elements.count(v.elementId())) return false;
            e = v.elementId();
        }
        if (e == 0) return false;
        last = std::string(name);
        return true;
    }
};

// Compiles and runs a source on one engine; true when neither step failed.
inline bool compileAndRun(TScriptEngine& engine, const std::string& source) {
    std::string compiled = engine.Compile(source);
    if (engine.ErrorCode() != 0) return false;
    return engine.Run(compiled);
}

// The value of a script variable, or an empty value marked by `found`.
inline TScriptValue varValue(const TScriptEngine& engine, const std::string& name, bool* found = nullptr) {
    const TVar* v = engine.Vars().Find(name);
    if (found) *found = v != nullptr;
    return v ? v->value : TScriptValue();
}

// An engine on a fake host whose current element is BTN1,
// with a few test built-ins:
//   INCR(v)    v + 1 through the interpreter's "+" (VAR argument copied back)
//   TRACE(...) records "NAME=value" of every argument, answers its count
//   TICK       counts its calls, answers the count
//   FAILING()  answers failure; THROWING() raises "boom"
class ScriptFixture : public ::testing::Test {
protected:
    ScriptFixture() {
        host.current = 3;
        engine.SetFunction("Incr", [](TScriptEngine& e, TVarList& args, TVar& result) {
            if (args.Count() != 1) return false;
            args[0].value = e.ApplyOperator("+", args[0].value, TScriptValue::uint8(1));
            result.value = args[0].value;
            return true;
        });
        engine.SetFunction("Trace", [this](TScriptEngine&, TVarList& args, TVar& result) {
            for (const TVar& a : args) trace.push_back(a.name + "=" + a.value.toString());
            result.value = TScriptValue::int32(static_cast<int32_t>(args.Count()));
            return true;
        });
        engine.SetFunction("Tick", [this](TScriptEngine&, TVarList&, TVar& result) {
            result.value = TScriptValue::int32(++ticks);
            return true;
        });
        engine.SetFunction("Failing", [](TScriptEngine&, TVarList&, TVar&) { return false; });
        engine.SetFunction("Throwing", [](TScriptEngine&, TVarList&, TVar&) -> bool {
            throw ScriptError("boom");
        });
    }

    bool run(const std::string& source) { return compileAndRun(engine, source); }
    bool has(const std::string& name) const { return engine.Vars().Exists(name); }
    TScriptValue value(const std::string& name) const {
        bool found = false;
        TScriptValue v = varValue(engine, name, &found);
        EXPECT_TRUE(found) << "no variable " << name;
        return v;
    }
    int64_t integer(const std::string& name) const { return value(name).rawInt(); }
    std::string text(const std::string& name) const { return value(name).toString(); }
    const std::string& message() const { return engine.ErrorMessage(); }
    // Runs a source that must fail; answers the recorded message.
    std::string failure(const std::string& source) {
        EXPECT_FALSE(run(source)) << source;
        return engine.ErrorMessage();
    }

    FakeHost host;
    TScriptEngine engine{&host};
    std::vector<std::string> trace;
    int ticks = 0;
};

}  // namespace nb::test
