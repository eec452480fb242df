#include "render/RenderImages.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <climits>
#include <cstdint>

#include "platform/Graphics.h"
#include "render/RenderDevices.h"

namespace nb {

namespace {

// Channel layout of a pixel format: bit position and width of blue, green,
// red and alpha, lowest bits first. A width of 0 means the channel is absent
// and reads as 255.
struct ChannelLayout {
    uint8_t bytes;
    uint8_t shift[4];  // b, g, r, a
    uint8_t bits[4];
};

constexpr ChannelLayout kLayouts[11] = {
    {1, {0, 2, 5, 0}, {2, 3, 3, 0}},     // R3G3B2
    {2, {0, 5, 11, 0}, {5, 6, 5, 0}},    // R5G6B5
    {4, {0, 8, 16, 0}, {8, 8, 8, 0}},    // X8R8G8B8
    {2, {0, 5, 10, 0}, {5, 5, 5, 0}},    // X1R5G5B5
    {2, {0, 4, 8, 0}, {4, 4, 4, 0}},     // X4R4G4B4
    {4, {0, 8, 16, 24}, {8, 8, 8, 8}},   // A8R8G8B8
    {2, {0, 5, 10, 15}, {5, 5, 5, 1}},   // A1R5G5B5
    {2, {0, 4, 8, 12}, {4, 4, 4, 4}},    // A4R4G4B4
    {2, {0, 2, 5, 8}, {2, 3, 3, 8}},     // A8R3G3B2
    {1, {0, 2, 4, 6}, {2, 2, 2, 2}},     // A2R2G2B2
    {1, {0, 0, 0, 0}, {0, 0, 0, 8}},     // A8
};

// v of n bits scaled to 0..255, to the nearest integer. 2^n - 1 is odd, so
// an exact half never occurs.
uint32_t Widen(uint32_t v, int n) {
    if (n == 0) return 255;
    const uint32_t max = (1u << n) - 1;
    return (v * 255 * 2 + max) / (2 * max);
}

// Largest texture side and total texel count an image may ask for; larger
// requests come from damaged data and are refused before allocating.
constexpr int kMaxTextureSide = 16384;
constexpr uint64_t kMaxTexels = uint64_t(1) << 28;

// Converts `count` pixels at `p`, laid out as a Bitmap row of
// `bitsPerPixel`, to ARGB words with `orAlpha` set.
void ConvertRow(const uint8_t* p, int bitsPerPixel, const std::vector<uint32_t>& palette, int count,
                uint32_t orAlpha, uint32_t* out) {
    switch (bitsPerPixel) {
        case 32:
            for (int i = 0; i < count; ++i, p += 4)
                out[i] = (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24) |
                         orAlpha;
            break;
        case 24: {
            int i = 0;
            if constexpr (std::endian::native == std::endian::little) {
                // Four pixels from three little-endian words: B G R B | G R B G | R B G R.
                for (; i + 4 <= count; i += 4, p += 12) {
                    uint32_t w[3];
                    std::memcpy(w, p, 12);
                    out[i] = 0xFF000000u | (w[0] & 0xFFFFFFu);
                    out[i + 1] = 0xFF000000u | (w[0] >> 24) | ((w[1] & 0xFFFFu) << 8);
                    out[i + 2] = 0xFF000000u | (w[1] >> 16) | ((w[2] & 0xFFu) << 16);
                    out[i + 3] = 0xFF000000u | (w[2] >> 8);
                }
            }
            for (; i < count; ++i, p += 3)
                out[i] = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[0]);
            break;
        }
        case 8: {
            const size_t n = palette.size();
            for (int i = 0; i < count; ++i) out[i] = (p[i] < n ? palette[p[i]] : 0xFF000000u) | orAlpha;
            break;
        }
        default: std::fill_n(out, size_t(count), orAlpha); break;
    }
}

GraphicsBackend* BackendOf(TRenderDevice* device) {
    if (!device || !device->Live() || device->Lost()) return nullptr;
    return device->Backend();
}

}  // namespace

int PixelFormatBytes(int format) { return format >= 0 && format < 11 ? kLayouts[format].bytes : 0; }

uint32_t PixelToArgb(int format, const uint8_t* src) {
    if (format < 0 || format >= 11 || !src) return 0;
    const ChannelLayout& l = kLayouts[format];
    uint32_t raw = 0;
    for (int i = 0; i < l.bytes; ++i) raw |= uint32_t(src[i]) << (8 * i);
    uint32_t c[4];
    for (int ch = 0; ch < 4; ++ch) {
        const int n = l.bits[ch];
        const uint32_t v = n ? (raw >> l.shift[ch]) & ((1u << n) - 1) : 0;
        c[ch] = Widen(v, n);
    }
    return (c[3] << 24) | (c[2] << 16) | (c[1] << 8) | c[0];
}

// ---------------------------------------------------------------------------
// TRenderImage

TRenderImage::TRenderImage(TRenderImages* owner) : owner_(owner), device_(owner ? owner->Device() : nullptr) {}

TRenderImage::~TRenderImage() {
    ReleaseTextures();
    RecycleTexels();
}

void TRenderImage::AllocateTexels(size_t count, size_t texels) {
    RecycleTexels();
    texels_.resize(count);
    for (auto& tex : texels_) {
        if (owner_) tex = owner_->TakeTexels(texels);
        tex.resize(texels);
    }
}

void TRenderImage::RecycleTexels() {
    if (owner_)
        for (auto& tex : texels_) owner_->GiveTexels(std::move(tex));
    texels_.clear();
}

int TRenderImage::PatternsPerRow() const { return PatternWidth > 0 ? TextureWidth / PatternWidth : 0; }
int TRenderImage::PatternRows() const { return PatternHeight > 0 ? TextureHeight / PatternHeight : 0; }
int TRenderImage::PatternsPerTexture() const {
    const int64_t n = int64_t(PatternsPerRow()) * PatternRows();
    return n > INT32_MAX ? INT32_MAX : int(n);
}

int TRenderImage::DeviceFormat() const {
    return AlphaLevel == TAlphaLevel::alNone ? pfX8R8G8B8 : pfA8R8G8B8;
}

bool TRenderImage::Prepare() {
    if (PatternWidth <= 0) PatternWidth = TextureWidth;
    if (PatternHeight <= 0) PatternHeight = TextureHeight;
    if (VisibleWidth <= 0) VisibleWidth = TextureWidth;
    if (VisibleHeight <= 0) VisibleHeight = TextureHeight;
    if (TextureWidth <= 0 || TextureHeight <= 0) return false;
    if (TextureWidth < PatternWidth || TextureHeight < PatternHeight) return false;
    if (PatternWidth < VisibleWidth || PatternHeight < VisibleHeight) return false;
    if (PatternCount <= 0) {
        const int64_t n = int64_t(PatternsPerTexture()) * std::max(TextureCount, 0);
        PatternCount = n > INT32_MAX ? INT32_MAX : int(n);
    }
    return true;
}

void TRenderImage::Clear() {
    ReleaseTextures();
    RecycleTexels();
    fill_.reset();
    TextureCount = 0;
}

uint32_t TRenderImage::Handle(int i) const {
    return i >= 0 && size_t(i) < handles_.size() ? handles_[size_t(i)] : 0;
}

void TRenderImage::ReleaseTextures() {
    GraphicsBackend* backend = device_ ? device_->Backend() : nullptr;
    for (uint32_t h : handles_)
        if (h && backend) backend->DeleteTexture(h);
    handles_.clear();
}

bool TRenderImage::RestoreTextures() {
    ReleaseTextures();
    return Upload();
}

bool TRenderImage::Upload() {
    GraphicsBackend* backend = BackendOf(device_);
    if (!backend) return true;  // made when the device comes up
    handles_.assign(texels_.size(), 0);
    for (size_t i = 0; i < texels_.size(); ++i) {
        handles_[i] = backend->CreateTexture(TextureWidth, TextureHeight, texels_[i].data());
        if (!handles_[i]) {
            ReleaseTextures();
            return false;
        }
    }
    return true;
}

uint32_t TRenderImage::Pixel(int x, int y, int texture) const {
    if (texture < 0 || size_t(texture) >= texels_.size()) return 0;
    if (x < 0 || y < 0 || x >= TextureWidth || y >= TextureHeight) return 0;
    const auto& t = texels_[size_t(texture)];
    const size_t at = size_t(y) * size_t(TextureWidth) + size_t(x);
    return at < t.size() ? t[at] : 0;
}

bool TRenderImage::Fill(const Bitmap& source) {
    if (source.empty() || source.pixels.size() < source.stride() * size_t(source.height)) {
        ReleaseTextures();
        RecycleTexels();
        return false;
    }
    if (!BeginFill(source.width, source.height, source.bitsPerPixel, source.palette)) return false;
    for (int y = 0; y < source.height; ++y) FillRow(y, source.pixels.data() + size_t(y) * source.stride());
    return EndFill();
}

bool TRenderImage::BeginFill(int width, int height, int bitsPerPixel, const std::vector<uint32_t>& palette) {
    ReleaseTextures();
    RecycleTexels();
    fill_.reset();
    if (width <= 0 || height <= 0) return false;
    if (bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32) return false;
    if (!Prepare()) return false;
    if (TextureWidth > kMaxTextureSide || TextureHeight > kMaxTextureSide) return false;
    FillPlan plan;
    plan.perRow = PatternsPerRow();
    plan.perTexture = PatternsPerTexture();
    if (plan.perTexture <= 0) return false;

    plan.across = width / PatternWidth;
    plan.down = height / PatternHeight;
    plan.frames = int64_t(plan.across) * plan.down;
    if (plan.frames <= 0) {
        TextureCount = 0;
        return false;  // the picture is smaller than one pattern
    }
    const int64_t textures = (plan.frames + plan.perTexture - 1) / plan.perTexture;
    if (uint64_t(textures) * uint64_t(TextureWidth) * uint64_t(TextureHeight) > kMaxTexels) return false;
    TextureCount = int(textures);
    if (PatternCount <= 0) PatternCount = int(std::min<int64_t>(int64_t(plan.perTexture) * TextureCount, INT32_MAX));

    const bool opaque = bitsPerPixel != 32;
    plan.forceAlpha = opaque || DeviceFormat() == pfX8R8G8B8 ? 0xFF000000u : 0u;
    plan.bitsPerPixel = bitsPerPixel;
    plan.palette = &palette;
    // Every texel is written (frames by FillRow, empty cells and the gutter
    // by EndFill), so the buffers start uninitialised.
    AllocateTexels(size_t(TextureCount), size_t(TextureWidth) * size_t(TextureHeight));
    fill_ = plan;
    return true;
}

uint8_t* TRenderImage::FillDestination(int y) {
    if (!fill_ || fill_->bitsPerPixel != 32 || fill_->frames != 1 || y != fill_->nextRow || y >= PatternHeight)
        return nullptr;
    return reinterpret_cast<uint8_t*>(texels_[0].data() + size_t(y) * size_t(TextureWidth));
}

void TRenderImage::FillRow(int y, const uint8_t* row) {
    if (!fill_ || y != fill_->nextRow) {
        fill_.reset();  // out of order: EndFill refuses the picture
        return;
    }
    FillPlan& plan = *fill_;
    ++plan.nextRow;
    if (y >= plan.down * PatternHeight) return;  // below the last whole row of frames
    const int frameRow = y / PatternHeight;
    const int inFrame = y % PatternHeight;
    const size_t tw = size_t(TextureWidth);
    const size_t frameBytes = size_t(PatternWidth) * size_t(plan.bitsPerPixel / 8);
    for (int column = 0; column < plan.across; ++column) {
        const int64_t i = int64_t(frameRow) * plan.across + column;
        const int cell = int(i % plan.perTexture);
        const int cx = (cell % plan.perRow) * PatternWidth;
        const int cy = (cell / plan.perRow) * PatternHeight;
        uint32_t* out = texels_[size_t(i / plan.perTexture)].data() + size_t(cy + inFrame) * tw + size_t(cx);
        // Written in place (FillDestination): only the alpha rule is left.
        if (reinterpret_cast<const uint8_t*>(out) == row + size_t(column) * frameBytes && plan.forceAlpha == 0) continue;
        ConvertRow(row + size_t(column) * frameBytes, plan.bitsPerPixel, *plan.palette, PatternWidth,
                   plan.forceAlpha, out);
    }
}

bool TRenderImage::EndFill() {
    // A picture whose rows did not all arrive would leave texels unwritten.
    if (!fill_ || fill_->nextRow < fill_->down * PatternHeight) {
        fill_.reset();
        Clear();
        return false;
    }
    const FillPlan plan = *fill_;
    fill_.reset();
    const size_t tw = size_t(TextureWidth);
    // Cells of the last texture that no frame reaches stay transparent black.
    const int lastCells = int(plan.frames - int64_t(TextureCount - 1) * plan.perTexture);
    auto& last = texels_.back();
    for (int cell = lastCells; cell < plan.perTexture; ++cell) {
        const int cx = (cell % plan.perRow) * PatternWidth;
        const int cy = (cell / plan.perRow) * PatternHeight;
        for (int y = 0; y < PatternHeight; ++y)
            std::fill_n(last.data() + size_t(cy + y) * tw + size_t(cx), size_t(PatternWidth), 0u);
    }

    // Texels right of and below the grid of cells belong to no frame; they
    // repeat the nearest edge texel so that bilinear filtering at a frame's
    // border does not fade into transparent black.
    const int gridW = plan.perRow * PatternWidth;
    const int gridH = PatternRows() * PatternHeight;
    for (auto& tex : texels_) {
        for (int y = 0; y < TextureHeight; ++y) {
            const int sy = std::min(y, gridH - 1);
            uint32_t* row = tex.data() + size_t(y) * tw;
            const uint32_t* src = tex.data() + size_t(sy) * tw;
            if (y >= gridH) std::copy_n(src, size_t(gridW), row);
            std::fill(row + gridW, row + TextureWidth, src[gridW - 1]);
        }
    }
    PixelFormat = DeviceFormat();
    if (!Upload()) {
        Clear();
        return false;
    }
    return true;
}

bool TRenderImage::LoadFromPayload(ByteReader& in) {
    Clear();
    uint8_t format = 0;
    int32_t pw, ph, vw, vh, count, tw, th, tc;
    if (!in.u8(format) || !in.i32(pw) || !in.i32(ph) || !in.i32(vw) || !in.i32(vh) || !in.i32(count) ||
        !in.i32(tw) || !in.i32(th) || !in.i32(tc))
        return false;
    const int bpp = PixelFormatBytes(format);
    if (bpp == 0 || tc < 0) return false;
    if (tw <= 0 || th <= 0 || tw > kMaxTextureSide || th > kMaxTextureSide) return false;
    // Every texture must be present in full; checking before allocating
    // keeps a damaged count from reserving gigabytes.
    const uint64_t rowBytes = uint64_t(tw) * uint64_t(bpp);
    if (uint64_t(tc) * uint64_t(th) * rowBytes > in.remaining()) {
        in.skip(in.remaining() + 1);  // mark the reader failed: the payload is short
        return false;
    }
    PatternWidth = pw;
    PatternHeight = ph;
    VisibleWidth = vw;
    VisibleHeight = vh;
    PatternCount = count;
    TextureWidth = tw;
    TextureHeight = th;
    TextureCount = tc;
    if (!Prepare()) {
        Clear();
        return false;
    }
    const bool noAlpha = DeviceFormat() == pfX8R8G8B8;
    AllocateTexels(size_t(tc), size_t(tw) * size_t(th));  // every row is read below
    std::string_view row;
    for (int t = 0; t < tc; ++t) {
        uint32_t* out = texels_[size_t(t)].data();
        for (int y = 0; y < th; ++y) {
            if (!in.view(size_t(rowBytes), row)) {
                Clear();
                return false;
            }
            const uint8_t* p = reinterpret_cast<const uint8_t*>(row.data());
            for (int x = 0; x < tw; ++x, p += bpp) {
                uint32_t c = PixelToArgb(format, p);
                *out++ = noAlpha ? (c | 0xFF000000u) : c;
            }
        }
    }
    PixelFormat = DeviceFormat();
    if (!Upload()) {
        Clear();
        return false;
    }
    return true;
}

bool TRenderImage::PatternUV(int pattern, int subX, int subY, int subW, int subH, int& texture, float& u0,
                             float& v0, float& u1, float& v1) const {
    const int perTexture = PatternsPerTexture();
    if (texels_.empty() || PatternCount <= 0 || perTexture <= 0) return false;
    const int index = std::clamp(pattern, 0, PatternCount - 1);
    texture = index / perTexture;
    if (texture >= int(texels_.size())) return false;  // more patterns declared than stored
    const int cell = index % perTexture;
    const int perRow = PatternsPerRow();
    const int column = cell % perRow;
    const int row = (cell / perRow) % PatternRows();
    // The visible part is centred in its cell; div rounds toward zero.
    const int x0 = column * PatternWidth + (PatternWidth - VisibleWidth) / 2 + subX;
    const int y0 = row * PatternHeight + (PatternHeight - VisibleHeight) / 2 + subY;
    const int x1 = x0 + (subW < 1 ? VisibleWidth : subW);
    const int y1 = y0 + (subH < 1 ? VisibleHeight : subH);
    u0 = float(double(x0) / TextureWidth);
    v0 = float(double(y0) / TextureHeight);
    u1 = float(double(x1) / TextureWidth);
    v1 = float(double(y1) / TextureHeight);
    return true;
}

// ---------------------------------------------------------------------------
// TRenderImages

TRenderImages::TRenderImages(TRenderDevice* device) : device_(device) {
    if (!device_) return;
    subscription_ = device_->Subscribe([this](TDeviceEvent e) {
        switch (e) {
            case devInitialize:
            case devReset:
                for (auto& image : images_) image->RestoreTextures();
                break;
            case devFinalize:
            case devLost:
                for (auto& image : images_) image->ReleaseTextures();
                break;
            default: break;
        }
    });
}

TRenderImages::~TRenderImages() {
    Clear();
    DropPooledTexels();
    if (device_ && subscription_ >= 0) device_->Unsubscribe(subscription_);
}

TRenderImage* TRenderImages::Add(const std::string& name) {
    images_.push_back(std::make_unique<TRenderImage>(this));
    images_.back()->Name = name;
    images_.back()->MipMapping = MipMappping;
    return images_.back().get();
}

void TRenderImages::Remove(TRenderImage* image) {
    auto it = std::find_if(images_.begin(), images_.end(), [image](const auto& p) { return p.get() == image; });
    if (it != images_.end()) images_.erase(it);
}

void TRenderImages::Clear() { images_.clear(); }

TTexelBuffer TRenderImages::TakeTexels(size_t texels) {
    auto fit = pool_.lower_bound(texels);
    if (fit != pool_.end() && fit->first / 2 <= texels) {
        TTexelBuffer buffer = std::move(fit->second);
        pooledBytes_ -= fit->first * sizeof(uint32_t);
        pool_.erase(fit);
        return buffer;
    }
    // Nothing fits: make room for the fresh buffer, largest kept ones first.
    size_t freed = 0;
    while (freed < texels && !pool_.empty()) {
        auto largest = std::prev(pool_.end());
        freed += largest->first;
        pooledBytes_ -= largest->first * sizeof(uint32_t);
        pool_.erase(largest);
    }
    return {};
}

void TRenderImages::GiveTexels(TTexelBuffer&& buffer) {
    const size_t capacity = buffer.capacity();
    if (capacity == 0) return;
    pooledBytes_ += capacity * sizeof(uint32_t);
    pool_.emplace(capacity, std::move(buffer));
}

void TRenderImages::DropPooledTexels() {
    pool_.clear();
    pooledBytes_ = 0;
}

}  // namespace nb
