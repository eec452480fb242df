#include "render/RenderCanvas.h"

#include <algorithm>
#include <cmath>

#include "platform/Graphics.h"
#include "render/RenderDevices.h"
#include "render/RenderImages.h"

namespace nb {

struct TRenderCanvas::Impl {
    std::vector<GfxVertex> vertices;
    std::vector<uint32_t> indices;
    GfxPrimitive primitive = GfxPrimitive::Triangles;
    uint32_t effect = 0;
    GfxTexture texture = 0;
    bool ready = false;  // buffers exist: the device is live and not lost
    int subscription = -1;

    void allocate(int cache) {
        vertices.clear();
        indices.clear();
        vertices.reserve(size_t(cache));
        indices.reserve(size_t(cache));
        ready = true;
    }
    void release() {
        vertices = {};
        indices = {};
        ready = false;
    }
};

namespace {

// Textured corners move by half a pixel so that texel centres meet pixel
// centres.
constexpr double kTexelShift = -0.5;
constexpr uint32_t kQuadIndices[6] = {0, 1, 3, 1, 2, 3};

uint32_t WithModulate(uint32_t effect, const uint32_t* colors, int n) {
    for (int i = 0; i < n; ++i)
        if (colors[i] != 0xFFFFFFFFu) return effect | gfxfx::kModulate;
    return effect;
}

}  // namespace

TRenderCanvas::TRenderCanvas(TRenderDevice* device) : device_(device), impl_(new Impl) {
    if (!device_) return;
    impl_->subscription = device_->Subscribe([this](TDeviceEvent e) {
        switch (e) {
            case devInitialize:
            case devReset:
                impl_->allocate(std::max(VertexCache, 4));
                break;
            case devFinalize:
            case devLost:
                impl_->release();
                break;
            case devBeginScene:
                // The batch is empty at the start of every scene.
                impl_->vertices.clear();
                impl_->indices.clear();
                break;
            case devEndScene:
                Flush();
                break;
        }
    });
    if (device_->Live() && !device_->Lost()) impl_->allocate(std::max(VertexCache, 4));
}

TRenderCanvas::~TRenderCanvas() {
    if (device_ && impl_->subscription >= 0) device_->Unsubscribe(impl_->subscription);
    delete impl_;
}

int TRenderCanvas::PendingVertices() const { return int(impl_->vertices.size()); }
bool TRenderCanvas::Ready() const { return impl_->ready; }

void TRenderCanvas::Flush() {
    Impl& b = *impl_;
    if (b.vertices.empty() || b.indices.empty()) {
        b.vertices.clear();
        b.indices.clear();
        return;
    }
    GraphicsBackend* backend = device_ ? device_->Backend() : nullptr;
    if (b.ready && backend) {
        GfxDrawState st;
        st.primitive = b.primitive;
        st.texture = b.texture;
        st.effect = b.effect;
        st.modulate = (b.effect & gfxfx::kModulate) != 0;
        st.alphaTest = AlphaTesting && !gfxfx::IsOpaque(b.effect);
        st.linearFilter = antialias_;
        backend->DrawBatch(st, b.vertices.data(), b.vertices.size(), b.indices.data(), b.indices.size());
        ++drawCalls_;
    }
    b.vertices.clear();
    b.indices.clear();
}

void TRenderCanvas::SetAntialias(bool on) {
    if (on == antialias_) return;
    Flush();
    antialias_ = on;
}

void TRenderCanvas::addPrimitive(bool lines, uint32_t effect, uint32_t texture, const GfxVertex* v, int nv,
                                 const uint32_t* idx, int ni) {
    Impl& b = *impl_;
    if (!b.ready) return;
    const size_t cache = size_t(std::max(VertexCache, 4));
    const GfxPrimitive kind = lines ? GfxPrimitive::Lines : GfxPrimitive::Triangles;
    if (!b.vertices.empty()) {
        if (b.vertices.size() + size_t(nv) > cache || b.indices.size() + size_t(ni) > cache || b.primitive != kind ||
            b.effect != effect || b.texture != texture)
            Flush();
    }
    if (b.vertices.empty()) {
        b.primitive = kind;
        b.effect = effect;
        b.texture = texture;
    }
    const uint32_t base = uint32_t(b.vertices.size());
    b.vertices.insert(b.vertices.end(), v, v + nv);
    for (int i = 0; i < ni; ++i) b.indices.push_back(base + idx[i]);
}

void TRenderCanvas::FillRect(int x, int y, int width, int height, uint32_t color, uint32_t effect) {
    if (!impl_->ready) return;
    const float l = float(x), t = float(y), r = float(double(x) + width), btm = float(double(y) + height);
    const GfxVertex v[4] = {{l, t, 0, 0, color}, {r, t, 0, 0, color}, {r, btm, 0, 0, color}, {l, btm, 0, 0, color}};
    addPrimitive(false, WithModulate(effect, &color, 1), 0, v, 4, kQuadIndices, 6);
}

void TRenderCanvas::FrameRect(int x, int y, int width, int height, uint32_t color, uint32_t effect) {
    if (!impl_->ready) return;
    // The right and bottom edges lie one pixel inside, so that the outline
    // covers exactly the pixels of the filled rectangle's border.
    const double r = double(x) + width - 1, b = double(y) + height - 1;
    const TPoint2 c[4] = {{double(x), double(y)}, {r, double(y)}, {r, b}, {double(x), b}};
    for (int i = 0; i < 4; ++i) Line(c[i], c[(i + 1) % 4], color, effect);
}

void TRenderCanvas::Rectangle(int x, int y, int width, int height, uint32_t fill, uint32_t frame, uint32_t effect) {
    FillRect(x, y, width, height, fill, effect);
    FrameRect(x, y, width, height, frame, effect);
}

void TRenderCanvas::FillTriangle(TPoint2 a, TPoint2 b, TPoint2 c, uint32_t color, uint32_t effect) {
    if (!impl_->ready) return;
    const GfxVertex v[3] = {{float(a.x), float(a.y), 0, 0, color},
                            {float(b.x), float(b.y), 0, 0, color},
                            {float(c.x), float(c.y), 0, 0, color}};
    static const uint32_t idx[3] = {0, 1, 2};
    addPrimitive(false, WithModulate(effect, &color, 1), 0, v, 3, idx, 3);
}

void TRenderCanvas::Line(TPoint2 a, TPoint2 b, uint32_t color, uint32_t effect) {
    if (!impl_->ready) return;
    const GfxVertex v[2] = {{float(a.x), float(a.y), 0, 0, color}, {float(b.x), float(b.y), 0, 0, color}};
    static const uint32_t idx[2] = {0, 1};
    addPrimitive(true, WithModulate(effect, &color, 1), 0, v, 2, idx, 2);
}

void TRenderCanvas::Draw(TRenderImage* image, double x, double y, int pattern, uint32_t color, uint32_t effect) {
    if (!image || !impl_->ready) return;
    const double w = image->VisibleWidth, h = image->VisibleHeight;
    const TPoint2 c[4] = {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
    const uint32_t colors[4] = {color, color, color, color};
    TDrawSource src;
    src.pattern = pattern;
    DrawMap(image, c, colors, src, effect);
}

void TRenderCanvas::DrawRot(TRenderImage* image, double x, double y, double angle, double scale, uint32_t color,
                            int pattern, uint32_t effect) {
    if (!image || !impl_->ready) return;
    const double hw = image->VisibleWidth * scale / 2, hh = image->VisibleHeight * scale / 2;
    const double cs = std::cos(angle), sn = std::sin(angle);
    const double dx[4] = {-hw, hw, hw, -hw}, dy[4] = {-hh, -hh, hh, hh};
    TPoint2 c[4];
    for (int i = 0; i < 4; ++i) c[i] = {x + dx[i] * cs - dy[i] * sn, y + dx[i] * sn + dy[i] * cs};
    const uint32_t colors[4] = {color, color, color, color};
    TDrawSource src;
    src.pattern = pattern;
    DrawMap(image, c, colors, src, effect);
}

void TRenderCanvas::DrawMap(TRenderImage* image, const TPoint2 corners[4], const uint32_t colors[4],
                            const TDrawSource& source, uint32_t effect) {
    if (!image || !corners || !colors || !impl_->ready) return;
    int texture = 0;
    float u0, v0, u1, v1;
    if (!image->PatternUV(source.pattern, source.x, source.y, source.width, source.height, texture, u0, v0, u1, v1))
        return;
    const GfxTexture handle = image->Handle(texture);
    if (!handle) return;
    if (source.mirror) std::swap(u0, u1);
    if (source.flip) std::swap(v0, v1);
    const float us[4] = {u0, u1, u1, u0}, vs[4] = {v0, v0, v1, v1};
    GfxVertex v[4];
    for (int i = 0; i < 4; ++i)
        v[i] = {float(corners[i].x + kTexelShift), float(corners[i].y + kTexelShift), us[i], vs[i], colors[i]};
    addPrimitive(false, WithModulate(effect, colors, 4), handle, v, 4, kQuadIndices, 6);
}

}  // namespace nb
