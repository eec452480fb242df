#include "tools/Json.h"

#include <cstdio>

#include "platform/Text.h"

namespace nb::json {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {
        // A UTF-8 byte order mark is tolerated.
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") i_ = 3;
    }

    bool document(Value& out) {
        skipSpace();
        if (!value(out, 0)) return false;
        skipSpace();
        if (i_ < s_.size()) return fail("unexpected text after the end of the document");
        return true;
    }

    ParseError error;

private:
    bool fail(std::string message) {
        error.pos = here();
        error.message = std::move(message);
        return false;
    }
    Position here() const { return pos_; }
    bool atEnd() const { return i_ >= s_.size(); }
    char peek() const { return atEnd() ? '\0' : s_[i_]; }

    // Moves one byte on, keeping line and column (continuation bytes of a
    // UTF-8 sequence do not start a new column).
    void advance() {
        unsigned char c = static_cast<unsigned char>(s_[i_++]);
        if (c == '\n') {
            ++pos_.line;
            pos_.column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++pos_.column;
        }
    }

    void skipSpace() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) advance();
    }

    bool literal(std::string_view word) {
        if (s_.substr(i_, word.size()) != word) return fail("unexpected character");
        for (size_t k = 0; k < word.size(); ++k) advance();
        return true;
    }

    bool value(Value& v, int depth) {
        if (depth > kMaxDepth) return fail("nesting is too deep");
        v.pos = here();
        if (atEnd()) return fail("unexpected end of the document");
        switch (peek()) {
            case '{': return object(v, depth);
            case '[': return array(v, depth);
            case '"': v.type = Value::Type::String; return string(v.text);
            case 't': v.type = Value::Type::Boolean; v.boolean = true; return literal("true");
            case 'f': v.type = Value::Type::Boolean; v.boolean = false; return literal("false");
            case 'n': v.type = Value::Type::Null; return literal("null");
            default:
                if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return number(v);
                return fail("unexpected character");
        }
    }

    bool object(Value& v, int depth) {
        v.type = Value::Type::Object;
        advance();
        skipSpace();
        if (peek() == '}') {
            advance();
            return true;
        }
        for (;;) {
            skipSpace();
            Member m;
            m.pos = here();
            if (peek() != '"') return fail("expected a quoted key");
            if (!string(m.key)) return false;
            skipSpace();
            if (peek() != ':') return fail("expected ':' after the key");
            advance();
            skipSpace();
            if (!value(m.value, depth + 1)) return false;
            v.members.push_back(std::move(m));
            skipSpace();
            if (peek() == ',') {
                advance();
                continue;
            }
            if (peek() == '}') {
                advance();
                return true;
            }
            return fail("expected ',' or '}'");
        }
    }

    bool array(Value& v, int depth) {
        v.type = Value::Type::Array;
        advance();
        skipSpace();
        if (peek() == ']') {
            advance();
            return true;
        }
        for (;;) {
            skipSpace();
            Value item;
            if (!value(item, depth + 1)) return false;
            v.items.push_back(std::move(item));
            skipSpace();
            if (peek() == ',') {
                advance();
                continue;
            }
            if (peek() == ']') {
                advance();
                return true;
            }
            return fail("expected ',' or ']'");
        }
    }

    bool digits() {
        if (!(peek() >= '0' && peek() <= '9')) return fail("expected a digit");
        while (peek() >= '0' && peek() <= '9') advance();
        return true;
    }

    bool number(Value& v) {
        v.type = Value::Type::Number;
        size_t start = i_;
        if (peek() == '-') advance();
        if (peek() == '0') {
            advance();
        } else if (!digits()) {
            return false;
        }
        if (peek() == '.') {
            advance();
            if (!digits()) return false;
        }
        if (peek() == 'e' || peek() == 'E') {
            advance();
            if (peek() == '+' || peek() == '-') advance();
            if (!digits()) return false;
        }
        v.text.assign(s_.substr(start, i_ - start));
        return true;
    }

    bool hex4(uint32_t& cp) {
        cp = 0;
        for (int k = 0; k < 4; ++k) {
            char c = peek();
            int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
            if (d < 0) return fail("expected four hexadecimal digits after \\u");
            cp = cp * 16 + uint32_t(d);
            advance();
        }
        return true;
    }

    bool string(std::string& out) {
        advance();  // opening quote
        out.clear();
        for (;;) {
            if (atEnd()) return fail("unterminated string");
            unsigned char c = static_cast<unsigned char>(peek());
            if (c == '"') {
                advance();
                return true;
            }
            if (c < 0x20) return fail("control character inside a string (write it as an escape)");
            if (c != '\\') {
                out += char(c);
                advance();
                continue;
            }
            advance();
            char e = peek();
            if (atEnd()) return fail("unterminated string");
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    advance();
                    uint32_t cp;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("unpaired surrogate in \\u escape");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t lo;
                        if (peek() != '\\') return fail("unpaired surrogate in \\u escape");
                        advance();
                        if (peek() != 'u') return fail("unpaired surrogate in \\u escape");
                        advance();
                        if (!hex4(lo)) return false;
                        if (lo < 0xDC00 || lo > 0xDFFF) return fail("unpaired surrogate in \\u escape");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    }
                    appendUtf8(out, cp);
                    continue;
                }
                default: return fail("unknown escape in a string");
            }
            advance();
        }
    }

    std::string_view s_;
    size_t i_ = 0;
    Position pos_;
};

}  // namespace

bool Value::isIntegerLiteral() const {
    return type == Type::Number && text.find_first_of(".eE") == std::string::npos;
}

const char* Value::typeName() const {
    switch (type) {
        case Type::Null: return "null";
        case Type::Boolean: return "a Boolean";
        case Type::Number: return "a number";
        case Type::String: return "a string";
        case Type::Array: return "an array";
        case Type::Object: return "an object";
    }
    return "a value";
}

bool Parse(std::string_view text, Value& out, ParseError& error) {
    Parser p(text);
    out = Value();
    if (p.document(out)) return true;
    error = p.error;
    return false;
}

void AppendString(std::string& out, std::string_view s) {
    out += '"';
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char buf[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(s[i + 1]));
            out += buf;
            ++i;
        } else {
            out += char(c);
        }
    }
    out += '"';
}

}  // namespace nb::json
