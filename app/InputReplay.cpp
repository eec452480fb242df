#include "app/InputReplay.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "platform/FileSystem.h"

namespace nb {

namespace {

bool toInt(const std::string& s, int64_t& out) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

bool InputReplay::Parse(std::string_view text, std::string& error) {
    events_.clear();
    next_ = 0;
    std::istringstream in{std::string(text)};
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream ls(line);
        std::vector<std::string> w;
        for (std::string t; ls >> t;) w.push_back(t);
        if (w.empty() || w[0][0] == '#') continue;
        auto bad = [&](const std::string& why) {
            error = "line " + std::to_string(lineNo) + ": " + why + ": '" + line + "'";
            return false;
        };
        ReplayEvent e;
        if (w.size() < 2 || !toInt(w[0], e.tick) || e.tick < 0) return bad("expected TICK EVENT ...");
        const std::string& kind = w[1];
        int64_t a = 0, b = 0;
        if (kind == "move" || kind == "down" || kind == "up") {
            if (w.size() != 4 || !toInt(w[2], a) || !toInt(w[3], b)) return bad("expected TICK " + kind + " X Y");
            e.type = kind == "move" ? ReplayEvent::Type::Move
                     : kind == "down" ? ReplayEvent::Type::Down
                                      : ReplayEvent::Type::Up;
            e.x = int(std::clamp<int64_t>(a, -100000, 100000));
            e.y = int(std::clamp<int64_t>(b, -100000, 100000));
        } else if (kind == "key") {
            if (w.size() < 3 || !toInt(w[2], a) || a < 0 || a > 65535) return bad("expected TICK key CODE [alt] [shift] [ctrl]");
            e.type = ReplayEvent::Type::Key;
            e.code = int(a);
            for (size_t i = 3; i < w.size(); ++i) {
                if (w[i] == "alt") e.alt = true;
                else if (w[i] == "shift") e.shift = true;
                else if (w[i] == "ctrl") e.ctrl = true;
                else return bad("unknown modifier '" + w[i] + "'");
            }
        } else if (kind == "char") {
            if (w.size() != 3 || !toInt(w[2], a) || a < 0 || a > 255) return bad("expected TICK char CODE (0-255)");
            e.type = ReplayEvent::Type::Char;
            e.code = int(a);
        } else {
            return bad("unknown event '" + kind + "'");
        }
        events_.push_back(e);
    }
    std::stable_sort(events_.begin(), events_.end(),
                     [](const ReplayEvent& x, const ReplayEvent& y) { return x.tick < y.tick; });
    return true;
}

bool InputReplay::Load(const std::string& path, std::string& error) {
    auto text = fs::readFileString(path);
    if (!text) {
        error = "cannot read input file '" + path + "'";
        return false;
    }
    return Parse(*text, error);
}

std::vector<ReplayEvent> InputReplay::TakeEventsFor(int64_t tick) {
    std::vector<ReplayEvent> out;
    // Events of earlier ticks (tick 0, or ticks that ran before the timer
    // started) are delivered with the first tick that runs.
    while (next_ < events_.size() && events_[next_].tick <= tick) out.push_back(events_[next_++]);
    return out;
}

}  // namespace nb
