// The 2D canvas: batches textured and coloured quads, triangles and lines
// into one vertex and index buffer and flushes on effect word, texture,
// primitive kind and filtering changes.
#pragma once

#include <cstdint>
#include <vector>

namespace nb {

class TRenderDevice;
class TRenderImage;
struct GfxVertex;

struct TPoint2 {
    double x = 0, y = 0;
};

// Source of a DrawMap: a pattern index and an optional sub-rectangle of the
// visible cell (width or height below 1 = the whole visible width/height).
struct TDrawSource {
    int pattern = 0;
    int x = 0, y = 0, width = 0, height = 0;
    bool mirror = false;
    bool flip = false;
};

// Batching rules: one vertex and one index buffer of `VertexCache` entries
// each. A primitive is added to the current batch unless the batch must be
// drawn first: its vertices or indices would not fit, the primitive kind
// (lines or triangles) changes, the effect word differs from the batch's, or
// the texture differs. Textured quads are shifted by -0.5 so that texels land
// on pixels; untextured shapes are not. Bit 28 of the effect word is set when
// the colours are not all 0xFFFFFFFF (modulate). The batch is drawn at end of
// scene and when the antialias setting changes. Drawing while the device is
// not live (or lost) is discarded. The canvas must be destroyed before its
// device.
class TRenderCanvas {
public:
    explicit TRenderCanvas(TRenderDevice* device);
    ~TRenderCanvas();
    TRenderCanvas(const TRenderCanvas&) = delete;
    TRenderCanvas& operator=(const TRenderCanvas&) = delete;

    bool AlphaTesting = true;
    int VertexCache = 4096;
    bool Dithering = false;

    void FillRect(int x, int y, int width, int height, uint32_t color, uint32_t effect);
    void FrameRect(int x, int y, int width, int height, uint32_t color, uint32_t effect);
    void Rectangle(int x, int y, int width, int height, uint32_t fill, uint32_t frame, uint32_t effect);
    void FillTriangle(TPoint2 a, TPoint2 b, TPoint2 c, uint32_t color, uint32_t effect);
    void Line(TPoint2 a, TPoint2 b, uint32_t color, uint32_t effect);
    void Draw(TRenderImage* image, double x, double y, int pattern, uint32_t color, uint32_t effect);
    void DrawRot(TRenderImage* image, double x, double y, double angle, double scale, uint32_t color,
                 int pattern, uint32_t effect);
    // Corners in the order top-left, top-right, bottom-right, bottom-left.
    void DrawMap(TRenderImage* image, const TPoint2 corners[4], const uint32_t colors[4],
                 const TDrawSource& source, uint32_t effect);
    void SetAntialias(bool on);
    bool Antialias() const { return antialias_; }
    void Flush();

    // Draw calls issued since the counter was last reset (for tests/bench).
    int DrawCalls() const { return drawCalls_; }
    void ResetDrawCalls() { drawCalls_ = 0; }
    // Vertices waiting in the current batch.
    int PendingVertices() const;
    // True between the device's initialise (or reset) and finalise (or loss).
    bool Ready() const;

private:
    struct Impl;
    // Adds one primitive (vertices and indices relative to them), drawing the
    // batch first when the batching rules say so.
    void addPrimitive(bool lines, uint32_t effect, uint32_t texture, const GfxVertex* vertices, int vertexCount,
                      const uint32_t* indices, int indexCount);
    TRenderDevice* device_;
    bool antialias_ = false;
    int drawCalls_ = 0;
    Impl* impl_;
};

}  // namespace nb
