// The graphics service: everything the render framework asks of the display
// adapter, as one small table of operations.
//
// A backend draws into a fixed 1024 x 768 frame (the logical canvas). The
// windowed case scales that frame into the window afterwards (see
// PlatformWindow::Present), so the frame read back for a screenshot is always
// exactly the logical picture.
//
// Coordinates follow the convention the framework was designed for: a pixel
// centre lies at integer coordinates, so a quad from x = 0 to x = 10 covers
// pixels 0 to 9, and a textured quad shifted by -0.5 maps texels onto pixels
// one to one. Backends translate this into their own rasterisation rules.
//
// Two implementations exist: the OpenGL 3.3 core backend (GLGraphics.cpp) and
// a null backend (NullGraphics.cpp) that accepts every call and draws nothing;
// textures are kept by their owners on the CPU side in both cases, so picture
// hit tests work without a display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace nb {

// One vertex of a batch: position in logical pixels, texture coordinate, and
// colour as 0xAARRGGBB.
struct GfxVertex {
    float x = 0, y = 0;
    float u = 0, v = 0;
    uint32_t color = 0xFFFFFFFFu;
};

enum class GfxPrimitive : uint8_t { Triangles, Lines };

// Backend texture name; 0 is "no texture".
using GfxTexture = uint32_t;

// What a present reports, for backends whose device can be lost (the OpenGL
// backend never is; test doubles use the other values).
enum class GfxPresentResult : uint8_t { Ok, DeviceLost, DriverError };

// Bits of the draw-effect word, as stored in games.
namespace gfxfx {
// Set when texture colour and alpha are modulated by the vertex colour.
constexpr uint32_t kModulate = 1u << 28;
// Source factor 1 (one), destination factor 0 (zero), operation 0 (add):
// blending and alpha testing are switched off.
constexpr uint32_t kOpaque = 1;
// Source alpha, inverse source alpha, add: ordinary alpha blending.
constexpr uint32_t kAlphaBlend = 1284;
inline uint32_t SourceFactor(uint32_t fx) { return fx & 0xFFu; }
inline uint32_t DestFactor(uint32_t fx) { return (fx >> 8) & 0xFFu; }
inline uint32_t Operation(uint32_t fx) { return (fx >> 16) & 0xFFu; }
// True when the word's factor and operation indices describe the opaque
// state (bit 28 and the unused high bits do not change the blend itself).
inline bool IsOpaque(uint32_t fx) { return (fx & 0x00FFFFFFu) == kOpaque; }
}  // namespace gfxfx

// Everything one draw call needs besides its vertices.
struct GfxDrawState {
    GfxPrimitive primitive = GfxPrimitive::Triangles;
    GfxTexture texture = 0;      // 0: untextured, the vertex colour is drawn
    uint32_t effect = gfxfx::kOpaque;  // the draw-effect word
    bool modulate = false;       // texture x vertex colour (also implied by effect bit 28)
    bool alphaTest = false;      // discard fragments whose 8-bit alpha is 0
    bool linearFilter = false;   // bilinear when true, nearest texel when false
};

class GraphicsBackend {
public:
    static constexpr int kFrameWidth = 1024;
    static constexpr int kFrameHeight = 768;

    virtual ~GraphicsBackend() = default;

    // True for the backend that draws nothing.
    virtual bool IsNull() const = 0;

    // A human-readable description of the renderer (for logs).
    virtual std::string Describe() const = 0;

    // Called when an image uploads a texture: makes a w x h RGBA texture from
    // w*h words 0xAARRGGBB, top row first. Answers 0 when it cannot.
    virtual GfxTexture CreateTexture(int width, int height, const uint32_t* argb) = 0;

    // Replaces the whole content of a texture made by CreateTexture with the
    // same size. False when the texture is unknown or the size differs.
    virtual bool UpdateTexture(GfxTexture texture, int width, int height, const uint32_t* argb) = 0;

    // Releases a texture; 0 and unknown names are ignored.
    virtual void DeleteTexture(GfxTexture texture) = 0;

    // Called at the start of every frame: binds the 1024 x 768 target and,
    // when `clear` is set, clears it to `argb` (alpha ignored: the frame is
    // opaque, like a back buffer without an alpha channel).
    virtual void BeginFrame(bool clear, uint32_t argb) = 0;

    // Draws one batch. `indices` index `vertices`; triangles take three
    // indices each, lines two. The effect word chooses the blend: the opaque
    // word switches blending off, every other word maps its factor indices
    // (0-10: zero, one, source colour, inverse source colour, source alpha,
    // inverse source alpha, destination alpha, inverse destination alpha,
    // destination colour, inverse destination colour, saturated source alpha)
    // and operation index (0-4: add, reverse subtract, subtract, minimum,
    // maximum). Only called between BeginFrame and EndFrame.
    virtual void DrawBatch(const GfxDrawState& state, const GfxVertex* vertices, size_t vertexCount,
                           const uint32_t* indices, size_t indexCount) = 0;

    // Called when the frame is complete.
    virtual void EndFrame() = 0;

    // Called by the device's Flip. Reports whether the device is still usable;
    // the picture itself reaches the screen through PlatformWindow::Present.
    virtual GfxPresentResult Present() { return GfxPresentResult::Ok; }
    // After a lost present: true when the device can be reset now.
    virtual bool CanReset() { return true; }
    // Rebuilds the device (after loss, or for a new window mode). Textures
    // made before are gone afterwards; their owners upload them again.
    virtual bool Reset() { return true; }

    // Reads the finished frame as 1024 * 768 words 0xAARRGGBB, top row first.
    // False when the backend keeps no picture (the null backend).
    virtual bool ReadFrame(std::vector<uint32_t>& argb) = 0;

    // Copies the frame into the current window's default framebuffer of
    // drawable size w x h, scaled with the aspect ratio kept and black bars
    // around it. The window calls this before swapping.
    virtual void PresentToWindow(int drawableWidth, int drawableHeight) = 0;

    // Number of DrawBatch calls since construction (statistics).
    uint64_t BatchCount() const { return batches_; }

protected:
    uint64_t batches_ = 0;
};

// The backend that draws nothing. Texture names are handed out and
// remembered so that callers see the same life cycle as with a real device.
std::unique_ptr<GraphicsBackend> CreateNullGraphics();

// The OpenGL 3.3 core backend on the context that is current on this thread.
// nullptr (and the reason in `error`) when the context lacks what it needs.
std::unique_ptr<GraphicsBackend> CreateGLGraphics(std::string& error);

// Where the logical frame lands in a window of w x h pixels: the largest
// rectangle with the 4:3 aspect ratio, centred.
struct Letterbox {
    int x = 0, y = 0, width = GraphicsBackend::kFrameWidth, height = GraphicsBackend::kFrameHeight;
};
Letterbox ComputeLetterbox(int windowWidth, int windowHeight);

}  // namespace nb
