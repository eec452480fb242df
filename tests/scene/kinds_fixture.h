// A small world for the element-kind tests: a device on a backend that
// records every quad the canvas hands it, an image list, a font list, the
// picture registry reading PNG files from a temporary folder, and a scene
// context whose interpreters know one extra routine, Mark(text), that records
// "<Id of SELF>:<text>" so tests can see which hooks ran and in what order.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/ResArchive.h"
#include "media/UnitNBIm.h"
#include "platform/FileSystem.h"
#include "platform/Graphics.h"
#include "platform/Png.h"
#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"
#include "render/RenderFonts.h"
#include "render/RenderImages.h"
#include "scene/Image.h"
#include "scene/Root.h"
#include "scene/Screen.h"
#include "scene/Shape.h"
#include "scene/Text.h"

namespace nb::kinds_test {

// One textured or untextured quad as the backend received it, with the
// canvas's half-pixel shift of textured corners taken back out.
struct Quad {
    GfxTexture texture = 0;
    uint32_t effect = 0;
    bool filtered = false;
    TPoint2 p[4];
    float u[4] = {}, v[4] = {};
    uint32_t color[4] = {};

    double Left() const { return std::min(std::min(p[0].x, p[1].x), std::min(p[2].x, p[3].x)); }
    double Right() const { return std::max(std::max(p[0].x, p[1].x), std::max(p[2].x, p[3].x)); }
    double Top() const { return std::min(std::min(p[0].y, p[1].y), std::min(p[2].y, p[3].y)); }
    double Bottom() const { return std::max(std::max(p[0].y, p[1].y), std::max(p[2].y, p[3].y)); }
};

class RecordingGraphics final : public GraphicsBackend {
public:
    bool IsNull() const override { return false; }
    std::string Describe() const override { return "quad recorder"; }
    GfxTexture CreateTexture(int w, int h, const uint32_t* argb) override {
        return (w > 0 && h > 0 && argb) ? ++last_ : 0;
    }
    bool UpdateTexture(GfxTexture, int, int, const uint32_t*) override { return true; }
    void DeleteTexture(GfxTexture) override {}
    void BeginFrame(bool, uint32_t) override {}
    void DrawBatch(const GfxDrawState& st, const GfxVertex* v, size_t nv, const uint32_t*, size_t) override {
        ++batches_;
        if (st.primitive != GfxPrimitive::Triangles) return;
        const double shift = st.texture ? 0.5 : 0.0;
        for (size_t q = 0; q + 4 <= nv; q += 4) {
            Quad r;
            r.texture = st.texture;
            r.effect = st.effect;
            r.filtered = st.linearFilter;
            for (int i = 0; i < 4; ++i) {
                r.p[i] = {v[q + size_t(i)].x + shift, v[q + size_t(i)].y + shift};
                r.u[i] = v[q + size_t(i)].u;
                r.v[i] = v[q + size_t(i)].v;
                r.color[i] = v[q + size_t(i)].color;
            }
            quads.push_back(r);
        }
    }
    void EndFrame() override {}
    bool ReadFrame(std::vector<uint32_t>& argb) override {
        argb.clear();
        return false;
    }
    void PresentToWindow(int, int) override {}

    std::vector<Quad> quads;

private:
    GfxTexture last_ = 0;
};

class KindsWorld {
public:
    KindsWorld()
        : ctx([this](TScriptEngine& eng) {
              eng.SetFunction("Mark", [this](TScriptEngine&, TVarList& args, TVar&) {
                  const TNBElement* self = ctx.currentElement;
                  marks.push_back((self ? self->Id() : std::string("?")) + ":" +
                                  (args.Count() ? asciiUpper(args[0].value.toString()) : std::string()));
                  return true;
              });
          }),
          registry(images, archive, ctx.imageLoad) {
        char tmpl[] = "/tmp/nb-kinds-XXXXXX";
        const char* made = mkdtemp(tmpl);
        folder = made ? std::string(made) + "/" : std::string("/tmp/");
        registry.SetGameFolder(folder, asciiUpper(folder));
        ctx.device = &device;
        ctx.canvas = &canvas;
        ctx.images = &images;
        ctx.fonts = &fonts;
        ctx.archive = &archive;
        ctx.imageRegistry = &registry;
        device.Initialize();
        root = &ctx.CreateRoot();
    }
    ~KindsWorld() {
        for (const std::string& f : written) fs::removeFile(folder + f);
        rmdir(folder.c_str());
    }

    // Writes a w x h PNG picture whose pixel (x, y) is px(x, y) and answers
    // its name for imImage / ImBack.
    std::string Picture(const std::string& name, int w, int h, const std::function<uint32_t(int, int)>& px) {
        std::vector<uint32_t> argb(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) argb[size_t(y) * size_t(w) + size_t(x)] = px(x, y);
        EXPECT_TRUE(WritePng(folder + name, w, h, argb)) << name;
        written.push_back(name);
        return name;
    }
    std::string Opaque(const std::string& name, int w, int h) {
        return Picture(name, w, h, [](int, int) { return 0xFFFFFFFFu; });
    }

    // A font of 96 glyphs (codes 32 ... 127), each `w` wide and `h` high, with
    // a real glyph picture so that it draws.
    TRenderFont* Font(const std::string& name, int w, int h) {
        TRenderFont* f = fonts.Add(name);
        f->FirstChar = 32;
        f->Glyphs.assign(96, TRenderFont::Glyph{w, h});
        f->Image.PatternWidth = f->Image.VisibleWidth = w;
        f->Image.PatternHeight = f->Image.VisibleHeight = h;
        f->Image.TextureWidth = 16 * w;
        f->Image.TextureHeight = 6 * h;
        Bitmap bmp;
        bmp.allocate(16 * w, 6 * h, 32);
        for (int y = 0; y < bmp.height; ++y)
            for (int x = 0; x < bmp.width; ++x) bmp.setArgb(x, y, 0xFFFFFFFFu);
        EXPECT_TRUE(f->Image.Fill(bmp));
        f->Loaded = true;
        return f;
    }

    template <class T>
    T* Make(TNBElement* parent, const std::string& id = std::string()) {
        T* e = TNBElement::Create<T>(ctx, parent);
        e->SetId(id);
        return e;
    }
    // Sets a published property by name through the same path the game file
    // and scripts use.
    static void Set(TNBElement* e, const char* name, TPropValue v) {
        ASSERT_TRUE(e->WritePropByName(name, std::move(v))) << name;
    }
    static void SetI(TNBElement* e, const char* name, int64_t v) { Set(e, name, TPropValue::Int(v)); }
    static void SetR(TNBElement* e, const char* name, double v) { Set(e, name, TPropValue::Real(v)); }
    static void SetS(TNBElement* e, const char* name, std::string v) { Set(e, name, TPropValue::Str(std::move(v))); }
    static TPropValue Get(TNBElement* e, const char* name) {
        TPropValue v;
        EXPECT_TRUE(e->ReadPropByName(name, v)) << name;
        return v;
    }

    // Renders one frame through the device and answers the quads drawn.
    std::vector<Quad> Frame(const std::function<void()>& draw) {
        backend.quads.clear();
        device.OnRender = draw;
        device.Render(0, true);
        device.OnRender = nullptr;
        return backend.quads;
    }
    // Renders `e` on each layer in [low, high] at offset (0, 0), as the shell
    // draws the current screen.
    std::vector<Quad> Layers(TNBElement* e, int low, int high) {
        return Frame([&] {
            for (int layer = low; layer <= high; ++layer) e->Render(layer, 0xFFFFFFFFu, 0, 0, 0);
        });
    }
    // The shell's hit test: layers from high to low, margin and threshold 0.
    static TNBElement* Hit(TNBElement* e, int x, int y, int low = 0, int high = 0) {
        for (int layer = high; layer >= low; --layer)
            if (TNBElement* h = e->HitTest(layer, x, y, 0, 0)) return h;
        return nullptr;
    }

    RecordingGraphics backend;
    TRenderDevice device{&backend};
    TRenderCanvas canvas{&device};
    TRenderImages images{&device};
    TRenderFonts fonts{&device, &canvas};
    TResArchive archive;
    std::vector<std::string> marks;
    TSceneContext ctx;
    TImageRegistry registry;
    TNBDB* root = nullptr;
    std::string folder;
    std::vector<std::string> written;
};

}  // namespace nb::kinds_test
