// Bitmap fonts: glyph patterns in an image, per-glyph sizes, inline colour
// codes, loaded from the resource archive's font records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "render/RenderImages.h"

namespace nb {

class TRenderCanvas;
class TRenderDevice;
class TRenderFonts;
class TResArchive;

class TRenderFont {
public:
    // The glyph image is attached to the owner's device.
    explicit TRenderFont(TRenderFonts* owner);
    TRenderFont(const TRenderFont&) = delete;
    TRenderFont& operator=(const TRenderFont&) = delete;

    std::string Name;
    TRenderImage Image;
    int FirstChar = 32;
    int GlyphSpacing = 0;
    double ExtraSpacing = 0;
    double Scale = 1.0;
    bool InlineCodes = true;
    double MissingFactor = 0.3;
    struct Glyph {
        int32_t width = 0, height = 0;
    };
    std::vector<Glyph> Glyphs;
    bool Loaded = false;

    // Parses a font payload (header, glyph sizes, image payload). On failure
    // the font keeps no glyphs and draws and measures nothing.
    bool LoadFromPayload(const uint8_t* data, size_t size);
    TRenderFonts* Owner() const { return owner_; }

private:
    TRenderFonts* owner_;
};

// The font list: owns its fonts, forwards device events to their glyph
// images, and draws text on its canvas. Must be destroyed before its device.
class TRenderFonts {
public:
    TRenderFonts(TRenderDevice* device, TRenderCanvas* canvas);
    ~TRenderFonts();
    TRenderFonts(const TRenderFonts&) = delete;
    TRenderFonts& operator=(const TRenderFonts&) = delete;

    TRenderFont* Find(std::string_view name) const;  // case-insensitive
    TRenderFont* Add(const std::string& name);
    void RemoveAll();
    size_t Count() const { return fonts_.size(); }
    // Loads every font record (kind 3) of the archive; the first failing font
    // stops the walk. Answers false when a font failed.
    bool LoadFromArchive(TResArchive& archive);

    // Draws `text` (Windows-1251 bytes) from (x, y), top corners of every
    // glyph in `top`, bottom corners in `bottom`, with the inline colour
    // codes. Throws std::runtime_error "TRenderFont: Unassigned Owner
    // property." for a font of no list and "TRenderFont: Unassigned
    // Owner.Canvas property." when the font's list has no canvas.
    void TextOut(TRenderFont* font, std::string_view text, double x, double y, uint32_t top,
                 uint32_t bottom, uint32_t effect);
    double TextWidth(TRenderFont* font, std::string_view text) const;
    double TextHeight(TRenderFont* font, std::string_view text) const;
    void TextExtent(TRenderFont* font, std::string_view text, double& width, double& height) const;

    TRenderCanvas* Canvas() const { return canvas_; }
    TRenderDevice* Device() const { return device_; }
    TRenderFont* Font(size_t i) const { return i < fonts_.size() ? fonts_[i].get() : nullptr; }

private:
    TRenderDevice* device_;
    TRenderCanvas* canvas_;
    std::vector<std::unique_ptr<TRenderFont>> fonts_;
    int subscription_ = -1;
};

}  // namespace nb
