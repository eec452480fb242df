// The class registry: the eleven element classes in registration order, with
// their short names, allowed parents, and published properties in the fixed
// order that the game file, saved state and image loading walk.
//
// This is pure data. Each property carries its construction default; a
// freshly created element of the class must read back exactly these values
// (a scene test checks it), and nbtool writes them for properties a JSON game
// leaves out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nb {

// How a value is stored in a game file record.
enum class TPropKind : uint8_t {
    Integer,      // 4 bytes: integers, unsigned words, bytes, Booleans
    Enumeration,  // 4 bytes: the ordinal
    Real,         // 8 bytes: IEEE double
    String,       // 4-byte length + bytes
};

// The declared type, which fixes how a setter narrows an integer.
enum class TPropType : uint8_t {
    Integer,   // signed 32-bit
    Cardinal,  // unsigned 32-bit (colour and effect words, keys of other elements)
    Word,      // unsigned 16-bit
    Byte,      // unsigned 8-bit
    Boolean,
    PosHor,    // TNBPosHor
    PosVert,   // TNBPosVert
    Double,
    Extended,  // held with more precision by the element (kept as double here)
    String,
};

struct TPropInfo {
    const char* name;
    TPropKind kind;
    TPropType type;
    // Construction default: intDefault for Integer/Enumeration kinds,
    // realDefault for Real, strDefault for String.
    int64_t intDefault = 0;
    double realDefault = 0;
    const char* strDefault = "";
};

enum class TClassId : uint8_t {
    TNBDB, TNBScreen, TNBImage, TNBExScreen, TNBAnim, TNBAnKey, TNBExAnim, TNBEffect, TNBImList,
    TNBShape, TNBText,
};
constexpr int kClassCount = 11;

struct TClassInfo {
    TClassId id;
    std::string name;        // "TNBImage"
    std::string shortName;   // "Image"
    std::vector<std::string> allowedParents;
    std::vector<TPropInfo> props;

    int PropIndex(std::string_view name) const;            // exact name, -1 when absent
    int PropIndexUpper(std::string_view upperName) const;  // name compared upper-cased
};

// Every class in registration order: TNBDB, TNBScreen, TNBImage, TNBExScreen,
// TNBAnim, TNBAnKey, TNBExAnim, TNBEffect, TNBImList, TNBShape, TNBText.
const std::vector<TClassInfo>& ClassTable();
const TClassInfo& ClassInfo(TClassId id);
// Exact-case lookup by class name; nullptr when not registered.
const TClassInfo* FindClass(std::string_view name);
// True when `child` may be created under an element of class `parent`.
bool ParentAllows(const TClassInfo& parent, std::string_view childName);

// Names of the enumeration values.
const std::vector<std::string>& PosHorNames();   // phLeft, phCenter, phRight
const std::vector<std::string>& PosVertNames();  // pvTop, pvCenter, pvBottom

}  // namespace nb
