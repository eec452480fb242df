// The player's command line: `nbplayer [options] [GAME.nbf]`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nb {

struct ScreenshotRequest {
    static constexpr int64_t kAtEnd = -1;  // the frame at the end of the run
    int64_t tick = 0;
    std::string path;
};

struct PlayerOptions {
    bool headless = false;
    bool fast = false;
    bool windowed = false;   // --windowed or /TESTMODE: never full screen
    bool testMode = false;   // /TESTMODE as the first argument
    int64_t maxTicks = -1;   // -1: run until closed
    std::optional<uint32_t> seed;
    std::string inputFile;
    std::vector<ScreenshotRequest> screenshots;
    std::string gamePath;    // empty: look for the game beside the executable
    bool showHelp = false;
    bool showVersion = false;
};

// Parses argv. On an error answers false with a one-line message in `error`.
bool ParseCommandLine(int argc, const char* const* argv, PlayerOptions& out, std::string& error);

// The text `--help` prints.
std::string HelpText();
std::string VersionText();

}  // namespace nb
