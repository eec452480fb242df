#include "app/CommandLine.h"

#include <charconv>
#include <cstring>

#include "platform/Text.h"

namespace nb {

namespace {

bool parseInt(const std::string& s, int64_t& out) {
    if (s.empty()) return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, PlayerOptions& out, std::string& error) {
    out = PlayerOptions{};
    // The authoring tool starts the player with "/TESTMODE" as its first
    // argument to keep it windowed.
    int first = 1;
    if (argc > 1 && asciiUpper(argv[1]) == "/TESTMODE") {
        out.testMode = true;
        out.windowed = true;
        first = 2;
    }
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& v) -> bool {
            size_t eq = a.find('=');
            if (eq != std::string::npos && a.rfind("--", 0) == 0) {
                v = a.substr(eq + 1);
                a = a.substr(0, eq);
                return true;
            }
            if (i + 1 >= argc) {
                error = "option " + a + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        std::string key = a.substr(0, a.find('='));
        // Switches take no value: "--fast=0" would otherwise turn fast mode on.
        if (key != a && (key == "--help" || key == "-h" || key == "--version" || key == "--headless" ||
                         key == "--fast" || key == "--windowed")) {
            error = "option " + key + " takes no value, got '" + a + "'";
            return false;
        }
        if (key == "--help" || key == "-h") {
            out.showHelp = true;
        } else if (key == "--version") {
            out.showVersion = true;
        } else if (key == "--headless") {
            out.headless = true;
        } else if (key == "--fast") {
            out.fast = true;
        } else if (key == "--windowed") {
            out.windowed = true;
        } else if (asciiUpper(a) == "/TESTMODE") {
            out.testMode = true;
            out.windowed = true;
        } else if (key == "--max-ticks") {
            std::string v;
            int64_t n;
            if (!value(v)) return false;
            if (!parseInt(v, n) || n < 0) {
                error = "--max-ticks needs a whole number of ticks, got '" + v + "'";
                return false;
            }
            out.maxTicks = n;
        } else if (key == "--seed") {
            std::string v;
            int64_t n;
            if (!value(v)) return false;
            if (!parseInt(v, n) || n < 0 || n > int64_t(UINT32_MAX)) {
                error = "--seed needs a number from 0 to 4294967295, got '" + v + "'";
                return false;
            }
            out.seed = uint32_t(n);
        } else if (key == "--input") {
            if (!value(out.inputFile)) return false;
        } else if (key == "--screenshot") {
            std::string v;
            if (!value(v)) return false;
            // TICK:FILE takes the frame after that tick; a bare FILE (also one
            // whose text before a colon is not a tick) the frame at the end.
            size_t colon = v.find(':');
            int64_t t;
            if (colon != std::string::npos && parseInt(v.substr(0, colon), t)) {
                if (t < 0 || colon + 1 >= v.size()) {
                    error = "--screenshot needs FILE.png or TICK:FILE.png, got '" + v + "'";
                    return false;
                }
                out.screenshots.push_back({t, v.substr(colon + 1)});
            } else if (v.empty()) {
                error = "--screenshot needs FILE.png or TICK:FILE.png, got ''";
                return false;
            } else {
                out.screenshots.push_back({ScreenshotRequest::kAtEnd, v});
            }
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + a + "' (see --help)";
            return false;
        } else {
            if (!out.gamePath.empty()) {
                error = "more than one game file given: '" + out.gamePath + "' and '" + a + "'";
                return false;
            }
            out.gamePath = a;
        }
    }
    return true;
}

std::string HelpText() {
    return R"(Usage: nbplayer [options] [GAME.nbf]

Plays a point-and-click game: the game file and its companion files (settings,
languages, sound table, resource archive, pictures, sounds) are read from the
game file's folder. A GAME.nbf given here must exist (otherwise the player
stops with status 2). Without GAME.nbf the player looks beside its executable for
a game file named like the executable, then for the first *.nbf there, then for
[Main] Path in NBMaker.ini in the configuration folder ($XDG_CONFIG_HOME or
~/.config). With no game at all it shows the logo phase and a black screen.

Options:
  --headless            no window, no display server, no audio device; the game
                        runs and renders as usual (pictures can be saved with
                        --screenshot)
  --fast                no real-time pacing: every frame runs exactly one
                        process tick (30 ticks are one second of game time)
  --max-ticks N         after N process ticks close as a user closing the
                        window would (the game's exit hook runs); exit status 0;
                        with 0 no tick runs at all
  --seed N              seed of the random generator (default: the clock)
  --input FILE          replay input, one event a line:
                          TICK move X Y
                          TICK down X Y
                          TICK up X Y
                          TICK key CODE [alt] [shift] [ctrl]
                          TICK char CODE
                        events of tick T are delivered in file order just
                        before process tick T runs (the first tick is 1);
                        coordinates are logical pixels of the 1024 x 768
                        screen; CODE is a Windows virtual-key code (key) or a
                        Windows-1251 character code (char); a key event only
                        reaches the game's key hook, typing (backspace
                        included) takes char events; lines starting with #
                        are comments
  --screenshot FILE.png save as PNG the 1024 x 768 frame that shows the state
                        at the end of the run (after the last process tick,
                        before the exit hook runs)
  --screenshot TICK:FILE.png
                        save the 1024 x 768 frame drawn right after process
                        tick TICK (0: the first frame, before any tick; both
                        forms repeatable; a frame that is never reached is
                        reported and the exit status is 1)
  --windowed, /TESTMODE stay in a window (never switch to full screen)
  --help                show this text
  --version             show the version

Keys while playing: Alt+Enter switches between window and full screen.
Script errors are appended to nimbel.err in the game folder.

Exit status: 0 when the game closed (by the window, ExitGame or --max-ticks),
1 when start-up failed or a screenshot was not saved, 2 for wrong usage (a bad
option, a missing game file or an unreadable --input file).
)";
}

std::string VersionText() { return "nbplayer 0.1.0\n"; }

}  // namespace nb
