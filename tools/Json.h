// A small JSON reader and string writer for nbtool's game files. The reader
// keeps the line and column where every value and object key starts, so that
// errors in a hand-edited game can point at the spot. Object members stay in
// document order, repeated keys included (the caller decides whether a
// repeat is an error). Number literals are kept as written, so integers of
// any size and reals convert without loss where the caller knows the type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nb::json {

struct Position {
    int line = 1;
    int column = 1;  // counted in characters, the first being 1
};

struct Member;

struct Value {
    enum class Type : uint8_t { Null, Boolean, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    std::string text;             // String: decoded UTF-8; Number: the literal
    std::vector<Value> items;     // Array
    std::vector<Member> members;  // Object
    Position pos;

    // A number literal without fraction or exponent.
    bool isIntegerLiteral() const;
    // "null", "a Boolean", "a number", "a string", "an array", "an object".
    const char* typeName() const;
};

struct Member {
    std::string key;
    Position pos;
    Value value;
};

struct ParseError {
    Position pos;
    std::string message;
};

// Nesting deeper than this is refused rather than risking the stack.
constexpr int kMaxDepth = 600;

bool Parse(std::string_view text, Value& out, ParseError& error);

// Appends `s` (UTF-8) as a quoted JSON string; control characters (C0 and
// C1) are written as \u escapes, everything else as it is.
void AppendString(std::string& out, std::string_view s);

}  // namespace nb::json
