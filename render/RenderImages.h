// Images cut into equal patterns, held as textures on the device, with a CPU
// copy of every texture so that Pixel answers without the GPU (and the
// picture hit test works on the null device too).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/Memory.h"
#include "platform/ByteIO.h"

namespace nb {

class TRenderDevice;
class TRenderImages;

enum class TImageQuality : uint8_t { aqLow, aqMedium, aqHigh };
enum class TAlphaLevel : uint8_t { alNone, alMask, alFull, alExclusive };

// Pixel format indices of textures and payloads.
enum TPixelFormat : int {
    pfR3G3B2 = 0, pfR5G6B5 = 1, pfX8R8G8B8 = 2, pfX1R5G5B5 = 3, pfX4R4G4B4 = 4,
    pfA8R8G8B8 = 5, pfA1R5G5B5 = 6, pfA4R4G4B4 = 7, pfA8R3G3B2 = 8, pfA2R2G2B2 = 9, pfA8 = 10,
};
// Bytes per pixel of a format (0 for an unknown index).
int PixelFormatBytes(int format);
// Reads one pixel of `format` from `src` and widens it to 0xAARRGGBB (a
// channel of n bits with value v becomes round(v * 255 / (2^n - 1)); a
// missing channel reads 255).
uint32_t PixelToArgb(int format, const uint8_t* src);

// One texture's CPU copy: TextureWidth * TextureHeight ARGB words.
using TTexelBuffer = std::vector<uint32_t, PixelAllocator<uint32_t>>;

class TRenderImage {
public:
    explicit TRenderImage(TRenderImages* owner = nullptr);
    ~TRenderImage();
    TRenderImage(const TRenderImage&) = delete;
    TRenderImage& operator=(const TRenderImage&) = delete;

    std::string Name;
    int PatternWidth = 0, PatternHeight = 0;
    int VisibleWidth = 0, VisibleHeight = 0;
    int PatternCount = 0;
    int TextureWidth = 0, TextureHeight = 0;
    int TextureCount = 0;
    int PixelFormat = pfA8R8G8B8;
    TImageQuality Quality = TImageQuality::aqHigh;
    TAlphaLevel AlphaLevel = TAlphaLevel::alFull;
    bool MipMapping = false;

    int PatternsPerRow() const;
    int PatternRows() const;
    int PatternsPerTexture() const;

    // The preparation rules; false when the image is not valid.
    bool Prepare();
    // Builds the textures from a decoded picture (frame i -> pattern i).
    bool Fill(const Bitmap& bitmap);
    // Fill, a row at a time, for pictures that arrive as they are decoded:
    // BeginFill with the picture's size and layout (`palette` must live until
    // EndFill), FillRow for every row in order from 0, then EndFill, which
    // refuses the picture (and clears the image) unless every row came.
    bool BeginFill(int width, int height, int bitsPerPixel, const std::vector<uint32_t>& palette);
    // Where a 32-bit row y may be written in place, during a fill of a
    // picture that is one frame; nullptr when it must go through FillRow's
    // own copy. A row written there is still handed to FillRow.
    uint8_t* FillDestination(int y);
    void FillRow(int y, const uint8_t* row);
    bool EndFill();
    // Reads an image payload (the glyph picture of a font record).
    bool LoadFromPayload(ByteReader& in);
    // Texel (x, y) of texture `texture` as 0xAARRGGBB; 0 when out of range.
    uint32_t Pixel(int x, int y, int texture) const;

    // Texture coordinates of a pattern with an optional sub-rectangle:
    // u0,v0 (top-left) and u1,v1 (bottom-right) before mirror/flip. False
    // when the image has no textures or patterns.
    bool PatternUV(int pattern, int subX, int subY, int subW, int subH, int& texture,
                   float& u0, float& v0, float& u1, float& v1) const;

    // CPU copy of each texture, TextureWidth * TextureHeight ARGB words.
    const std::vector<TTexelBuffer>& Texels() const { return texels_; }
    // Backend texture handle of texture i (0 when none: the device is not
    // live, or the upload failed).
    uint32_t Handle(int i) const;

    // The pixel format textures are made in: A8R8G8B8, or X8R8G8B8 for
    // images without an alpha channel (alNone).
    int DeviceFormat() const;

    // Device life cycle: release and recreate the backend textures.
    void ReleaseTextures();
    bool RestoreTextures();

    // The device whose backend holds the textures (set from the owning list;
    // fonts attach their glyph images themselves). Textures are made only
    // while that device is live.
    void SetDevice(TRenderDevice* device) { device_ = device; }
    TRenderDevice* Device() const { return device_; }

    // Drops the textures and the CPU copy; the image describes no picture.
    void Clear();

private:
    friend class TRenderImages;
    bool Upload();
    // Sets up `count` CPU textures of `texels` words each, uninitialised,
    // reusing released buffers of the owning list where it has them.
    void AllocateTexels(size_t count, size_t texels);
    // Drops the CPU textures, handing their buffers back to the owning list.
    void RecycleTexels();
    // Where a fill in progress puts the rows of its picture.
    struct FillPlan {
        int across = 0, down = 0;  // whole frames in the picture
        int64_t frames = 0;
        int perRow = 0, perTexture = 0;
        int bitsPerPixel = 0;
        uint32_t forceAlpha = 0;
        const std::vector<uint32_t>* palette = nullptr;
        int nextRow = 0;
    };
    std::optional<FillPlan> fill_;
    TRenderImages* owner_;
    TRenderDevice* device_ = nullptr;
    std::vector<TTexelBuffer> texels_;
    std::vector<uint32_t> handles_;
};

// The image list: owns its images and forwards device events to them. The
// list must be destroyed before its device.
class TRenderImages {
public:
    explicit TRenderImages(TRenderDevice* device = nullptr);
    ~TRenderImages();
    TRenderImages(const TRenderImages&) = delete;
    TRenderImages& operator=(const TRenderImages&) = delete;

    bool MipMappping = false;

    TRenderImage* Add(const std::string& name);
    void Remove(TRenderImage* image);
    void Clear();
    size_t Count() const { return images_.size(); }
    TRenderDevice* Device() const { return device_; }

    // Bytes of released texel buffers kept for reuse.
    size_t PooledBytes() const { return pooledBytes_; }
    // Frees every kept buffer.
    void DropPooledTexels();

private:
    friend class TRenderImage;
    // A screen change releases about as many pictures as the next one
    // loads, and filling memory the process already holds costs a fraction
    // of faulting in fresh pages, so released texel buffers are kept for
    // the next images. TakeTexels answers a kept buffer holding `texels`
    // words with at most twice that capacity, or else frees kept buffers
    // worth at least the request and answers an empty one: the memory
    // held (images plus kept buffers) therefore never grows past what the
    // images alone once needed.
    TTexelBuffer TakeTexels(size_t texels);
    void GiveTexels(TTexelBuffer&& buffer);

    TRenderDevice* device_;
    std::multimap<size_t, TTexelBuffer> pool_;  // by capacity in words
    size_t pooledBytes_ = 0;
    std::vector<std::unique_ptr<TRenderImage>> images_;
    int subscription_ = -1;
};

}  // namespace nb
