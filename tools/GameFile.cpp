#include "tools/GameFile.h"

#include <cstring>
#include <stdexcept>

#include "platform/ByteIO.h"

namespace nb {

namespace {

const std::vector<std::string>* enumNames(const TPropInfo& p) {
    if (p.type == TPropType::PosHor) return &PosHorNames();
    if (p.type == TPropType::PosVert) return &PosVertNames();
    return nullptr;
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string r;
    for (const std::string& n : names) r += (r.empty() ? "" : ", ") + n;
    return r;
}

bool fitsStoredInteger(int64_t v) { return v >= int64_t(INT32_MIN) && v <= int64_t(UINT32_MAX); }

uint64_t realBits(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    return u;
}

// Writes the value of `prop` (after CheckGameValue passed).
void encodeValue(const TPropInfo& prop, const GameValue& v, ByteWriter& w) {
    switch (prop.kind) {
        case TPropKind::Integer:
        case TPropKind::Enumeration: {
            int64_t n = v.integer;
            if (v.kind == GameValue::Kind::String) {
                const std::vector<std::string>& names = *enumNames(prop);
                for (size_t k = 0; k < names.size(); ++k)
                    if (names[k] == v.text) n = int64_t(k);
            }
            w.u32(uint32_t(n));
            break;
        }
        case TPropKind::Real: w.f64(v.kind == GameValue::Kind::Real ? v.real : double(v.integer)); break;
        case TPropKind::String: w.str32(v.text); break;
    }
}

void encodeDefault(const TPropInfo& prop, ByteWriter& w) {
    switch (prop.kind) {
        case TPropKind::Integer:
        case TPropKind::Enumeration: w.u32(uint32_t(prop.intDefault)); break;
        case TPropKind::Real: w.f64(prop.realDefault); break;
        case TPropKind::String: w.str32(prop.strDefault ? prop.strDefault : ""); break;
    }
}

std::string describe(const std::string& path, const GameNode& n) {
    return path + " (" + (n.cls.empty() ? std::string("record") : n.cls) + ")";
}

bool writeRecord(const GameNode& node, ByteWriter& w, const std::string& path, int depth, std::string& error) {
    if (node.raw) {
        if (!node.props.empty() || !node.children.empty() || node.count) {
            error = describe(path, node) + ": a raw record cannot also have properties, children or a count";
            return false;
        }
        w.bytes(node.raw->data(), node.raw->size());
        return true;
    }
    if (depth > kMaxGameDepth) {
        error = describe(path, node) + ": records nest too deep";
        return false;
    }
    const TClassInfo* cls = FindClass(node.cls);
    if (!cls) {
        error = describe(path, node) + ": unknown class \"" + node.cls + "\"";
        return false;
    }
    const int p = int(cls->props.size());
    const int32_t c = node.count.value_or(p);
    const int n = c < 0 ? 0 : (c > p ? p : int(c));

    std::vector<const GameValue*> values(size_t(p), nullptr);
    for (const auto& [name, value] : node.props) {
        int k = cls->PropIndex(name);
        if (k < 0) {
            error = describe(path, node) + ": " + UnknownPropertyMessage(*cls, name);
            return false;
        }
        if (values[size_t(k)]) {
            error = describe(path, node) + ": property \"" + name + "\" is given twice";
            return false;
        }
        if (k >= n) {
            error = describe(path, node) + ": property \"" + name + "\" lies beyond the record's count of " +
                    std::to_string(c) + " values";
            return false;
        }
        std::string why;
        if (!CheckGameValue(cls->props[size_t(k)], value, why)) {
            error = describe(path, node) + ": property \"" + name + "\": " + why;
            return false;
        }
        values[size_t(k)] = &value;
    }

    w.str32(cls->name);
    w.i32(c);
    for (int k = 0; k < n; ++k) {
        if (values[size_t(k)])
            encodeValue(cls->props[size_t(k)], *values[size_t(k)], w);
        else
            encodeDefault(cls->props[size_t(k)], w);
    }
    for (size_t i = 0; i < node.children.size(); ++i) {
        size_t at = w.size();
        w.i32(0);
        if (!writeRecord(node.children[i], w, path + "/" + std::to_string(i), depth + 1, error)) return false;
        size_t len = w.size() - at - 4;
        if (len > size_t(INT32_MAX)) {
            error = describe(path, node) + ": record too large";
            return false;
        }
        w.patchI32(at, int32_t(len));
    }
    return true;
}

GameNode rawNode(const uint8_t* data, size_t size, std::string cls) {
    GameNode n(std::move(cls));
    n.raw = std::vector<uint8_t>(data, data + size);
    return n;
}

GameValue decodedInteger(const TPropInfo& prop, int32_t s) {
    if (prop.kind == TPropKind::Enumeration) {
        const std::vector<std::string>* names = enumNames(prop);
        if (names && s >= 0 && size_t(s) < names->size()) return GameValue((*names)[size_t(s)]);
        return GameValue(s);
    }
    if (prop.type == TPropType::Boolean && (s == 0 || s == 1)) return GameValue(s == 1);
    if (prop.type == TPropType::Cardinal) return GameValue(uint32_t(s));
    return GameValue(s);
}

// Parses one record filling all of [data, data + size); anything that does
// not parse cleanly is kept raw so that writing it back gives the same bytes.
GameNode readRecord(const uint8_t* data, size_t size, int depth) {
    ByteReader in(data, size);
    std::string name;
    if (!in.str32(name)) return rawNode(data, size, "");
    const TClassInfo* cls = FindClass(name);
    if (!cls || depth > kMaxGameDepth) return rawNode(data, size, name);

    GameNode node(name);
    int32_t c = 0;
    if (!in.i32(c)) return rawNode(data, size, name);
    const int p = int(cls->props.size());
    const int n = c < 0 ? 0 : (c > p ? p : int(c));
    if (c != p) node.count = c;
    for (int k = 0; k < n; ++k) {
        const TPropInfo& prop = cls->props[size_t(k)];
        switch (prop.kind) {
            case TPropKind::Integer:
            case TPropKind::Enumeration: {
                int32_t s;
                if (!in.i32(s)) return rawNode(data, size, name);
                node.props.emplace_back(prop.name, decodedInteger(prop, s));
                break;
            }
            case TPropKind::Real: {
                double d;
                if (!in.f64(d)) return rawNode(data, size, name);
                node.props.emplace_back(prop.name, GameValue(d));
                break;
            }
            case TPropKind::String: {
                std::string s;
                if (!in.str32(s)) return rawNode(data, size, name);
                node.props.emplace_back(prop.name, GameValue(std::move(s)));
                break;
            }
        }
    }
    while (!in.atEnd()) {
        int32_t len;
        if (!in.i32(len) || len < 0 || size_t(len) > in.remaining()) return rawNode(data, size, name);
        node.children.push_back(readRecord(in.cursor(), size_t(len), depth + 1));
        in.skip(size_t(len));
    }
    return node;
}

}  // namespace

std::string UnknownPropertyMessage(const TClassInfo& cls, std::string_view name) {
    std::string m = "unknown property \"" + std::string(name) + "\" in " + cls.name;
    int near = cls.PropIndexUpper(name);
    if (near >= 0) m += std::string(" (did you mean \"") + cls.props[size_t(near)].name + "\"?)";
    return m;
}

bool GameValue::operator==(const GameValue& o) const {
    if (kind != o.kind) return false;
    switch (kind) {
        case Kind::Integer:
        case Kind::Boolean: return integer == o.integer;
        case Kind::Real: return realBits(real) == realBits(o.real);
        case Kind::String: return text == o.text;
    }
    return false;
}

GameNode& GameNode::set(std::string_view name, GameValue value) {
    for (auto& [n, v] : props)
        if (n == name) {
            v = std::move(value);
            return *this;
        }
    props.emplace_back(std::string(name), std::move(value));
    return *this;
}

GameNode& GameNode::add(GameNode child) {
    children.push_back(std::move(child));
    return *this;
}

const GameValue* GameNode::get(std::string_view name) const {
    for (const auto& [n, v] : props)
        if (n == name) return &v;
    return nullptr;
}

bool CheckGameValue(const TPropInfo& prop, const GameValue& v, std::string& error) {
    using K = GameValue::Kind;
    switch (prop.kind) {
        case TPropKind::Integer:
            if (v.kind == K::Boolean) {
                if (prop.type == TPropType::Boolean) return true;
                error = "expected an integer, not a Boolean";
                return false;
            }
            if (v.kind != K::Integer) {
                error = prop.type == TPropType::Boolean ? "expected true, false or an integer" : "expected an integer";
                return false;
            }
            break;
        case TPropKind::Enumeration: {
            const std::vector<std::string>* names = enumNames(prop);
            if (v.kind == K::String && names) {
                for (const std::string& n : *names)
                    if (n == v.text) return true;
                error = "unknown value \"" + v.text + "\" (expected one of " + joinNames(*names) + ")";
                return false;
            }
            if (v.kind != K::Integer) {
                error = "expected a value name or an integer";
                return false;
            }
            break;
        }
        case TPropKind::Real:
            if (v.kind == K::Real || v.kind == K::Integer) return true;
            error = "expected a number";
            return false;
        case TPropKind::String:
            if (v.kind == K::String) return true;
            error = "expected a string";
            return false;
    }
    if (!fitsStoredInteger(v.integer)) {
        error = "the integer " + std::to_string(v.integer) + " does not fit in 32 bits";
        return false;
    }
    return true;
}

bool WriteGame(const GameNode& root, std::vector<uint8_t>& out, std::string& error) {
    ByteWriter w;
    if (!writeRecord(root, w, "root", 0, error)) return false;
    out = std::move(w.buffer());
    return true;
}

std::vector<uint8_t> WriteGame(const GameNode& root) {
    std::vector<uint8_t> out;
    std::string error;
    if (!WriteGame(root, out, error)) throw std::invalid_argument(error);
    return out;
}

GameNode ReadGame(const std::vector<uint8_t>& bytes) { return readRecord(bytes.data(), bytes.size(), 0); }

}  // namespace nb
