// Game trees as JSON, for reading and editing games as text.
//
// A record is an object:
//   {"class": "TNBScreen", "props": {"Key": 2, "Vis": true, ...}, "children": [...]}
// with "count": C added when the record holds C values instead of one per
// property, and, for a record kept byte for byte (unknown class or damaged
// bytes), {"class": NAME, "raw": "hex bytes"} instead. Integers are JSON
// numbers, Booleans true/false, enumerations their names ("phCenter"), reals
// numbers in the shortest form that reads back to the same double (values
// that are not finite as the string "0x" + 16 hex digits of their bits),
// strings UTF-8 (converted from and to Windows-1251).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/GameFile.h"

namespace nb {

// Every property of every record, in class order, pretty-printed.
std::string GameToJson(const GameNode& root);

struct GameJsonIssue {
    int line = 0;
    int column = 0;
    std::string message;
};

// Parses and checks a JSON game. Errors (stops at the first): malformed JSON,
// unknown class, record key or property, a property given twice, a value of
// the wrong type or out of range, text that Windows-1251 cannot hold.
// Warnings: records the player would skip (a class not allowed under its
// parent).
bool GameFromJson(std::string_view text, GameNode& out, GameJsonIssue& error,
                  std::vector<GameJsonIssue>& warnings);

}  // namespace nb
