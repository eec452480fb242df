// Helpers for end-to-end tests: a scratch game folder, game files written
// with the nbtool library, and running the real player.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tools/GameFile.h"

namespace nbtest {

// A fresh folder under /tmp, removed when the object goes away.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/nbplayer-test-XXXXXX";
        const char* d = ::mkdtemp(tmpl);
        path_ = d ? std::string(d) + "/" : std::string("/tmp/");
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }
    bool write(const std::string& name, const std::string& text) const {
        return nb::fs::writeFile(path_ + name, text.data(), text.size());
    }
    std::string read(const std::string& name) const {
        auto t = nb::fs::readFileString(path_ + name);
        return t ? *t : std::string();
    }
    bool writeGame(const std::string& name, const nb::GameNode& game) const {
        std::vector<uint8_t> bytes = nb::WriteGame(game);
        return nb::fs::writeFile(path_ + name, bytes.data(), bytes.size());
    }

private:
    std::string path_;
};

// Runs the player binary with arguments; answers its exit status (-1 when it
// could not run). stdout and stderr go to `log`.
inline int RunPlayer(const std::string& args, const std::string& log = "/dev/null") {
    std::string cmd = std::string(NB_BINARY_DIR) + "/nbplayer " + args + " >" + log + " 2>&1";
    int rc = std::system(cmd.c_str());
    if (rc == -1 || !WIFEXITED(rc)) return -1;
    return WEXITSTATUS(rc);
}

}  // namespace nbtest
