// Animations: TNBAnim (a sequence of keys baked into frames), TNBAnKey (one
// key holding posed image parts) and TNBExAnim (shows a top-level animation
// at its own place with its own frame counter).
//
// An animation bakes its frame table once (when it is initialised, loaded,
// updated, or a key's Count or its own Morph is written): every frame is a
// list of sprite records. Between two keys, parts with the same Id move,
// scale, turn and fade linearly, or along cubic splines through all keys
// when the animation and the part allow it; a Morph key cross-fades a part
// whose picture changes. Playback steps one frame per process tick and
// draws the records of the current frame; nothing is interpolated then.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/Stored.h"

namespace nb {

struct TNBIm;
class TNBImage;

// One sprite of a baked frame.
struct TSpriteRecord {
    // The part's registry entry. Its picture is looked up at each drawing,
    // so a picture released by a screen change is never drawn through a
    // stale pointer; an entry without a picture draws nothing.
    TNBIm* picture = nullptr;
    int32_t pattern = 0;
    double x = 0, y = 0;  // centre, relative to the animation's absolute position
    double scale = 1.0;
    double angle = 0;  // degrees
    double scaleX = 1.0, scaleY = 1.0;
    uint32_t color = 0xFFFFFFFFu;  // 0xAARRGGBB
    uint32_t drawFx = 1284;
};

// A cubic spline through (x, y) samples with both ends parabolically
// terminated (the end intervals are parabolas); two samples give the
// straight line through them. The x values must increase strictly.
// Outside the samples the end pieces continue.
class TAnimSpline {
public:
    // False (and the spline stays empty) with fewer than two samples, sizes
    // that differ, or x values that do not increase strictly.
    bool Build(const std::vector<double>& x, const std::vector<double>& y);
    bool Valid() const { return x_.size() >= 2; }
    double Eval(double t) const;

private:
    std::vector<double> x_, y_, d_;  // knots, values, first derivatives
};

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
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;
    void Process() override;
    void Update() override;
    void Init() override;
    void InitPr() override;
    void LoadImages() override;
    void ReloadImages() override;
    // After the base: "KEYX", "KEYY", "KEYANG", "KEYAN", "KEYX[n]",
    // "KEYY[n]" (of the current frame's records) and "COUNT".
    bool GetValue(std::string_view name, TScriptValue& value) override;

    // Runs the prepared exStart text (the current hook name is kept), as the
    // engine function AnimStart does after setting Pos, Active and Vis.
    void RunStart();

    // Bakes the frame table from the keys and their parts, then writes Pos
    // with its own value (which clamps it). Nothing happens while the game
    // file or a saved state is being read.
    void Rebuild();

    // Draws frame p at (ox, oy) with colour c: the background, then each
    // record. Nothing for a frame that does not exist.
    void DrawFrame(int32_t p, double ox, double oy, uint32_t c);

    // Background picture entry (none without ImBack or registry).
    TNBIm* Background() const { return back_; }
    int32_t FrameCount() const { return frameCount_; }
    const std::vector<std::vector<TSpriteRecord>>& Frames() const { return frames_; }
    int32_t FramePos() const { return int32_t(StoredInt(TProp::Pos)); }
    // The Pos setter: at or beyond the frame count it becomes 0 with Rep,
    // else frame count - 1; negative values stay.
    void SetFramePos(int32_t v);
    bool Active() const { return StoredInt(TProp::Active) != 0; }
    void SetActive(bool v) { StoreInt(TProp::Active, v ? 1 : 0); }
    bool Rep() const { return StoredInt(TProp::Rep) != 0; }
    double AnimAngle() const { return StoredReal(TProp::Angle); }

    // Limits that keep a damaged game file from exhausting memory: keys that
    // would take the table beyond kMaxFrames frames are left out, and no
    // more than kMaxRecords records are made in all.
    static constexpr int32_t kMaxFrames = 1 << 20;
    static constexpr size_t kMaxRecords = size_t(1) << 22;

private:
    void SetImBack(const std::string& name);
    // The record that frame `Pos` starts with; null when the frame does not
    // exist or has no records. `n` is 1-based.
    const TSpriteRecord* FrameRecord(int64_t n) const;

    TNBIm* back_ = nullptr;
    int32_t sizeX_ = 0;
    int32_t sizeY_ = 0;
    int32_t frameCount_ = 0;
    std::vector<std::vector<TSpriteRecord>> frames_;
};

class TNBAnKey : public TNBStored {
public:
    TNBAnKey(TSceneContext& ctx, TNBElement* parent);
    // A key reports its animation's size.
    int32_t GetSizeX() override;
    int32_t GetSizeY() override;
    // Writing Count rebuilds the animation.
    void SetProp(int index, const TPropValue& v) override;
    // A key that has read its record asks its animation to rebuild.
    void LoadFromData(std::string_view record) override;

    int32_t Count() const { return int32_t(StoredInt(TProp::Count)); }
    bool Morph() const { return StoredInt(TProp::Morph) != 0; }

private:
    void RebuildAnimation();
};

class TNBExAnim : public TNBStored {
public:
    TNBExAnim(TSceneContext& ctx, TNBElement* parent);

    void SetProp(int index, const TPropValue& v) override;
    // The target's size; 0 without a target.
    int32_t GetSizeX() override;
    int32_t GetSizeY() override;
    int32_t GetAbsX() override;
    int32_t GetAbsY() override;
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;
    void Process() override;
    void LoadImages() override;

    // The first direct child of the root whose Key is obAnim and whose class
    // is exactly TNBAnim; cached until obAnim is written.
    TNBAnim* Target();

    int32_t FramePos() const { return int32_t(StoredInt(TProp::Pos)); }
    // The Pos setter: with a target, at or beyond its frame count the value
    // becomes 0 with Rep, else frame count - 1.
    void SetFramePos(int32_t v);

private:
    ElementId target_ = 0;
};

}  // namespace nb
