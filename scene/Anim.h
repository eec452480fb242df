// Animations: TNBAnim (a sequence of keys baked into frames), TNBAnKey (one
// key holding posed image parts) and TNBExAnim (shows a top-level animation
// at its own place with its own frame counter).
//
// What is here: the properties with their construction defaults and setter
// rules (the background picture request, the position clamp, the target
// cache of references) and the Start hook. Baking, playback and drawing
// of frames are not part of these kinds yet: the frame table is empty.
#pragma once

#include "scene/Stored.h"

namespace nb {

struct TNBIm;

class TNBAnim : public TNBStored {
public:
    TNBAnim(TSceneContext& ctx, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;
    void SetSizeX(int32_t v) override;
    void SetSizeY(int32_t v) override;
    int32_t GetSizeX() override;
    int32_t GetSizeY() override;
    // An animation never takes the mouse.
    TNBElement* HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) override;

    // Runs the prepared exStart text (the current hook name is kept), as the
    // engine function AnimStart does after setting Pos, Active and Vis.
    void RunStart();

    // Background picture entry (none without ImBack or registry).
    TNBIm* Background() const { return back_; }
    int32_t FrameCount() const { return frameCount_; }
    int32_t FramePos() const { return int32_t(StoredInt(TProp::Pos)); }
    // The Pos setter: at or beyond the frame count it becomes 0 with Rep,
    // else frame count - 1; negative values stay.
    void SetFramePos(int32_t v);
    bool Active() const { return StoredInt(TProp::Active) != 0; }
    void SetActive(bool v) { StoreInt(TProp::Active, v ? 1 : 0); }
    bool Rep() const { return StoredInt(TProp::Rep) != 0; }

private:
    void SetImBack(const std::string& name);
    TNBIm* back_ = nullptr;
    int32_t sizeX_ = 0;
    int32_t sizeY_ = 0;
    int32_t frameCount_ = 0;
};

class TNBAnKey : public TNBStored {
public:
    TNBAnKey(TSceneContext& ctx, TNBElement* parent);
    // A key reports its animation's size.
    int32_t GetSizeX() override;
    int32_t GetSizeY() override;
};

class TNBExAnim : public TNBStored {
public:
    TNBExAnim(TSceneContext& ctx, TNBElement* parent);

    void SetProp(int index, const TPropValue& v) override;
    // The first direct child of the root whose Key is obAnim and whose class
    // is exactly TNBAnim; cached until obAnim is written.
    TNBAnim* Target();

private:
    ElementId target_ = 0;
};

}  // namespace nb
