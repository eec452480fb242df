// TNBImList: a grid of cells in a box (an inventory). Scripts add and remove
// image elements as entries; the entries stay where they are in the tree and
// are only referenced. Here: the cell computation, the entry list with its
// "ELEMENTS" and "SELEL" values, Append and Remove. Drawing, zooming and the
// per-entry mouse routing come with the list's behaviour.
#pragma once

#include <vector>

#include "scene/Stored.h"

namespace nb {

class TNBImList : public TNBStored {
public:
    struct Entry {
        ElementId element = 0;
        double zoom = 1.0;
    };

    TNBImList(TSceneContext& ctx, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;
    void SetSizeX(int32_t v) override;
    void SetSizeY(int32_t v) override;
    int32_t GetSizeX() override { return sizeX_; }
    int32_t GetSizeY() override { return sizeY_; }
    bool GetValue(std::string_view name, TScriptValue& value) override;
    bool SetValue(std::string_view name, TScriptValue& value) override;

    // A new last entry with zoom 1.0; ScrollPos is then written with its index.
    void Append(TNBElement* element);
    // Removes the first entry of that element / of an element whose Id is
    // exactly `id` (case-sensitive); later entries move down.
    bool Remove(TNBElement* element);
    bool RemoveById(std::string_view id);

    const std::vector<Entry>& Entries() const { return entries_; }
    int32_t Hovered() const { return hovered_; }
    void SetHovered(int32_t i) { hovered_ = i; }
    int32_t ElWidth() const { return elWidth_; }
    int32_t ElHeight() const { return elHeight_; }

private:
    void Recompute();

    std::vector<Entry> entries_;
    int32_t sizeX_ = 0, sizeY_ = 0;
    int32_t rowCount_ = 0, colCount_ = 0, space_ = 0;
    int32_t elWidth_ = 0, elHeight_ = 0;
    int32_t scrollRow_ = 0;
    int32_t hovered_ = -1;
};

}  // namespace nb
