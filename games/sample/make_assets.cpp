// Generates the pictures and sounds of the bundled sample game into a folder:
// backgrounds, a button with an alpha mask, a sprite with alpha, a logo, and
// a click sound and two looping musics.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "particles/ParticleSystems.h"
#include "platform/ByteIO.h"
#include "platform/FileSystem.h"
#include "platform/Png.h"

namespace {

using Pixels = std::vector<uint32_t>;

uint32_t argb(int a, int r, int g, int b) {
    auto c = [](int v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
    return (c(a) << 24) | (c(r) << 16) | (c(g) << 8) | c(b);
}

bool writeJpeg(const std::string& path, int w, int h, const Pixels& px) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(w) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        int y = int(cinfo.next_scanline);
        for (int x = 0; x < w; ++x) {
            uint32_t p = px[size_t(y) * size_t(w) + size_t(x)];
            row[size_t(x) * 3] = uint8_t(p >> 16);
            row[size_t(x) * 3 + 1] = uint8_t(p >> 8);
            row[size_t(x) * 3 + 2] = uint8_t(p);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(f) == 0;
}

// An 8-bit bottom-up Windows bitmap with a grey palette: the pixel values are
// what an alpha mask gives.
bool writeMaskBmp(const std::string& path, int w, int h, const std::vector<uint8_t>& values) {
    int stride = (w + 3) & ~3;
    nb::ByteWriter out;
    uint32_t dataOffset = 14 + 40 + 256 * 4;
    out.u8('B');
    out.u8('M');
    out.u32(dataOffset + uint32_t(stride * h));
    out.u32(0);
    out.u32(dataOffset);
    out.u32(40);
    out.i32(w);
    out.i32(h);
    out.u16(1);
    out.u16(8);
    out.u32(0);
    out.u32(uint32_t(stride * h));
    out.i32(2835);
    out.i32(2835);
    out.u32(256);
    out.u32(0);
    for (int i = 0; i < 256; ++i) out.u32(uint32_t(i) * 0x010101u);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) out.u8(values[size_t(y) * size_t(w) + size_t(x)]);
        for (int x = w; x < stride; ++x) out.u8(0);
    }
    return nb::fs::writeFile(path, out.buffer().data(), out.size());
}

bool writeSound(const std::string& path, int format, const std::vector<float>& samples, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    if (!sf_format_check(&info)) return false;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_writef_float(f, samples.data(), sf_count_t(samples.size()));
    return sf_close(f) == 0;
}

// Rounded-rectangle coverage (0..255) with a soft edge.
uint8_t roundedCoverage(int x, int y, int w, int h, int radius) {
    double cx = std::clamp<double>(x + 0.5, radius, w - radius);
    double cy = std::clamp<double>(y + 0.5, radius, h - radius);
    double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
    double a = std::clamp(radius - d + 0.5, 0.0, 1.0);
    return uint8_t(std::lround(a * 255));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_assets OUTPUT_FOLDER\n");
        return 2;
    }
    std::string out = argv[1];
    if (out.back() != '/') out += '/';
    std::string mk = "mkdir -p '" + out + "logos' '" + out + "sounds'";
    if (std::system(mk.c_str()) != 0) return 1;
    bool ok = true;

    // Menu background: a vertical blue gradient with a faint grid.
    {
        int w = 1024, h = 768;
        Pixels px(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int g = (x % 64 == 0 || y % 64 == 0) ? 18 : 0;
                px[size_t(y) * w + x] = argb(255, 20 + y / 12 + g, 30 + y / 10 + g, 90 + y / 6 + g);
            }
        ok &= nb::WritePng(out + "menu_bg.png", w, h, px);
    }
    // Second screen background (JPEG): a warm radial gradient.
    {
        int w = 1024, h = 768;
        Pixels px(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double d = std::hypot(x - 512.0, y - 384.0) / 640.0;
                px[size_t(y) * w + x] = argb(255, int(230 - 150 * d), int(150 - 110 * d), int(60 - 40 * d));
            }
        ok &= writeJpeg(out + "second_bg.jpg", w, h, px);
    }
    // Button: colour picture (JPEG) and its alpha mask (8-bit BMP), paired by
    // name: requesting button_mask.bmp gives button.jpg's colours with the
    // mask as alpha.
    {
        int w = 240, h = 64;
        Pixels px(size_t(w) * h);
        std::vector<uint8_t> mask(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int shade = 200 - y * 2;
                px[size_t(y) * w + x] = argb(255, shade / 3, shade / 2 + 40, shade);
                mask[size_t(y) * w + x] = roundedCoverage(x, y, w, h, 24);
            }
        ok &= writeJpeg(out + "button.jpg", w, h, px);
        ok &= writeMaskBmp(out + "button_mask.bmp", w, h, mask);
    }
    // A star sprite with alpha (PNG).
    {
        int w = 128, h = 128;
        Pixels px(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double dx = x + 0.5 - 64, dy = y + 0.5 - 64;
                double r = std::hypot(dx, dy), t = std::atan2(dy, dx);
                double edge = 36 + 24 * std::cos(5 * t);
                double a = std::clamp(edge - r + 0.5, 0.0, 1.0);
                px[size_t(y) * w + x] = argb(int(a * 255), 255, 220 - int(r), 60);
            }
        ok &= nb::WritePng(out + "star.png", w, h, px);
    }
    // The shared particle picture: particles.bmp is an 8-bit soft round
    // mask whose colours come from particles_.jpg (the mask pairing by name).
    {
        int w = 16, h = 16;
        Pixels px(size_t(w) * h, argb(255, 255, 250, 235));
        std::vector<uint8_t> mask(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double d = std::hypot(x - 7.5, y - 7.5) / 8.0;
                mask[size_t(y) * w + x] = uint8_t(std::clamp(255.0 * (1.0 - d * d), 0.0, 255.0));
            }
        ok &= writeJpeg(out + "particles_.jpg", w, h, px);
        ok &= writeMaskBmp(out + "particles.bmp", w, h, mask);
    }
    // Rising pale blue sparks for the second screen's effect.
    {
        nb::TParticleParams p;
        p.drawFx = 1284;
        p.emissionRate = 40;
        p.emissionTime = 1e6f;
        p.life1 = 1.5f;
        p.life2 = 2.5f;
        p.direction = 3.14159f;  // up
        p.spread = 0.8f;
        p.speed1 = 40;
        p.speed2 = 90;
        p.weight1 = -0.2f;
        p.weight2 = 0.1f;
        p.sizeBirth = 0.5f;
        p.sizeMid = 1.3f;
        p.sizeDeath = 0.3f;
        p.rotationMid = 2;
        p.rotationDeath = 4;
        p.colorBirth = 0xFFFFFFFFu;
        p.colorMid = 0xD0A0D0FFu;
        p.colorDeath = 0x004070FFu;
        p.colorVariation = 0.1f;
        p.midLife = 0.4f;
        const auto bytes = p.ToBytes();
        ok &= nb::fs::writeFile(out + "sparks.fx", bytes.data(), bytes.size());
    }
    // The start-up logo.
    {
        int w = 480, h = 240;
        Pixels px(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                bool ring = std::abs(std::hypot(x - 240.0, y - 120.0) - 80) < 14;
                px[size_t(y) * w + x] = ring ? argb(255, 240, 200, 60) : argb(255, 16, 16, 24);
            }
        ok &= writeJpeg(out + "logos/logo1.jpg", w, h, px);
    }
    // Sounds: a short click (WAV) and two gently looping chords (OGG).
    {
        const int rate = 44100;
        std::vector<float> click(rate / 10);
        for (size_t i = 0; i < click.size(); ++i)
            click[i] = float(0.6 * std::sin(2 * M_PI * 880 * double(i) / rate) * std::exp(-double(i) / 800));
        ok &= writeSound(out + "sounds/click.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, click, rate);
        auto chord = [&](double a, double b, double c) {
            std::vector<float> music(rate * 4);
            for (size_t i = 0; i < music.size(); ++i) {
                double t = double(i) / rate;
                music[i] = float(0.15 * (std::sin(2 * M_PI * a * t) + std::sin(2 * M_PI * b * t) +
                                         std::sin(2 * M_PI * c * t)));
            }
            return music;
        };
        ok &= writeSound(out + "sounds/music.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, chord(220, 261.63, 329.63), rate);
        ok &= writeSound(out + "sounds/music2.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, chord(261.63, 329.63, 392), rate);
    }
    if (!ok) std::fprintf(stderr, "make_assets: some files could not be written\n");
    return ok ? 0 : 1;
}
