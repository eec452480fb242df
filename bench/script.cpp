// Interpreter speed against Lua 5.4 on the same small programs.
//
// Each program runs five times in our interpreter and five times in the
// `lua5.4` binary (timed with os.clock inside Lua, so process start-up is not
// counted); processor times are compared, and the medians and their ratio
// are printed. Script procedures run
// only while a hook is compiled (the USES evaluation), so the call benchmark
// times a Compile whose USES expression calls the procedures.
//
// The last row reads element values through dotted names in a hook of a
// loaded game (scene resolver, property getters, element-local variables);
// Lua has no scene, so its column is the same walk over nested tables, a
// floor rather than a like-for-like reference.
//
//   bench_script [lua-binary]
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "bench/Timing.h"
#include "platform/Memory.h"
#include "scene/UnitNBDB.h"
#include "script/scriptengine.h"
#include "tools/GameFile.h"

namespace {

using nb::bench::median;

// Processor time of this process, like Lua's os.clock: the machine may be
// shared, and wall time would count the other processes too.
double cpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Program {
    const char* name;
    std::string script;  // our language
    bool compileOnly;    // the work happens in the declaration pass
    std::string lua;     // the same in Lua; must leave its result in `result`
};

void registerBenchBuiltins(nb::TScriptEngine& e) {
    e.SetFunction("Length", [](nb::TScriptEngine&, nb::TVarList& args, nb::TVar& result) {
        if (args.Count() != 1) return false;
        result.value = nb::TScriptValue::int32(static_cast<int32_t>(args[0].value.toString().size()));
        return true;
    });
}

double timeOurs(const Program& p, std::string& resultText) {
    std::vector<double> times;
    for (int rep = 0; rep < 5; ++rep) {
        nb::TScriptEngine engine;
        registerBenchBuiltins(engine);
        // Copy-out of a procedure parameter needs an existing variable.
        engine.Vars().Put(nb::TVar{"RESULTVALUE", nb::TScriptValue::int32(0)});
        double t0 = cpuSeconds();
        if (p.compileOnly) {
            engine.Compile(p.script);
        } else {
            std::string compiled = engine.Compile(p.script);
            if (!engine.Run(compiled)) std::fprintf(stderr, "%s: %s\n", p.name, engine.ErrorMessage().c_str());
        }
        times.push_back(cpuSeconds() - t0);
        nb::TVar r;
        resultText = engine.GetVar("RESULTVALUE", r) ? r.value.toString() : "?";
    }
    return median(times);
}

// Runs the Lua version; answers the median seconds, or a negative value.
double timeLua(const Program& p, const std::string& luaBinary, std::string& resultText) {
    char path[] = "/tmp/nb_bench_script_XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return -1;
    ::close(fd);
    {
        std::ofstream f(path);
        f << "local times = {}\nlocal result\n"
          << "for rep = 1, 5 do\n  local t0 = os.clock()\n"
          << p.lua << "\n  times[#times + 1] = os.clock() - t0\nend\n"
          << "table.sort(times)\nprint(string.format('%.9f', times[3]), tostring(result))\n";
    }
    std::string cmd = luaBinary + " " + path;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    double secs = -1;
    if (pipe) {
        char buf[256] = {0};
        if (std::fgets(buf, sizeof buf, pipe)) {
            char res[128] = {0};
            if (std::sscanf(buf, "%lf %127s", &secs, res) >= 1) resultText = res;
        }
        ::pclose(pipe);
    }
    std::remove(path);
    return secs;
}

// A root with one screen holding an image: the hook of the root reads the
// image's X (a property getter) and the screen's local variable COUNT.
constexpr const char* kDottedScript =
    "i := 0; n := 0; FOR i := 1 TO 100000 DO n := n + NBDB.MENU.BTN.X + NBDB.MENU.COUNT; resultvalue := n";
constexpr const char* kDottedLua =
    "  local NBDB = {MENU = {COUNT = 2, BTN = {X = 5}}}\n"
    "  local n = 0\n  for i = 1, 100000 do n = n + NBDB.MENU.BTN.X + NBDB.MENU.COUNT end\n  result = n";

double timeDotted(std::string& resultText) {
    char tmpl[] = "/tmp/nb-bench-dotted-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    if (!made) return -1;
    const std::string folder = std::string(made) + "/";
    nb::GameNode game("TNBDB");
    game.set("Id", "NBDB").set("InitScreen", 10);
    game.add(nb::GameNode("TNBScreen")
                 .set("Key", 10)
                 .set("Id", "MENU")
                 .set("exInit", "COUNT := 2")
                 .add(nb::GameNode("TNBImage").set("Key", 11).set("Id", "BTN").set("rX", 5.0)));
    const std::vector<uint8_t> bytes = nb::WriteGame(game);
    nb::fs::writeFile(folder + "dotted.nbf", bytes.data(), bytes.size());
    std::vector<double> times;
    for (int rep = 0; rep < 5; ++rep) {
        nb::TSceneContext ctx;
        nb::TNBDB& root = ctx.CreateRoot();
        if (!root.LoadGame(folder + "dotted.nbf")) return -1;
        root.Init();
        root.SetHook(nb::THook::Update, kDottedScript);
        const double t0 = cpuSeconds();
        root.Update();
        times.push_back(cpuSeconds() - t0);
        const nb::TVar* r = ctx.Engine(1)->Vars().Find("RESULTVALUE");
        resultText = r ? r->value.toString() : "?";
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return median(times);
}

}  // namespace

int main(int argc, char** argv) {
    nb::TuneProcessHeap();  // as the player runs
    std::string lua = argc > 1 ? argv[1] : "lua5.4";
    std::vector<Program> programs = {
        {"for-loop arithmetic (1,000,000 passes)",
         "i := 0; x := 0; FOR i := 1 TO 1000000 DO x := x + i * 2 - 1; resultvalue := x", false,
         "  local x = 0\n  for i = 1, 1000000 do x = x + i * 2 - 1 end\n  result = x"},
        {"string building (20,000 appends)",
         "i := 0; s := ''; FOR i := 1 TO 20000 DO s := s + 'ab'; resultvalue := Length(s)", false,
         "  local s = ''\n  for i = 1, 20000 do s = s .. 'ab' end\n  result = #s"},
        {"while loop calling a built-in (200,000 passes)",
         "i := 0; n := 0; s := 'abc'; WHILE i < 200000 DO BEGIN i := i + 1; n := n + Length(s) END;"
         "resultvalue := n",
         false,
         "  local i, n, s = 0, 0, 'abc'\n  while i < 200000 do i = i + 1; n = n + string.len(s) end\n"
         "  result = n"},
        {"nested procedure calls (100,000 x 3 calls)",
         "FUNCTION G(N); RESULT := N * 2;"
         "FUNCTION F(N); RESULT := G(N) + G(N + 1);"
         "PROCEDURE LOOP(R); BEGIN i := 0; x := 0; FOR i := 1 TO 100000 DO x := x + F(i); R := x END;"
         "USES LOOP(RESULTVALUE)",
         true,
         "  local function g(n) return n * 2 end\n"
         "  local function f(n) return g(n) + g(n + 1) end\n"
         "  local x = 0\n  for i = 1, 100000 do x = x + f(i) end\n  result = x"},
    };
    std::printf("%-48s %12s %12s %8s   results (ours / Lua)\n", "program", "ours (ms)", "Lua (ms)", "ratio");
    for (const Program& p : programs) {
        std::string ours, theirs;
        double a = timeOurs(p, ours);
        double b = timeLua(p, lua, theirs);
        if (b > 0)
            std::printf("%-48s %12.2f %12.2f %7.1fx   %s / %s\n", p.name, a * 1e3, b * 1e3, a / b, ours.c_str(),
                        theirs.c_str());
        else
            std::printf("%-48s %12.2f %12s %8s   %s\n", p.name, a * 1e3, "n/a", "-", ours.c_str());
    }
    {
        std::string ours, theirs;
        const double a = timeDotted(ours);
        const double b = timeLua(Program{"", "", false, kDottedLua}, lua, theirs);
        const char* name = "dotted element reads (100,000 x 2 reads)";
        if (a < 0)
            std::printf("%-48s %12s\n", name, "failed");
        else if (b > 0)
            std::printf("%-48s %12.2f %12.2f %7.1fx   %s / %s (Lua: nested tables)\n", name, a * 1e3, b * 1e3,
                        a / b, ours.c_str(), theirs.c_str());
        else
            std::printf("%-48s %12.2f %12s %8s   %s\n", name, a * 1e3, "n/a", "-", ours.c_str());
    }
    return 0;
}
