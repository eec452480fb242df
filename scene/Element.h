// TNBElement: the base of every object of a game (root, screens, images,
// animations, texts, shapes, effects, image lists).
//
// It holds identity (Key, Id), position (rX, rY read as rounded X, Y),
// visibility, drawing layer, the tree of owned children, the hook texts with
// their compiled forms, the element's own script variables, and name-based
// access for scripts (GetValue / SetValue).
//
// The 28 virtual operations are declared in their fixed slot order (0 ... 27);
// kinds override them and keep the order. Further virtuals follow slot 27.
//
// Properties: every class publishes the properties of its ClassTable() entry
// in a fixed order. They are read and written by index through GetProp /
// SetProp; the base answers for the properties every kind shares (Key, Id, X,
// Y, Vis, hooks, Order, NotSave, Tag, the mouse flags, AutoInit, rX, rY,
// SizeX, SizeY through slots 3-6) and each kind for its own. The loader, the
// script access, picture loading and saved state all walk this one table.
//
// Creating elements: TNBElement::Create<T>(ctx, parent) or CreateChild by
// class name; a kind's constructor takes (TSceneContext&, TNBElement* parent)
// and sets the kind's own construction defaults. Create then appends the
// element to its parent, makes it visible through slot 0, hit-testable
// (MousedVis) and AutoInit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scene/Context.h"
#include "scene/registry/ClassTable.h"
#include "script/ScriptValue.h"
#include "script/scriptengine.h"

namespace nb {

class TNBDB;

// Hook texts an element can hold. The first twelve belong to every element;
// the root adds KeyDown, Exit and LoadImProcess, animations and effects add
// Stop, Start and Anim.
enum class THook : uint8_t {
    MouseMove, Init, MouseUp, VarRS, MouseOut, MouseIn, AfterLoad, MouseDown, Update, Process, Show,
    Render, KeyDown, Exit, LoadImProcess, Stop, Start, Anim,
};
constexpr int kHookCount = 18;

// Every published property name of every class, as a code. A class's
// property at index i has the code PropCode(i).
enum class TProp : uint8_t {
    Key, Id, X, Y, Vis,
    CurKey, InitScreen, FileRS, FileFonts, hxTransLev, DefLang, Lang, LoadingScreen, IniFile, SoundFile,
    exVarRS, exInit, exAfterLoad, exMouseDown, exMouseUp, exUpdate, exProcess, exLoadImProcess,
    exKeyDown, exExit, exShow, exRender, exMouseIn, exMouseOut, exMouseMove, exStop, exStart, exAnim,
    NotSave, ImBack, SizeX, SizeY, hxDrawFx, Agro, Modal, Order, Tag, AllwaysLoad, AutoInit,
    imImage, PosHor, PosVert, Scale, Angle, hxColor, hxTrans, MousedNotVis, MousedVis, Anim, NoMsNBDB,
    rX, rY, ScaleX, ScaleY, Interpol, InterpolSc, MsKeep, TextId, obScreen, Processing,
    Pos, Morph, Rep, ShowAn, Active, Count, obAnim, EffectFN, DAnim,
    RowCount, ColCount, Space, ScrollPos, ElWidth, ElHeight,
    hxColor1, hxTrans1, hxColor2, hxTrans2, Font, AutoEnter, EnEnter, AutoScale, Interval, Text,
    Unknown,
};
// The code of a property name (exact case); TProp::Unknown for none.
TProp PropCodeOf(std::string_view name);
// The hook an "ex..." property holds; false for other properties.
bool HookOfProp(TProp p, THook& hook);

// A property value as the game file and the setters carry it: integer kinds
// (integers, words, bytes, Booleans, enumeration ordinals, colour words as
// their unsigned value), reals, strings.
struct TPropValue {
    enum class Kind : uint8_t { Int, Real, Str };
    Kind kind = Kind::Int;
    int64_t i = 0;
    double r = 0;
    std::string s;

    static TPropValue Int(int64_t v) { TPropValue p; p.kind = Kind::Int; p.i = v; return p; }
    static TPropValue Real(double v) { TPropValue p; p.kind = Kind::Real; p.r = v; return p; }
    static TPropValue Str(std::string v) { TPropValue p; p.kind = Kind::Str; p.s = std::move(v); return p; }
};

// The standard string-to-integer conversion: optional leading blanks, a sign,
// decimal digits or "$"/"0x" hexadecimal, within the signed 32-bit range.
// False when the text is not such a number.
bool StrToInt32(std::string_view s, int32_t& out);
// A script value as an integer the way property writes take it: strings
// through StrToInt32 (not a number: 0), reals rounded half to even, Booleans
// -1 / 0, the result narrowed to 32 bits.
int32_t ScriptIntOf(const TScriptValue& v);

class TNBElement {
public:
    TNBElement(TSceneContext& ctx, TClassId cls, TNBElement* parent);
    virtual ~TNBElement();
    TNBElement(const TNBElement&) = delete;
    TNBElement& operator=(const TNBElement&) = delete;

    // Creates an element of kind T as the last child of `parent`: visible
    // (through slot 0), MousedVis and AutoInit. T's constructor takes
    // (TSceneContext&, TNBElement* parent).
    template <class T>
    static T* Create(TSceneContext& ctx, TNBElement* parent) {
        auto owned = std::make_unique<T>(ctx, parent);
        T* e = owned.get();
        AttachCreated(std::move(owned));
        return e;
    }
    // Creates a child by class name: the name must equal a registered class
    // name exactly and the class must allow this element's class as parent;
    // the root's class is never created as a child. nullptr otherwise.
    TNBElement* CreateChild(std::string_view className);
    // Removes the element from its parent's children and destroys it with its
    // subtree (the later children move up one place). The root is freed by
    // its context instead.
    void Free();

    // ---------------------------------------------------------------- slots
    virtual void SetVis(bool v);                        // 0: stores Vis
    virtual void SetX(int32_t v);                       // 1: rX := v
    virtual void SetY(int32_t v);                       // 2: rY := v
    virtual void SetSizeX(int32_t v);                   // 3: nothing
    virtual void SetSizeY(int32_t v);                   // 4: nothing
    virtual int32_t GetSizeX();                         // 5: 0
    virtual int32_t GetSizeY();                         // 6: 0
    virtual int32_t GetAbsX();                          // 7: X + parent's GetAbsX
    virtual int32_t GetAbsY();                          // 8: Y + parent's GetAbsY
    // 9: children from last to first with the point moved into this frame.
    virtual TNBElement* HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold);
    virtual void SetPos(int32_t x, int32_t y);          // 10: rX, rY := x, y
    // 11: applies an element record of the game file and loads the children.
    virtual void LoadFromData(std::string_view record);
    // 12: loads pictures when needed, then renders the visible children.
    virtual void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag);
    virtual void Process();                             // 13: "Process", children
    virtual void Show();                                // 14: "Show", children
    virtual void MouseIn();                             // 15: "ms_In"
    virtual void MouseOut();                            // 16: "ms_Out"
    virtual void MouseDown();                           // 17: "ms_Down"
    virtual void MouseUp();                             // 18: "ms_Up"
    virtual void MouseMove();                           // 19: "ms_Move"
    virtual void Update();                              // 20: "Update"
    virtual void Init();                                // 21
    virtual void InitPr();                              // 22
    virtual void AfterLoad();                           // 23: "Load", children
    virtual void LoadImages();                          // 24
    virtual void ReloadImages();                        // 25
    // 26: the element's value `name` (upper-cased by the interpreter).
    virtual bool GetValue(std::string_view name, TScriptValue& value);
    // 27: writes the value; may replace it (text-id translation).
    virtual bool SetValue(std::string_view name, TScriptValue& value);

    // ---------------------------------------------------------- properties
    // Reads the property at `index` of this class. False when this element
    // does not answer for it (the value is then left as it was).
    virtual bool GetProp(int index, TPropValue& out);
    // Writes an already converted and narrowed value (see WriteProp).
    virtual void SetProp(int index, const TPropValue& v);
    // The width of the text for the "TEXTSZ" value; only texts answer.
    virtual bool TextSize(double& width);

    // Converts `v` to the property's kind (a string that is not a number
    // gives 0 for integer kinds), narrows it by the declared type (Byte keeps
    // the low 8 bits, Word 16, Cardinal the bit pattern, Boolean non-zero is
    // true, enumerations one byte) and writes it through SetProp.
    void WriteProp(int index, TPropValue v);
    // The property value in its declared kind; the construction default when
    // the element does not answer.
    TPropValue ReadProp(int index);
    // By exact property name; false when the class has no such property.
    bool WritePropByName(std::string_view name, TPropValue v);
    bool ReadPropByName(std::string_view name, TPropValue& out);

    // The published property at `index` as GetValue gives it: integer kinds
    // as Int32, reals as Real, strings as String. False (value unchanged)
    // when the element does not answer for it.
    bool PropScriptValue(int index, TScriptValue& value);

    int PropCount() const { return int(info_->props.size()); }
    TProp PropCode(int index) const;
    // Index of a property code in this class, -1 when absent.
    int PropIndex(TProp code) const;
    // Index of a property by upper-cased name, -1 when absent.
    int PropIndexUpper(std::string_view upperName) const;

    // ---------------------------------------------------------------- hooks
    const std::string& HookText(THook h) const { return hookText_[size_t(h)]; }
    const std::string& HookCompiled(THook h) const { return hookCompiled_[size_t(h)]; }
    // Stores the text, translates its text ids through the root and stores
    // what the current interpreter's Compile makes of it.
    void SetHook(THook h, std::string text);
    // Runs a prepared hook text under `hookName` (the current hook name is
    // set first). `vars`, when given, receives the variables the run left.
    void RunNamedHook(THook h, std::string_view hookName, TVarList* vars = nullptr);
    // The same without touching the current hook name.
    void RunHook(THook h, TVarList* vars = nullptr);
    // Runs compiled text on the interpreter of the next nesting level. The
    // eleventh nested level finds no interpreter: the run is refused and a
    // "Very recursion" line is logged; the running levels are not disturbed.
    void RunCompiled(const std::string& compiled, TVarList* vars = nullptr);

    // --------------------------------------------------------------- tree
    TSceneContext& Ctx() const { return ctx_; }
    TNBDB* Root() const { return root_; }
    TNBElement* Parent() const { return parent_; }
    size_t ChildCount() const { return children_.size(); }
    TNBElement* Child(size_t i) const { return i < children_.size() ? children_[i].get() : nullptr; }
    // 0-based place among the parent's children, -1 for the root.
    int IndexInParent() const;
    // Depth-first from `start` (itself first, then each child's subtree in
    // child order). When the element is found inside a child's subtree and
    // *next is null, *next becomes the child after that child (null when it
    // was the last), so a caller visiting in tree order can try it first.
    static TNBElement* FindByKey(TNBElement* start, int32_t key, TNBElement** next = nullptr);
    // Clears the loaded mark of the whole subtree.
    void ClearLoaded();
    // Moves the element to the end of its parent's children, so it is drawn
    // above its siblings and hit-tested before them; the others keep their
    // order. Nothing for the root.
    void ToFront();

    // ------------------------------------------------------------- identity
    ElementId Ident() const { return ident_; }
    TClassId ClassId() const { return info_->id; }
    const TClassInfo& Info() const { return *info_; }
    const std::string& ClassName() const { return info_->name; }
    bool IsA(TClassId c) const { return info_->id == c; }

    // ---------------------------------------------------------------- fields
    int32_t Key() const { return key_; }
    void SetKey(int32_t k) {
        key_ = k;
        ctx_.TouchTree();
    }
    const std::string& Id() const { return id_; }
    void SetId(std::string id) { id_ = std::move(id); }
    int32_t X() const;  // rX rounded, halves to even
    int32_t Y() const;
    double RX() const { return rX_; }
    double RY() const { return rY_; }
    void SetRX(double v) { rX_ = v; }
    void SetRY(double v) { rY_ = v; }
    bool Vis() const { return vis_; }
    const std::string& Tag() const { return tag_; }
    int32_t Order() const { return order_; }
    // Stores the layer and widens the root's layer range to include it.
    void SetOrder(int32_t v);
    bool Loaded() const { return loaded_; }
    void SetLoaded(bool v) { loaded_ = v; }
    bool KeepLoaded() const { return keepLoaded_; }
    void SetKeepLoaded(bool v) { keepLoaded_ = v; }
    bool MousedVis() const { return mousedVis_; }
    bool MousedNotVis() const { return mousedNotVis_; }
    void SetMousedVis(bool v) { mousedVis_ = v; }
    void SetMousedNotVis(bool v) { mousedNotVis_ = v; }
    bool NoMsNBDB() const { return noMsNBDB_; }
    void SetNoMsNBDB(bool v) { noMsNBDB_ = v; }
    bool MsKeep() const { return msKeep_; }
    bool NotSave() const { return notSave_; }
    void SetNotSave(bool v) { notSave_ = v; }
    bool AutoInit() const { return autoInit_; }
    void SetAutoInit(bool v) { autoInit_ = v; }
    // Visible and MousedVis, or invisible and MousedNotVis.
    bool MouseVisible() const { return vis_ ? mousedVis_ : mousedNotVis_; }
    // The element's own variables; null before its first Init.
    TVarList* Vars() const { return vars_.get(); }
    void ReplaceVars(std::shared_ptr<TVarList> v) { vars_ = std::move(v); }

protected:
    // The base answers for the shared properties by code.
    bool GetBaseProp(TProp code, TPropValue& out);
    bool SetBaseProp(TProp code, const TPropValue& v);
    // Runs Init/InitPr's common part: a new variable table, the hook, then
    // every child's Init.
    void InitWithHook(std::string_view hookName);
    // The "IM..." and "FONT" properties written back with their own values.
    void RewritePictureProps();
    // Iterates the children by index, tolerating changes of the list.
    template <class F>
    void ForEachChild(F&& f) {
        for (size_t i = 0; i < children_.size(); ++i) f(*children_[i]);
    }

    TSceneContext& ctx_;
    const TClassInfo* info_;
    ElementId ident_ = 0;

    bool loaded_ = false;
    bool mousedNotVis_ = false;
    std::string hookText_[kHookCount];
    std::string hookCompiled_[kHookCount];
    bool mousedVis_ = false;
    bool noMsNBDB_ = false;
    int32_t order_ = 0;
    bool msKeep_ = false;
    bool notSave_ = false;
    bool autoInit_ = false;
    std::shared_ptr<TVarList> vars_;
    bool keepLoaded_ = false;
    TNBDB* root_ = nullptr;
    TNBElement* parent_ = nullptr;
    std::string id_;
    std::string tag_;
    int32_t key_ = 0;
    double rX_ = 0;
    double rY_ = 0;
    bool vis_ = false;
    std::vector<std::unique_ptr<TNBElement>> children_;

private:
    friend class TNBDB;
    friend class TSceneContext;
    static void AttachCreated(std::unique_ptr<TNBElement> e);
    bool GetPseudoValue(std::string_view name, TScriptValue& value);
};

// A reference to the element as a script value.
inline TScriptValue ElementRef(const TNBElement* e) {
    return TScriptValue::element(e ? e->Ident() : 0);
}

}  // namespace nb
