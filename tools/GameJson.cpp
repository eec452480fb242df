#include "tools/GameJson.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"
#include "tools/Json.h"

namespace nb {

namespace {

// ---- writing ----------------------------------------------------------------

void indent(std::string& out, int level) { out.append(size_t(level) * 2, ' '); }

void appendGameString(std::string& out, std::string_view cp1251) { json::AppendString(out, cp1251ToUtf8(cp1251)); }

void appendReal(std::string& out, double d) {
    if (!std::isfinite(d)) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        char buf[24];
        std::snprintf(buf, sizeof buf, "\"0x%016llX\"", static_cast<unsigned long long>(bits));
        out += buf;
        return;
    }
    // The shortest text that reads back as the same double.
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    out.append(buf, r.ptr);
}

void appendValue(std::string& out, const GameValue& v) {
    switch (v.kind) {
        case GameValue::Kind::Integer: out += std::to_string(v.integer); break;
        case GameValue::Kind::Boolean: out += v.integer ? "true" : "false"; break;
        case GameValue::Kind::Real: appendReal(out, v.real); break;
        case GameValue::Kind::String: appendGameString(out, v.text); break;
    }
}

void appendHex(std::string& out, const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    out += '"';
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    out += '"';
}

void writeNode(const GameNode& n, std::string& out, int level) {
    out += "{\n";
    indent(out, level + 1);
    out += "\"class\": ";
    appendGameString(out, n.cls);
    if (n.raw) {
        out += ",\n";
        indent(out, level + 1);
        out += "\"raw\": ";
        appendHex(out, *n.raw);
    } else {
        if (n.count) {
            out += ",\n";
            indent(out, level + 1);
            out += "\"count\": " + std::to_string(*n.count);
        }
        out += ",\n";
        indent(out, level + 1);
        out += "\"props\": {";
        for (size_t i = 0; i < n.props.size(); ++i) {
            out += i ? ",\n" : "\n";
            indent(out, level + 2);
            json::AppendString(out, n.props[i].first);
            out += ": ";
            appendValue(out, n.props[i].second);
        }
        if (!n.props.empty()) {
            out += "\n";
            indent(out, level + 1);
        }
        out += "},\n";
        indent(out, level + 1);
        out += "\"children\": [";
        for (size_t i = 0; i < n.children.size(); ++i) {
            out += i ? ",\n" : "\n";
            indent(out, level + 2);
            writeNode(n.children[i], out, level + 2);
        }
        if (!n.children.empty()) {
            out += "\n";
            indent(out, level + 1);
        }
        out += "]";
    }
    out += "\n";
    indent(out, level);
    out += "}";
}

// ---- reading ----------------------------------------------------------------

class Converter {
public:
    GameJsonIssue error;
    std::vector<GameJsonIssue>* warnings = nullptr;

    bool node(const json::Value& v, const TClassInfo* parent, GameNode& out, int depth) {
        if (v.type != json::Value::Type::Object) return fail(v.pos, std::string("a record must be an object, not ") + v.typeName());
        if (depth > kMaxGameDepth) return fail(v.pos, "records nest too deep");

        const json::Member* cls = nullptr;
        const json::Member* count = nullptr;
        const json::Member* props = nullptr;
        const json::Member* children = nullptr;
        const json::Member* raw = nullptr;
        for (const json::Member& m : v.members) {
            const json::Member** slot = m.key == "class"      ? &cls
                                        : m.key == "count"    ? &count
                                        : m.key == "props"    ? &props
                                        : m.key == "children" ? &children
                                        : m.key == "raw"      ? &raw
                                                              : nullptr;
            if (!slot)
                return fail(m.pos, "unknown record key \"" + m.key +
                                       "\" (expected class, count, props, children or raw)");
            if (*slot) return fail(m.pos, "\"" + m.key + "\" is given twice (first on line " +
                                              std::to_string((*slot)->pos.line) + ")");
            *slot = &m;
        }

        if (cls && cls->value.type != json::Value::Type::String)
            return fail(cls->value.pos, std::string("\"class\" must be a string, not ") + cls->value.typeName());

        if (raw) {
            if (count || props || children)
                return fail(raw->pos, "a raw record cannot also have count, props or children");
            if (cls) out.cls = utf8ToCp1251(cls->value.text);
            std::vector<uint8_t> bytes;
            if (!hexBytes(raw->value, bytes)) return false;
            out.raw = std::move(bytes);
            return true;
        }

        if (!cls) return fail(v.pos, "a record needs a \"class\"");
        const TClassInfo* info = FindClass(cls->value.text);
        if (!info) {
            std::string m = "unknown class \"" + cls->value.text + "\"";
            for (const TClassInfo& c : ClassTable())
                if (iequalsAscii(c.name, cls->value.text)) m += " (did you mean \"" + c.name + "\"?)";
            return fail(cls->value.pos, m);
        }
        out.cls = info->name;
        if (!parent && info->name != "TNBDB")
            warn(cls->value.pos, "the player reads the top record as TNBDB, whatever its class");
        if (parent && !ParentAllows(*parent, info->name))
            warn(cls->value.pos, "the player skips a " + info->name + " under a " + parent->name +
                                     ", with everything inside it");

        const int p = int(info->props.size());
        int32_t c = p;
        if (count) {
            int64_t n = 0;
            if (!integer(count->value, n)) return false;
            if (n < INT32_MIN || n > INT32_MAX) return fail(count->value.pos, "\"count\" does not fit in 32 bits");
            c = int32_t(n);
            out.count = c;
        }

        if (props) {
            if (props->value.type != json::Value::Type::Object)
                return fail(props->value.pos, std::string("\"props\" must be an object, not ") + props->value.typeName());
            std::vector<const json::Member*> seen(size_t(p), nullptr);
            for (const json::Member& m : props->value.members) {
                int k = info->PropIndex(m.key);
                if (k < 0) return fail(m.pos, UnknownPropertyMessage(*info, m.key));
                if (seen[size_t(k)])
                    return fail(m.pos, "property \"" + m.key + "\" is given twice (first on line " +
                                           std::to_string(seen[size_t(k)]->pos.line) + ")");
                seen[size_t(k)] = &m;
                if (k >= c)
                    return fail(m.pos, "property \"" + m.key + "\" lies beyond the record's count of " +
                                           std::to_string(c) + " values");
                GameValue gv;
                if (!value(info->props[size_t(k)], m.value, gv)) return false;
                out.props.emplace_back(m.key, std::move(gv));
            }
        }

        if (children) {
            if (children->value.type != json::Value::Type::Array)
                return fail(children->value.pos,
                            std::string("\"children\" must be an array, not ") + children->value.typeName());
            for (const json::Value& item : children->value.items) {
                GameNode child;
                if (!node(item, info, child, depth + 1)) return false;
                out.children.push_back(std::move(child));
            }
        }
        return true;
    }

private:
    bool fail(json::Position at, std::string message) {
        error = {at.line, at.column, std::move(message)};
        return false;
    }
    void warn(json::Position at, std::string message) {
        if (warnings) warnings->push_back({at.line, at.column, std::move(message)});
    }

    bool integer(const json::Value& v, int64_t& n) {
        if (v.type != json::Value::Type::Number || !v.isIntegerLiteral())
            return fail(v.pos, std::string("expected an integer, not ") +
                                   (v.type == json::Value::Type::Number ? "a real number" : v.typeName()));
        auto r = std::from_chars(v.text.data(), v.text.data() + v.text.size(), n);
        if (r.ec != std::errc() || r.ptr != v.text.data() + v.text.size())
            return fail(v.pos, "the integer " + v.text + " is out of range");
        return true;
    }

    bool hexBytes(const json::Value& v, std::vector<uint8_t>& bytes) {
        if (v.type != json::Value::Type::String) return fail(v.pos, std::string("\"raw\" must be a hex string, not ") + v.typeName());
        auto digit = [](char ch) {
            return (ch >= '0' && ch <= '9') ? ch - '0' : (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10
                   : (ch >= 'A' && ch <= 'F') ? ch - 'A' + 10 : -1;
        };
        if (v.text.size() % 2) return fail(v.pos, "\"raw\" must have an even number of hex digits");
        for (size_t i = 0; i < v.text.size(); i += 2) {
            int hi = digit(v.text[i]), lo = digit(v.text[i + 1]);
            if (hi < 0 || lo < 0) return fail(v.pos, "\"raw\" may hold only hex digits");
            bytes.push_back(uint8_t(hi * 16 + lo));
        }
        return true;
    }

    // Converts the JSON value of property `prop` and checks it.
    bool value(const TPropInfo& prop, const json::Value& v, GameValue& out) {
        using T = json::Value::Type;
        switch (v.type) {
            case T::Boolean: out = GameValue(v.boolean); break;
            case T::Number:
                if (prop.kind == TPropKind::Real) {
                    double d = 0;
                    auto r = std::from_chars(v.text.data(), v.text.data() + v.text.size(), d);
                    if (r.ec != std::errc() || r.ptr != v.text.data() + v.text.size())
                        return fail(v.pos, "the number " + v.text + " is out of range");
                    out = GameValue(d);
                } else {
                    int64_t n = 0;
                    if (!integer(v, n)) return false;
                    out = GameValue(static_cast<long long>(n));
                }
                break;
            case T::String:
                if (prop.kind == TPropKind::Real) {
                    // Values that are not finite travel as their bit pattern.
                    uint64_t bits = 0;
                    auto r = std::from_chars(v.text.data() + std::min<size_t>(2, v.text.size()),
                                             v.text.data() + v.text.size(), bits, 16);
                    if (v.text.size() != 18 || v.text.compare(0, 2, "0x") != 0 || r.ec != std::errc() ||
                        r.ptr != v.text.data() + v.text.size())
                        return fail(v.pos, "expected a number (or \"0x\" and 16 hex digits of a double)");
                    double d;
                    std::memcpy(&d, &bits, 8);
                    out = GameValue(d);
                } else {
                    if (!utf8FitsCp1251(v.text))
                        return fail(v.pos, "the text holds characters that Windows-1251 cannot store");
                    out = GameValue(utf8ToCp1251(v.text));
                }
                break;
            default: return fail(v.pos, std::string("unexpected ") + v.typeName());
        }
        std::string why;
        if (!CheckGameValue(prop, out, why)) return fail(v.pos, "property \"" + std::string(prop.name) + "\": " + why);
        return true;
    }
};

}  // namespace

std::string GameToJson(const GameNode& root) {
    std::string out;
    writeNode(root, out, 0);
    out += "\n";
    return out;
}

bool GameFromJson(std::string_view text, GameNode& out, GameJsonIssue& error, std::vector<GameJsonIssue>& warnings) {
    json::Value doc;
    json::ParseError pe;
    if (!json::Parse(text, doc, pe)) {
        error = {pe.pos.line, pe.pos.column, pe.message};
        return false;
    }
    Converter c;
    c.warnings = &warnings;
    GameNode result;
    if (!c.node(doc, nullptr, result, 0)) {
        error = c.error;
        return false;
    }
    out = std::move(result);
    return true;
}

}  // namespace nb
