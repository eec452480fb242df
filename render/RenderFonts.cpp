#include "render/RenderFonts.h"

#include <algorithm>
#include <stdexcept>

#include "archive/ResArchive.h"
#include "platform/ByteIO.h"
#include "platform/Text.h"
#include "render/RenderCanvas.h"
#include "render/RenderDevices.h"

namespace nb {

namespace {

// Eight hexadecimal digits as a 32-bit word; false when any is not a digit.
bool ParseHex8(std::string_view s, uint32_t& out) {
    if (s.size() != 8) return false;
    uint32_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = (v << 4) | uint32_t(d);
    }
    out = v;
    return true;
}

// Walks a text as TextOut draws it. For every character that is not part of
// an inline colour code, calls step(glyph index or -1 when the font has no
// such glyph, advance, top colour, bottom colour).
template <class Step>
void WalkText(const TRenderFont& font, std::string_view text, uint32_t top, uint32_t bottom, Step&& step) {
    const int64_t length = int64_t(text.size());
    const int glyphs = int(font.Glyphs.size());
    size_t i = 0;
    while (i < text.size()) {
        // A code needs its position (counting from 1) below length - 10, so
        // a code is never the text's last ten characters.
        if (font.InlineCodes && int64_t(i) + 1 < length - 10) {
            const char a = text[i], b = text[i + 1];
            const int kind = (a == '#' && b == '$') ? 1 : (a == '&' && b == '$') ? 2 : (a == '0' && b == 'x') ? 3 : 0;
            if (kind) {
                uint32_t c;
                if (ParseHex8(text.substr(i + 2, 8), c)) {
                    if (kind & 1) top = c;
                    if (kind & 2) bottom = c;
                }
                i += 10;
                continue;
            }
        }
        const int glyph = int(uint8_t(text[i])) - font.FirstChar;
        if (glyph < 0 || glyph >= glyphs) {
            step(-1, (font.Image.VisibleWidth * font.MissingFactor + font.ExtraSpacing) * font.Scale, top, bottom);
        } else {
            const auto& g = font.Glyphs[size_t(glyph)];
            step(glyph, (double(g.width) + font.GlyphSpacing + font.ExtraSpacing) * font.Scale, top, bottom);
        }
        ++i;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// TRenderFont

TRenderFont::TRenderFont(TRenderFonts* owner) : owner_(owner) {
    if (owner_) Image.SetDevice(owner_->Device());
}

bool TRenderFont::LoadFromPayload(const uint8_t* data, size_t size) {
    Loaded = false;
    Glyphs.clear();
    Image.Clear();
    ByteReader in(data, data ? size : 0);
    int32_t first = 0, spacing = 0, count = 0;
    if (!in.i32(first) || !in.i32(spacing) || !in.skip(4) || !in.i32(count)) return false;
    if (count < 0 || uint64_t(count) * 8 > in.remaining()) return false;
    std::vector<Glyph> glyphs(static_cast<size_t>(count));
    for (auto& g : glyphs)
        if (!in.i32(g.width) || !in.i32(g.height)) return false;
    if (!Image.LoadFromPayload(in)) return false;
    FirstChar = first & 0xFF;  // only the low byte carries the code
    GlyphSpacing = spacing;
    Glyphs = std::move(glyphs);
    Loaded = true;
    return true;
}

// ---------------------------------------------------------------------------
// TRenderFonts

TRenderFonts::TRenderFonts(TRenderDevice* device, TRenderCanvas* canvas) : device_(device), canvas_(canvas) {
    if (!device_) return;
    subscription_ = device_->Subscribe([this](TDeviceEvent e) {
        switch (e) {
            case devInitialize:
            case devReset:
                for (auto& f : fonts_) f->Image.RestoreTextures();
                break;
            case devFinalize:
            case devLost:
                for (auto& f : fonts_) f->Image.ReleaseTextures();
                break;
            default: break;
        }
    });
}

TRenderFonts::~TRenderFonts() {
    fonts_.clear();
    if (device_ && subscription_ >= 0) device_->Unsubscribe(subscription_);
}

TRenderFont* TRenderFonts::Find(std::string_view name) const {
    for (const auto& f : fonts_)
        if (iequalsAscii(f->Name, name)) return f.get();
    return nullptr;
}

TRenderFont* TRenderFonts::Add(const std::string& name) {
    fonts_.push_back(std::make_unique<TRenderFont>(this));
    fonts_.back()->Name = name;
    return fonts_.back().get();
}

void TRenderFonts::RemoveAll() { fonts_.clear(); }

bool TRenderFonts::LoadFromArchive(TResArchive& archive) {
    if (!archive.EnsureOpen()) return false;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < archive.RecordCount(); ++i) {
        if (archive.RecordKind(i) != TResArchive::kFontKind) continue;
        const std::string key = archive.RecordKey(i);
        TRenderFont* font = Add(key);
        bytes.clear();
        if (!archive.ReadRecord(key, bytes) || !font->LoadFromPayload(bytes.data(), bytes.size())) return false;
    }
    return true;
}

void TRenderFonts::TextOut(TRenderFont* font, std::string_view text, double x, double y, uint32_t top,
                           uint32_t bottom, uint32_t effect) {
    if (!font) return;
    if (!font->Owner()) throw std::runtime_error("TRenderFont: Unassigned Owner property.");
    TRenderCanvas* canvas = font->Owner()->Canvas();
    if (!canvas) throw std::runtime_error("TRenderFont: Unassigned Owner.Canvas property.");
    if (!font->Loaded) return;
    const double w = font->Image.VisibleWidth * font->Scale;
    const double h = font->Image.VisibleHeight * font->Scale;
    double pen = x;
    WalkText(*font, text, top, bottom, [&](int glyph, double advance, uint32_t t, uint32_t b) {
        if (glyph >= 0) {
            const double px = roundHalfEven(pen), py = roundHalfEven(y);
            const TPoint2 corners[4] = {{px, py}, {px + w, py}, {px + w, py + h}, {px, py + h}};
            const uint32_t colors[4] = {t, t, b, b};
            TDrawSource src;
            src.pattern = glyph;
            canvas->DrawMap(&font->Image, corners, colors, src, effect);
        }
        pen += advance;
    });
}

double TRenderFonts::TextWidth(TRenderFont* font, std::string_view text) const {
    if (!font || !font->Loaded) return 0;
    double width = 0;
    WalkText(*font, text, 0, 0, [&](int, double advance, uint32_t, uint32_t) { width += advance; });
    return width;
}

double TRenderFonts::TextHeight(TRenderFont* font, std::string_view text) const {
    if (!font || !font->Loaded) return 0;
    int32_t tallest = 0;
    bool any = false;
    WalkText(*font, text, 0, 0, [&](int glyph, double, uint32_t, uint32_t) {
        if (glyph < 0) return;
        const int32_t h = font->Glyphs[size_t(glyph)].height;
        if (!any || h > tallest) tallest = h;
        any = true;
    });
    return tallest * font->Scale;
}

void TRenderFonts::TextExtent(TRenderFont* font, std::string_view text, double& width, double& height) const {
    width = TextWidth(font, text);
    height = TextHeight(font, text);
}

}  // namespace nb
