// Game files (.nbf) as a tree of records, for writing games from code or
// JSON and for reading them back.
//
// A record stores its class name, a value count C and C property values in
// the class's fixed property order (the class registry), then its children
// as length-prefixed records. The writer fills properties a node leaves out
// with the class's construction defaults and writes exactly as many values
// as the class has properties, unless the node says otherwise in `count`.
//
// Building a small game:
//
//   GameNode game = GameNode("TNBDB").set("InitScreen", 2).add(
//       GameNode("TNBScreen").set("Key", 2).set("exInit", "x := 1").add(
//           GameNode("TNBImage").set("Key", 3).set("imImage", "a.png")));
//   std::vector<uint8_t> nbf = WriteGame(game);
//
// Strings in a GameNode are game text: Windows-1251 bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scene/registry/ClassTable.h"

namespace nb {

struct GameValue {
    enum class Kind : uint8_t { Integer, Boolean, Real, String };
    Kind kind = Kind::Integer;
    int64_t integer = 0;  // Integer; Boolean as 0 or 1
    double real = 0;
    std::string text;  // String: Windows-1251 bytes, or an enumeration name

    GameValue() = default;
    GameValue(bool v) : kind(Kind::Boolean), integer(v ? 1 : 0) {}
    GameValue(int v) : integer(v) {}
    GameValue(unsigned v) : integer(v) {}
    GameValue(long v) : integer(v) {}
    GameValue(unsigned long v) : integer(int64_t(v)) {}
    GameValue(long long v) : integer(v) {}
    GameValue(unsigned long long v) : integer(int64_t(v)) {}
    GameValue(double v) : kind(Kind::Real), real(v) {}
    GameValue(const char* v) : kind(Kind::String), text(v) {}
    GameValue(std::string v) : kind(Kind::String), text(std::move(v)) {}
    GameValue(std::string_view v) : kind(Kind::String), text(v) {}

    bool operator==(const GameValue& o) const;
};

struct GameNode {
    std::string cls;  // class name, exact case ("TNBScreen")
    std::vector<std::pair<std::string, GameValue>> props;
    std::vector<GameNode> children;
    // The record's value count when it is not the class's property count:
    // game files may hold records with fewer values (the rest keep their
    // defaults), and keeping C makes a read game write back byte for byte.
    std::optional<int32_t> count;
    // A record kept byte for byte: its class is not registered, or its
    // bytes do not parse. `cls` then only tells what the record said.
    std::optional<std::vector<uint8_t>> raw;

    GameNode() = default;
    explicit GameNode(std::string className) : cls(std::move(className)) {}

    // Sets a property, replacing an earlier value of the same name.
    GameNode& set(std::string_view name, GameValue value);
    GameNode& add(GameNode child);
    const GameValue* get(std::string_view name) const;
};

// Records nest at most this deep; deeper records are kept raw by ReadGame and
// refused by the writer.
constexpr int kMaxGameDepth = 200;

// Checks a value against a property: the kinds that may be written to it and
// the ranges (integers are stored as 32 bits, signed or unsigned).
bool CheckGameValue(const TPropInfo& prop, const GameValue& value, std::string& error);

// "unknown property "key" in TNBScreen (did you mean "Key"?)".
std::string UnknownPropertyMessage(const TClassInfo& cls, std::string_view name);

// Serialises the tree; false with a message naming the record and property
// at fault (unknown class or property, a property given twice, a value of
// the wrong kind or out of range, a property beyond `count`).
bool WriteGame(const GameNode& root, std::vector<uint8_t>& out, std::string& error);
// The same; throws std::invalid_argument with the message.
std::vector<uint8_t> WriteGame(const GameNode& root);

// Reads a game file into a tree that WriteGame turns back into the same
// bytes. Never fails: what does not parse is kept raw. Values come typed by
// their properties: Booleans stored as 0 or 1 as Boolean, enumerations in
// range by name, unsigned words as unsigned integers.
GameNode ReadGame(const std::vector<uint8_t>& bytes);

}  // namespace nb
