// Reading element records of the game file.
//
// A record: class name (ignored: the element exists already), C, then
// min(C, P) values in the class's property order, each written through its
// setter as soon as it is read, then child entries (a 32-bit length and that
// many bytes) up to the end of the record.
//
// The format has no checksum, so a damaged file is read as far as its lengths
// allow: a value, length or entry that would run past the end of its record
// ends that record; nothing outside the buffer is ever read and everything
// read so far stays in the tree.
#include "platform/ByteIO.h"
#include "scene/Element.h"

namespace nb {

namespace {

// Deeper entries than this are skipped with their subtrees, so an absurdly
// nested file cannot exhaust the stack.
constexpr int kMaxLoadDepth = 256;

struct DepthScope {
    int& d;
    explicit DepthScope(int& depth) : d(depth) { ++d; }
    ~DepthScope() { --d; }
};

}  // namespace

void TNBElement::LoadFromData(std::string_view record) {
    ByteReader r(record);
    std::string className;
    if (!r.str32(className)) return;
    int32_t c = 0;
    if (!r.i32(c)) return;

    const int p = PropCount();
    const int n = c <= 0 ? 0 : (c < p ? c : p);
    for (int k = 0; k < n; ++k) {
        switch (info_->props[size_t(k)].kind) {
            case TPropKind::Integer:
            case TPropKind::Enumeration: {
                int32_t v;
                if (!r.i32(v)) return;
                WriteProp(k, TPropValue::Int(v));
                break;
            }
            case TPropKind::Real: {
                double v;
                if (!r.f64(v)) return;
                WriteProp(k, TPropValue::Real(v));
                break;
            }
            case TPropKind::String: {
                std::string v;
                if (!r.str32(v)) return;
                WriteProp(k, TPropValue::Str(std::move(v)));
                break;
            }
        }
    }

    while (!r.atEnd()) {
        int32_t len;
        if (!r.i32(len) || len < 0) return;
        std::string_view entry;
        if (!r.view(size_t(len), entry)) return;
        // The child's class name: its length is the entry's first byte, the
        // name itself starts at byte 4.
        if (entry.size() < 4) continue;
        const size_t nameLen = uint8_t(entry[0]);
        if (entry.size() < 4 + nameLen) continue;
        if (ctx_.loadDepth >= kMaxLoadDepth) continue;
        TNBElement* child = CreateChild(entry.substr(4, nameLen));
        if (!child) continue;
        DepthScope scope(ctx_.loadDepth);
        child->LoadFromData(entry);
    }
}

}  // namespace nb
