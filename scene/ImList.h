// TNBImList: a grid of cells in a box (an inventory). Scripts add and remove
// image elements as entries; the entries stay where they are in the tree and
// are only referenced. The list draws each entry's picture fitted into its
// cell, tracks the entry under the mouse ("SELEL"), grows that entry toward
// the zoom factor `Scale` tick by tick and shrinks the others back, and hands
// a press on an entry to the entry's own press hook before its own.
//
// Invariants:
//  - hovered is -1 or the index of a cell that held an entry when the mouse
//    last moved; entries removed since may leave it past the end, so every
//    use of it checks the range;
//  - entries hold element identities, never pointers: a freed element simply
//    stops answering and is skipped.
#pragma once

#include <vector>

#include "scene/Stored.h"

namespace nb {

class TNBImage;

class TNBImList : public TNBStored {
public:
    struct Entry {
        ElementId element = 0;
        double zoom = 1.0;
    };

    // Zoom steps per process tick: the hovered entry grows by the first, the
    // others shrink by the second.
    static constexpr double kZoomGrow = 0.05;
    static constexpr double kZoomShrink = 0.1;

    TNBImList(TSceneContext& ctx, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;
    void SetSizeX(int32_t v) override;
    void SetSizeY(int32_t v) override;
    int32_t GetSizeX() override { return sizeX_; }
    int32_t GetSizeY() override { return sizeY_; }
    // On its own layer: the list while the point lies in its box (whether or
    // not a cell with an entry is under it), none outside. Changing the
    // hovered entry runs MouseOut (old entry) and MouseIn (new entry).
    TNBElement* HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) override;
    // Drawn on every layer pass, hovered entry last; see ImList.cpp.
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;
    // The zoom step of every entry; no hook, no children, whatever Vis is.
    void Process() override;
    void MouseIn() override;
    void MouseOut() override;
    void MouseDown() override;
    void LoadImages() override;
    void ReloadImages() override;
    bool GetValue(std::string_view name, TScriptValue& value) override;
    bool SetValue(std::string_view name, TScriptValue& value) override;

    // A new last entry with zoom 1.0; ScrollPos is then written with its index.
    void Append(TNBElement* element);
    // Removes the first entry of that element / of an element whose Id is
    // exactly `id` (case-sensitive); later entries move down.
    bool Remove(TNBElement* element);
    bool RemoveById(std::string_view id);

    // The entry index of the cell under (x, y) in the parent's frame: -1
    // outside the box, over a cell without an entry, or when the grid has no
    // cell pitch.
    int32_t IndexAt(int32_t x, int32_t y) const;

    const std::vector<Entry>& Entries() const { return entries_; }
    int32_t Hovered() const { return hovered_; }
    void SetHovered(int32_t i) { hovered_ = i; }
    int32_t ElWidth() const { return elWidth_; }
    int32_t ElHeight() const { return elHeight_; }
    int32_t RowCount() const { return rowCount_; }
    int32_t ColCount() const { return colCount_; }
    int32_t Space() const { return space_; }
    // The zoom factor the hovered entry grows to.
    double ZoomTarget() const { return StoredReal(TProp::Scale); }

private:
    void Recompute();
    // The image of entry i when it is still alive (and an image); else null.
    TNBImage* EntryImage(size_t i) const;
    // The element of the hovered entry, or null.
    TNBElement* HoveredElement() const;
    // One drawing pass over the shown cells: every entry but the hovered one,
    // or only the hovered one.
    void DrawPass(double ox, double oy, bool hoveredPass);

    std::vector<Entry> entries_;
    int32_t sizeX_ = 0, sizeY_ = 0;
    int32_t rowCount_ = 0, colCount_ = 0, space_ = 0;
    int32_t elWidth_ = 0, elHeight_ = 0;
    int32_t scrollRow_ = 0;
    int32_t hovered_ = -1;
};

}  // namespace nb
