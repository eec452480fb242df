// The tagged script value. Its kind travels with it and decides what the
// operators do. An element reference is recognised only by its kind
// (ElementRef, the unsigned 32-bit kind), never by its number.
//
// Conversions that cannot be made throw ScriptError; the interpreter catches
// them and reports them (built-ins: "Invalid parameters, function X : text").
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace nb {

// Raised by value conversions and operators, and by built-in routines; the
// message is the text the error log shows after " : ".
class ScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class ValueKind : uint8_t {
    Empty,
    Boolean,
    Int32,
    Int64,
    UInt16,
    UInt8,
    Real,
    DateTime,
    String,
    ElementRef,  // the unsigned 32-bit kind: identity of a scene element
};

// Identity of a scene element as scripts carry it. 0 is never a live element.
using ElementId = uint32_t;

class TScriptValue {
public:
    TScriptValue() = default;
    static TScriptValue empty() { return {}; }
    static TScriptValue boolean(bool b);
    static TScriptValue int32(int32_t v);
    static TScriptValue int64(int64_t v);
    static TScriptValue uint16(uint16_t v);
    static TScriptValue uint8(uint8_t v);
    static TScriptValue real(double v);
    static TScriptValue dateTime(double days);
    static TScriptValue string(std::string s);
    static TScriptValue element(ElementId id);

    ValueKind kind() const { return kind_; }
    bool isEmpty() const { return kind_ == ValueKind::Empty; }
    bool isString() const { return kind_ == ValueKind::String; }
    bool isElement() const { return kind_ == ValueKind::ElementRef; }
    bool isInteger() const;  // Int32, Int64, UInt16, UInt8
    bool isNumeric() const;  // integers, Real, DateTime (Boolean excluded)

    // Raw access without conversion (valid only for the matching kind).
    bool rawBool() const { return i_ != 0; }
    int64_t rawInt() const { return i_; }
    double rawReal() const { return d_; }
    const std::string& rawString() const { return s_; }
    ElementId elementId() const { return static_cast<ElementId>(i_); }

    // Conversions (throw ScriptError when impossible):
    // strings: integers decimal, reals shortest general form with up to 15
    // significant digits and the point "." (0.1 -> "0.1", 1e20 -> "1E20"),
    // Booleans "True"/"False", date-times as "dd.mm.yyyy hh:nn:ss" (no time
    // at exactly midnight), empty "".
    std::string toString() const;
    // Reals round half to even; out-of-range raises; true = -1, false = 0;
    // strings must hold a number.
    int32_t toInt32() const;
    int64_t toInt64() const;
    double toReal() const;  // Booleans -1 / 0; strings must hold a number
    // Numbers: non-zero; strings "TRUE"/"FALSE" in any case or numeric text.
    bool toBool() const;

    // Operators (mixed-kind rules of the value type). Each throws ScriptError
    // when the operands do not fit; the caller reports the operator message.
    // Integer arithmetic is exact: a 32-bit result that overflows widens to a
    // 64-bit integer, a 64-bit overflow raises (details in ScriptValue.cpp).
    TScriptValue add(const TScriptValue& b) const;
    TScriptValue sub(const TScriptValue& b) const;
    TScriptValue mul(const TScriptValue& b) const;
    TScriptValue div(const TScriptValue& b) const;  // always real
    TScriptValue power(const TScriptValue& b) const;  // 32-bit float arithmetic
    TScriptValue logicalOr(const TScriptValue& b) const;
    TScriptValue logicalAnd(const TScriptValue& b) const;
    TScriptValue logicalXor(const TScriptValue& b) const;
    TScriptValue shl(const TScriptValue& b) const;
    TScriptValue shr(const TScriptValue& b) const;
    TScriptValue negate() const;
    TScriptValue logicalNot() const;
    // Comparisons: two strings compare as texts; otherwise numerically.
    bool equals(const TScriptValue& b) const;
    bool less(const TScriptValue& b) const;
    bool greater(const TScriptValue& b) const;

private:
    ValueKind kind_ = ValueKind::Empty;
    int64_t i_ = 0;
    double d_ = 0;
    std::string s_;
};

}  // namespace nb
