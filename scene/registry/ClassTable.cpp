#include "scene/registry/ClassTable.h"

#include "platform/Text.h"

namespace nb {

namespace {

using K = TPropKind;
using T = TPropType;

TPropInfo I(const char* n, int64_t d = 0) { return {n, K::Integer, T::Integer, d}; }
TPropInfo C(const char* n, int64_t d = 0) { return {n, K::Integer, T::Cardinal, d}; }
TPropInfo W(const char* n, int64_t d = 0) { return {n, K::Integer, T::Word, d}; }
TPropInfo B8(const char* n, int64_t d = 0) { return {n, K::Integer, T::Byte, d}; }
TPropInfo Bo(const char* n, bool d = false) { return {n, K::Integer, T::Boolean, d ? 1 : 0}; }
TPropInfo H(const char* n) { return {n, K::Enumeration, T::PosHor, 0}; }
TPropInfo V(const char* n) { return {n, K::Enumeration, T::PosVert, 0}; }
TPropInfo R(const char* n, double d = 0) { return {n, K::Real, T::Double, 0, d}; }
TPropInfo RX(const char* n, double d = 0) { return {n, K::Real, T::Extended, 0, d}; }
TPropInfo S(const char* n) { return {n, K::String, T::String}; }

// Key, Id, X, Y, Vis. Every element but the root is created visible.
std::vector<TPropInfo> base(bool visible) {
    return {I("Key"), S("Id"), I("X"), I("Y"), Bo("Vis", visible)};
}

std::vector<TPropInfo> with(std::vector<TPropInfo> a, std::initializer_list<TPropInfo> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string shortNameOf(const std::string& n) {
    return (n.size() >= 3 && asciiUpper(n.substr(0, 3)) == "TNB") ? n.substr(3) : n;
}

std::vector<TClassInfo> build() {
    const std::vector<std::string> underScreen = {"TNBScreen", "TNBImage"};
    std::vector<TClassInfo> t;
    auto add = [&](TClassId id, const char* name, std::vector<std::string> parents,
                   std::vector<TPropInfo> props) {
        t.push_back({id, name, shortNameOf(name), std::move(parents), std::move(props)});
    };

    add(TClassId::TNBDB, "TNBDB", {},
        with(base(false), {I("CurKey"), I("InitScreen"), S("exVarRS"), S("exInit"), S("exAfterLoad"),
                           S("exMouseDown"), S("exMouseUp"), S("exUpdate"), S("exProcess"), S("FileRS"),
                           S("FileFonts"), B8("hxTransLev"), S("DefLang"), S("Lang"), I("LoadingScreen"),
                           Bo("NotSave"), S("exLoadImProcess"), S("IniFile"), S("SoundFile"),
                           S("exKeyDown"), S("exExit")}));
    add(TClassId::TNBScreen, "TNBScreen", {"TNBDB"},
        with(base(true), {S("ImBack"), I("SizeX"), I("SizeY"), C("hxDrawFx", 1), I("Agro"), Bo("Modal"),
                          S("exInit"), S("exAfterLoad"), S("exUpdate"), S("exProcess"), I("Order"),
                          S("exVarRS"), S("exShow"), S("Tag"), Bo("AllwaysLoad"), Bo("NotSave"),
                          S("exRender"), Bo("AutoInit", true)}));
    add(TClassId::TNBImage, "TNBImage", {"TNBScreen", "TNBImage", "TNBAnKey"},
        with(base(true), {S("imImage"), C("hxDrawFx", 1284), H("PosHor"), V("PosVert"), RX("Scale", 1.0),
                          RX("Angle"), C("hxColor", 0xFFFFFF), B8("hxTrans", 255), Bo("MousedNotVis"),
                          S("exVarRS"), S("exInit"), S("exAfterLoad"), S("exMouseIn"), S("exMouseOut"),
                          S("exMouseMove"), S("exMouseDown"), S("exMouseUp"), S("exUpdate"),
                          S("exProcess"), Bo("MousedVis", true), I("Anim"), Bo("NoMsNBDB"), I("Order"),
                          R("rX"), R("rY"), RX("ScaleX", 1.0), RX("ScaleY", 1.0), Bo("Interpol", true),
                          Bo("InterpolSc", true), Bo("MsKeep"), S("Tag"), S("TextId"), Bo("NotSave")}));
    add(TClassId::TNBExScreen, "TNBExScreen", underScreen,
        with(base(true), {H("PosHor"), V("PosVert"), C("obScreen"), S("exVarRS"), S("exInit"),
                          S("exAfterLoad"), S("exMouseIn"), S("exMouseOut"), S("exMouseMove"),
                          S("exMouseDown"), S("exMouseUp"), S("exUpdate"), S("exProcess"), Bo("Modal"),
                          S("exShow"), S("Tag"), Bo("NotSave"), Bo("Processing", true)}));
    add(TClassId::TNBAnim, "TNBAnim", {"TNBDB", "TNBScreen", "TNBImage"},
        with(base(true), {S("ImBack"), I("SizeX"), I("SizeY"), C("hxDrawFx", 1), I("Agro"), Bo("Modal"),
                          I("Pos"), Bo("Morph"), Bo("Rep"), Bo("ShowAn"), Bo("Active"), S("exStop"),
                          S("exStart"), S("exAnim"), S("exInit"), S("exUpdate"), I("Order"), RX("Angle"),
                          S("exVarRS"), Bo("Interpol"), S("Tag"), Bo("NotSave"), S("exProcess")}));
    add(TClassId::TNBAnKey, "TNBAnKey", {"TNBAnim"},
        with(base(true), {W("Count"), Bo("Morph"), Bo("NotSave")}));
    add(TClassId::TNBExAnim, "TNBExAnim", underScreen,
        with(base(true), {H("PosHor"), V("PosVert"), C("obAnim"), I("Pos"), Bo("Rep"), Bo("Active"),
                          S("exVarRS"), S("Tag"), Bo("NotSave")}));
    add(TClassId::TNBEffect, "TNBEffect", underScreen,
        with(base(true), {S("EffectFN"), R("DAnim"), Bo("Active"), S("exInit"), S("exAfterLoad"),
                          S("exUpdate"), S("exProcess"), C("hxColor", 0xFFFFFF), I("Order"), S("exVarRS"),
                          S("Tag"), Bo("NotSave"), S("exStart")}));
    add(TClassId::TNBImList, "TNBImList", underScreen,
        with(base(true), {I("RowCount"), I("ColCount"), I("Space"), I("ScrollPos"), I("SizeX"), I("SizeY"),
                          I("ElWidth"), I("ElHeight"), R("Scale"), S("exInit"), S("exAfterLoad"),
                          S("exUpdate"), S("exProcess"), I("Order"), S("exVarRS"), S("Tag"), Bo("NotSave"),
                          S("exMouseIn"), S("exMouseOut"), S("exMouseDown")}));
    add(TClassId::TNBShape, "TNBShape", underScreen,
        with(base(true), {C("hxDrawFx", 1284), C("hxColor", 0xFFFFFF), B8("hxTrans", 255), Bo("MousedNotVis"),
                          S("exVarRS"), S("exInit"), S("exAfterLoad"), S("exMouseIn"), S("exMouseOut"),
                          S("exMouseMove"), S("exMouseDown"), S("exMouseUp"), S("exUpdate"),
                          S("exProcess"), Bo("MousedVis", true), Bo("NoMsNBDB"), I("Order"), R("rX"),
                          R("rY"), I("SizeX", 100), I("SizeY", 100), S("Tag"), Bo("NotSave")}));
    add(TClassId::TNBText, "TNBText", {"TNBScreen", "TNBImage", "TNBText"},
        with(base(true), {C("hxDrawFx", 1284), C("hxColor1", 0xFFFFFF), B8("hxTrans1", 255), C("hxColor2", 0),
                          B8("hxTrans2", 0), Bo("MousedNotVis"), S("exVarRS"), S("exInit"),
                          S("exAfterLoad"), S("exMouseIn"), S("exMouseOut"), S("exMouseMove"),
                          S("exMouseDown"), S("exMouseUp"), S("exUpdate"), S("exProcess"),
                          Bo("MousedVis", true), Bo("NoMsNBDB"), I("Order"), R("rX"), R("rY"),
                          I("SizeX", 100), I("SizeY", 100), S("Font"), H("PosHor"), V("PosVert"),
                          S("TextId"), Bo("AutoEnter"), Bo("EnEnter"), Bo("AutoScale"), R("Interval"),
                          S("Text"), R("Scale", 1.0), S("Tag"), Bo("NotSave")}));
    return t;
}

}  // namespace

int TClassInfo::PropIndex(std::string_view n) const {
    for (size_t i = 0; i < props.size(); ++i)
        if (n == props[i].name) return int(i);
    return -1;
}

int TClassInfo::PropIndexUpper(std::string_view upperName) const {
    for (size_t i = 0; i < props.size(); ++i)
        if (iequalsAscii(upperName, props[i].name)) return int(i);
    return -1;
}

const std::vector<TClassInfo>& ClassTable() {
    static const std::vector<TClassInfo> table = build();
    return table;
}

const TClassInfo& ClassInfo(TClassId id) { return ClassTable()[size_t(id)]; }

const TClassInfo* FindClass(std::string_view name) {
    for (const TClassInfo& c : ClassTable())
        if (c.name == name) return &c;
    return nullptr;
}

bool ParentAllows(const TClassInfo& parent, std::string_view childName) {
    const TClassInfo* child = FindClass(childName);
    if (!child) return false;
    for (const std::string& p : child->allowedParents)
        if (p == parent.name) return true;
    return false;
}

const std::vector<std::string>& PosHorNames() {
    static const std::vector<std::string> n = {"phLeft", "phCenter", "phRight"};
    return n;
}
const std::vector<std::string>& PosVertNames() {
    static const std::vector<std::string> n = {"pvTop", "pvCenter", "pvBottom"};
    return n;
}

}  // namespace nb
