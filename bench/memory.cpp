// Peak memory of the player on the bundled sample game: the real player
// binary runs headless and fast through the logos, the menu, Play (the
// loading screen and the second screen), Back and the menu again; the peak
// resident set of the process is what the kernel reports at its end.
//
//   bench_memory [runs]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace {

// Runs the player once; answers its peak resident set in KiB, or -1.
long runOnce(const std::string& player, const std::string& game, const std::string& input) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execl(player.c_str(), player.c_str(), "--headless", "--fast", "--seed", "7", "--max-ticks", "700",
                "--input", input.c_str(), game.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;  // KiB on Linux
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string player = std::string(NB_BINARY_DIR) + "/nbplayer";
    const std::string game = std::string(NB_BINARY_DIR) + "/games/sample/sample.nbf";
    char tmpl[] = "/tmp/nb-bench-memory-XXXXXX";
    const int fd = ::mkstemp(tmpl);
    if (fd < 0) return 1;
    ::close(fd);
    // The menu shows from tick 203; Play, then Back on the second screen,
    // then the menu stays up to the end.
    const std::string script =
        "214 move 512 250\n215 down 512 250\n216 up 512 250\n"
        "400 move 512 680\n401 down 512 680\n402 up 512 680\n";
    if (!nb::fs::writeFile(tmpl, script.data(), script.size())) return 1;
    std::vector<long> peaks;
    for (int i = 0; i < runs; ++i) {
        const long kb = runOnce(player, game, tmpl);
        if (kb < 0) {
            std::fprintf(stderr, "the player did not run to its end: %s %s\n", player.c_str(), game.c_str());
            std::remove(tmpl);
            return 1;
        }
        peaks.push_back(kb);
    }
    std::remove(tmpl);
    std::sort(peaks.begin(), peaks.end());
    std::printf("sample game, logos -> menu -> second screen -> menu (700 ticks), %d runs\n", runs);
    std::printf("peak resident set: median %.1f MB (min %.1f, max %.1f)\n", double(peaks[peaks.size() / 2]) / 1024.0,
                double(peaks.front()) / 1024.0, double(peaks.back()) / 1024.0);
    return 0;
}
