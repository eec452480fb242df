// A graphics backend for tests: remembers every texture and every draw call
// with its state and vertices, and can be told to report a lost device.
#pragma once

#include <map>
#include <vector>

#include "platform/Graphics.h"

namespace nb::test {

class RecordingBackend final : public GraphicsBackend {
public:
    struct Batch {
        GfxDrawState state;
        std::vector<GfxVertex> vertices;
        std::vector<uint32_t> indices;
    };
    struct Texture {
        int width = 0, height = 0;
        std::vector<uint32_t> texels;
    };

    bool IsNull() const override { return false; }
    std::string Describe() const override { return "recording backend"; }

    GfxTexture CreateTexture(int width, int height, const uint32_t* argb) override {
        if (failTextures) return 0;
        GfxTexture name = ++lastName;
        textures[name] = {width, height, std::vector<uint32_t>(argb, argb + size_t(width) * size_t(height))};
        return name;
    }
    bool UpdateTexture(GfxTexture t, int w, int h, const uint32_t* argb) override {
        auto it = textures.find(t);
        if (it == textures.end() || it->second.width != w || it->second.height != h) return false;
        it->second.texels.assign(argb, argb + size_t(w) * size_t(h));
        return true;
    }
    void DeleteTexture(GfxTexture t) override { textures.erase(t); }
    void BeginFrame(bool clear, uint32_t argb) override {
        ++frames;
        lastClear = clear ? int64_t(argb) : -1;
    }
    void DrawBatch(const GfxDrawState& st, const GfxVertex* v, size_t nv, const uint32_t* idx, size_t ni) override {
        ++batches_;
        batches.push_back({st, std::vector<GfxVertex>(v, v + nv), std::vector<uint32_t>(idx, idx + ni)});
    }
    void EndFrame() override {}
    GfxPresentResult Present() override {
        ++presents;
        return presentResult;
    }
    bool CanReset() override { return canReset; }
    bool Reset() override {
        ++resets;
        return resetSucceeds;
    }
    bool ReadFrame(std::vector<uint32_t>& argb) override {
        argb.clear();
        return false;
    }
    void PresentToWindow(int, int) override {}

    GfxTexture lastName = 0;
    std::map<GfxTexture, Texture> textures;
    std::vector<Batch> batches;
    int frames = 0;
    int64_t lastClear = -1;
    int presents = 0;
    int resets = 0;
    bool failTextures = false;
    GfxPresentResult presentResult = GfxPresentResult::Ok;
    bool canReset = true;
    bool resetSucceeds = true;
};

}  // namespace nb::test
