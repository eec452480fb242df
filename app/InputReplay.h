// Scripted input for tests and demos (--input FILE): one event a line,
//   TICK move X Y | TICK down X Y | TICK up X Y |
//   TICK key CODE [alt] [shift] [ctrl] | TICK char CODE
// Events of tick T are delivered in file order just before process tick T.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nb {

struct ReplayEvent {
    enum class Type : uint8_t { Move, Down, Up, Key, Char };
    int64_t tick = 0;
    Type type = Type::Move;
    int x = 0, y = 0;  // Move, Down, Up
    int code = 0;      // Key: virtual-key code; Char: character code
    bool alt = false, shift = false, ctrl = false;
};

class InputReplay {
public:
    // Parses the text; on a malformed line answers false with "line N: ...".
    bool Parse(std::string_view text, std::string& error);
    bool Load(const std::string& path, std::string& error);

    // Events of `tick` and of earlier ticks not yet taken, in file order.
    std::vector<ReplayEvent> TakeEventsFor(int64_t tick);
    bool Empty() const { return next_ >= events_.size(); }
    size_t Count() const { return events_.size(); }

private:
    std::vector<ReplayEvent> events_;  // stable-sorted by tick
    size_t next_ = 0;
};

}  // namespace nb
