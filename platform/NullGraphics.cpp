// The graphics backend that draws nothing. It is used headless when no
// OpenGL context can be made, and by tests that must not need a GL driver.
// Texture names are still handed out and checked, so that the image and
// canvas life cycles behave exactly as they do on a real device.

#include <unordered_map>

#include "platform/Graphics.h"

namespace nb {

namespace {

class NullGraphics final : public GraphicsBackend {
public:
    bool IsNull() const override { return true; }
    std::string Describe() const override { return "null graphics (draws nothing)"; }

    GfxTexture CreateTexture(int width, int height, const uint32_t* argb) override {
        if (width <= 0 || height <= 0 || !argb) return 0;
        GfxTexture name = ++lastName_;
        if (name == 0) name = ++lastName_;  // wrapped: skip the "none" name
        sizes_[name] = {width, height};
        return name;
    }

    bool UpdateTexture(GfxTexture texture, int width, int height, const uint32_t* argb) override {
        auto it = sizes_.find(texture);
        return it != sizes_.end() && argb && it->second.first == width && it->second.second == height;
    }

    void DeleteTexture(GfxTexture texture) override { sizes_.erase(texture); }

    void BeginFrame(bool, uint32_t) override {}
    void DrawBatch(const GfxDrawState&, const GfxVertex*, size_t, const uint32_t*, size_t) override { ++batches_; }
    void EndFrame() override {}
    bool ReadFrame(std::vector<uint32_t>& argb) override {
        argb.clear();
        return false;
    }
    void PresentToWindow(int, int) override {}

private:
    GfxTexture lastName_ = 0;
    std::unordered_map<GfxTexture, std::pair<int, int>> sizes_;
};

}  // namespace

std::unique_ptr<GraphicsBackend> CreateNullGraphics() { return std::make_unique<NullGraphics>(); }

}  // namespace nb
