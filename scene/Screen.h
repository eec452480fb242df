// Screens and screen references.
//
// TNBScreen is one page of a game: a background picture drawn on the
// screen's own layer, a size, and the elements shown with it. A modal screen
// takes, on its own layer, every mouse position that none of its elements
// takes, so nothing on a lower layer reacts while a dialog is up.
//
// TNBExScreen embeds another top-level screen (found by Key) at its own
// position, optionally aligned, optionally modal, optionally processing the
// embedded screen's ticks. The reference does not own its target: the target
// stays a child of the root and may be embedded by several references.
#pragma once

#include <cstdint>
#include <string>

#include "scene/Element.h"

namespace nb {

struct TNBIm;

// Horizontal and vertical alignment of an element on its position.
enum class TNBPosHor : uint8_t { phLeft, phCenter, phRight };
enum class TNBPosVert : uint8_t { pvTop, pvCenter, pvBottom };

// The left (top) edge of an element of integer width w placed at x: x,
// x - (w div 2) or x - w; div rounds toward zero.
inline int64_t AlignedEdge(int64_t x, int64_t w, uint8_t align) {
    switch (align) {
        case 1: return x - w / 2;
        case 2: return x - w;
        default: return x;
    }
}
inline int32_t ClampToI32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v); }

class TNBScreen : public TNBElement {
public:
    TNBScreen(TSceneContext& ctx, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;

    void SetSizeX(int32_t v) override { sizeX_ = v; }
    void SetSizeY(int32_t v) override { sizeY_ = v; }
    int32_t GetSizeX() override { return sizeX_; }
    int32_t GetSizeY() override { return sizeY_; }
    TNBElement* HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) override;
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;

    // The picture request behind ImBack: no entry for an empty name or
    // without a picture registry; a loaded picture gives the screen its size.
    void SetImBack(const std::string& name);
    std::string ImBack() const;
    TNBIm* Background() const { return back_; }

    uint32_t DrawFx() const { return drawFx_; }
    int32_t Agro() const { return agro_; }
    bool Modal() const { return modal_; }
    bool AllwaysLoad() const { return allwaysLoad_; }

private:
    TNBIm* back_ = nullptr;
    std::string backName_;  // only without a picture registry
    int32_t sizeX_ = 0;
    int32_t sizeY_ = 0;
    uint32_t drawFx_ = 1;
    int32_t agro_ = 0;
    bool modal_ = false;
    bool allwaysLoad_ = false;
};

class TNBExScreen : public TNBElement {
public:
    TNBExScreen(TSceneContext& ctx, TNBElement* parent);

    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;

    void SetVis(bool v) override;
    int32_t GetSizeX() override;
    int32_t GetSizeY() override;
    int32_t GetAbsX() override;
    int32_t GetAbsY() override;
    TNBElement* HitTest(int32_t layer, int32_t x, int32_t y, int32_t margin, int32_t threshold) override;
    void Render(int32_t layer, uint32_t color, double ox, double oy, int32_t flag) override;
    void Process() override;
    void Show() override;
    void Update() override;
    void Init() override;
    void InitPr() override;
    void LoadImages() override;
    void ReloadImages() override;

    // The embedded screen: the first direct child of the root whose Key is
    // obScreen and whose class is exactly TNBScreen. Cached until obScreen is
    // written; searched again while not found.
    TNBScreen* Target();

    uint32_t ObScreen() const { return obScreen_; }
    void SetObScreen(uint32_t key);
    bool Modal() const { return modal_; }
    bool Processing() const { return processing_; }

private:
    // Operations that reach the target. A reference may (directly or through
    // other references) end up embedding the screen it lies in; each
    // operation therefore forwards to the target at most once at a time per
    // reference, which turns such a cycle into one extra nested copy instead
    // of endless recursion.
    enum TForward : uint16_t {
        fwRender = 1 << 0, fwHitTest = 1 << 1, fwProcess = 1 << 2, fwShow = 1 << 3, fwUpdate = 1 << 4,
        fwInit = 1 << 5, fwInitPr = 1 << 6, fwLoadImages = 1 << 7, fwReloadImages = 1 << 8,
    };
    class TForwardGuard;
    // The target when the operation is not already forwarding through this
    // reference; null otherwise or without a target.
    TNBScreen* TargetFor(TForward op);

    uint8_t posHor_ = 0;
    uint8_t posVert_ = 0;
    uint32_t obScreen_ = 0;
    ElementId target_ = 0;
    bool modal_ = false;
    bool processing_ = true;
    uint16_t forwarding_ = 0;
};

}  // namespace nb
