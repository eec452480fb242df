#include "media/UnitNBIm.h"

#include <climits>
#include <cstring>

#include "archive/ResArchive.h"
#include "media/Decoders.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "render/RenderImages.h"

namespace nb {

namespace {

// More frames than this in one picture can only come from a damaged ".an":
// every frame gets a texture of its own.
constexpr int64_t kMaxFrames = 65536;

std::string_view fileNamePart(std::string_view name) {
    size_t slash = name.find_last_of("\\/");
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

std::string_view folderPart(std::string_view name) {
    size_t slash = name.find_last_of("\\/");
    return slash == std::string_view::npos ? std::string_view() : name.substr(0, slash + 1);
}

std::string upperExtension(std::string_view fileName) {
    size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? std::string() : asciiUpper(fileName.substr(dot));
}

std::string_view dropLast4(std::string_view s) { return s.substr(0, s.size() >= 4 ? s.size() - 4 : 0); }

// One line of a ".an" file; 1 for anything but a positive number.
int parseGridValue(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
    int64_t v = 0;
    size_t digits = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i, ++digits) {
        v = v * 10 + (line[i] - '0');
        if (v > INT_MAX) return 1;
    }
    if (digits == 0 || negative || v == 0) return 1;
    return int(v);
}

// The picture's own 8-bit values become the alpha of `colours` (same size).
Bitmap withAlphaFrom(const Bitmap& colours, const Bitmap& mask) {
    Bitmap out = colours.to32();
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            out.setArgb(x, y, (out.argb(x, y) & 0x00FFFFFFu) | (uint32_t(mask.value8(x, y)) << 24));
    return out;
}

bool sameSize(const Bitmap& a, const Bitmap& b) { return a.width == b.width && a.height == b.height; }

// The top-left `w` x `h` pixels of a bitmap.
Bitmap cropped(const Bitmap& src, int w, int h) {
    Bitmap out;
    out.allocate(w, h, src.bitsPerPixel);
    out.palette = src.palette;
    for (int y = 0; y < h; ++y)
        std::memcpy(out.pixels.data() + size_t(y) * out.stride(), src.pixels.data() + size_t(y) * src.stride(),
                    out.stride());
    return out;
}

// Sizes `img` for a picture of w x h pixels cut into `grid`, and answers the
// grid actually used. A grid finer than the picture's pixels, or with
// absurdly many frames, is damage: the picture is shown as one frame.
TFrameGrid SizeForGrid(TRenderImage& img, TFrameGrid grid, int w, int h) {
    if (grid.columns > w) grid.columns = 1;
    if (grid.rows > h) grid.rows = 1;
    if (int64_t(grid.columns) * grid.rows > kMaxFrames) grid = TFrameGrid{};
    const int pw = w / grid.columns, ph = h / grid.rows;
    img.PatternWidth = img.VisibleWidth = pw;
    img.PatternHeight = img.VisibleHeight = ph;
    // One padded cell per pattern: two texels wider and higher, rounded up
    // to even sizes.
    img.TextureWidth = (pw + 2 + 1) & ~1;
    img.TextureHeight = (ph + 2 + 1) & ~1;
    img.PatternCount = img.TextureCount = grid.columns * grid.rows;
    return grid;
}

// Takes a picture's rows from its decoder and fills `img` with them, cut
// into the declared grid (the caller ends the fill once decoding succeeded).
class GridFiller final : public PictureRows {
public:
    GridFiller(TRenderImage& img, TFrameGrid declared) : img_(img), declared_(declared) {}
    bool Begin(int w, int h, int bpp, const std::vector<uint32_t>& palette) override {
        const TFrameGrid grid = SizeForGrid(img_, declared_, w, h);
        row_.resize(size_t(w) * size_t(bpp / 8));
        // The decoder's palette may go with the decoder, before EndFill;
        // the fill keeps a reference to its own copy.
        palette_ = palette;
        // Only the whole frames are filled; FillRow reads each row's left part.
        return img_.BeginFill(img_.PatternWidth * grid.columns, img_.PatternHeight * grid.rows, bpp, palette_);
    }
    // A single-frame picture is decoded straight into its texture.
    uint8_t* Row(int y) override {
        if (uint8_t* direct = img_.FillDestination(y)) return last_ = direct;
        return last_ = row_.data();
    }
    void RowDone(int y) override { img_.FillRow(y, last_); }
    bool WantsBgrx() const override { return true; }

private:
    TRenderImage& img_;
    TFrameGrid declared_;
    std::vector<uint8_t> row_;
    uint8_t* last_ = nullptr;  // where the current row was written
    std::vector<uint32_t> palette_;
};

}  // namespace

TFrameGrid ParseFrameGrid(std::string_view text) {
    TFrameGrid grid;
    int* values[2] = {&grid.columns, &grid.rows};
    size_t pos = 0;
    for (int* v : values) {
        if (pos >= text.size()) break;
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        *v = parseGridValue(text.substr(pos, end - pos));
        // A line ends with CR LF, LF or CR.
        pos = end;
        if (pos < text.size() && text[pos] == '\r') ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
    }
    return grid;
}

TImageRegistry::TImageRegistry(TRenderImages& images, TResArchive& archive, TImageLoadState& state)
    : images_(images), archive_(archive), state_(state) {}

// Images belong to the image list, which may already be gone; the registry
// leaves them to it.
TImageRegistry::~TImageRegistry() = default;

void TImageRegistry::SetGameFolder(std::string nativeFolder, std::string upperKey) {
    folder_ = std::move(nativeFolder);
    folderKey_ = std::move(upperKey);
    folderFold_ = cp1251Upper(folderKey_);
}

std::string TImageRegistry::KeyOf(std::string_view name) const {
    std::string key = asciiUpper(name);
    // The folder key may have been folded with or without the Cyrillic
    // letters; the prefix test folds both sides alike. Folding keeps byte
    // lengths, so the prefix length is the folder key's.
    if (!folderFold_.empty() && key.size() >= folderFold_.size() &&
        cp1251Upper(std::string_view(key).substr(0, folderFold_.size())) == folderFold_)
        key.erase(0, folderFold_.size());
    return key;
}

TNBIm* TImageRegistry::Find(std::string_view name) {
    auto it = byKey_.find(KeyOf(name));
    return it == byKey_.end() ? nullptr : it->second;
}

TNBIm* TImageRegistry::LoadImage(std::string_view name, bool forced) {
    std::string key = KeyOf(name);
    TNBIm* e;
    if (auto it = byKey_.find(key); it != byKey_.end()) {
        e = it->second;
    } else {
        auto fresh = std::make_unique<TNBIm>();
        fresh->name = key;
        fresh->forced = forced;
        e = fresh.get();
        entries_.push_back(std::move(fresh));
        byKey_.emplace(key, e);
    }
    ++e->useCount;
    if (e->image || e->failed) return e;

    if (!state_.ready && !forced) {
        // Deferred: only counted, once per picture, for the loading screen.
        if (e->useCount == 1) ++state_.forLoadCount;
        return e;
    }

    ++state_.forLoadPos;
    TRenderImage* img = images_.Add(key);
    if (!img) return e;
    std::optional<Source> src = locate(name);
    if (!src) {
        // Found nowhere: not an error; the next request looks again.
        images_.Remove(img);
        return e;
    }
    img->Name = key;
    img->Quality = TImageQuality::aqHigh;
    img->AlphaLevel = TAlphaLevel::alFull;
    img->MipMapping = images_.MipMappping;

    const TFrameGrid declared = readFrameGrid(*src);
    bool ok = false;
    const std::vector<MaskCompanion> companions = maskCompanions(*src);
    if (companions.empty()) {
        // Nothing to merge: the rows go from the decoder straight into the
        // textures, without a bitmap of the whole picture.
        GridFiller filler(*img, declared);
        auto bytes = read(*src, src->name);
        ok = bytes && DecodePicture(src->name, bytes->data(), bytes->size(), filler) && img->EndFill();
    } else {
        Bitmap bmp;
        if (decode(*src, src->name, bmp)) {
            const TFrameGrid grid = SizeForGrid(*img, declared, bmp.width, bmp.height);
            applyMasks(*src, companions, bmp);
            // Pixels right of and below the last whole frame belong to no
            // frame; without them the picture is cut into exactly the
            // declared grid, so pattern i is frame i.
            const int w = img->PatternWidth * grid.columns, h = img->PatternHeight * grid.rows;
            if (bmp.width != w || bmp.height != h) bmp = cropped(bmp, w, h);
            ok = img->Fill(bmp);
        }
    }
    if (ok) {
        e->image = img;
    } else {
        // Not decodable or not fillable: failed for good.
        images_.Remove(img);
        e->failed = true;
    }
    if (state_.loading && OnProgress) OnProgress();
    return e;
}

void TImageRegistry::ResetImageUse() {
    for (auto& e : entries_) e->useCount = 0;
}

void TImageRegistry::ReleaseIdleImages() {
    for (auto& e : entries_) {
        if (e->useCount == 0 && !e->forced && e->image) {
            images_.Remove(e->image);
            e->image = nullptr;
        }
    }
}

void TImageRegistry::ReloadAll() {
    // Requests may add entries (through the progress hook); those are new
    // and need no reload.
    const size_t n = entries_.size();
    for (size_t i = 0; i < n; ++i) {
        TNBIm* e = entries_[i].get();
        if (!e->image) continue;
        images_.Remove(e->image);
        e->image = nullptr;
        std::string name = e->name;
        LoadImage(name, false);
    }
}

std::optional<TImageRegistry::Source> TImageRegistry::locate(std::string_view name) {
    const std::string native = cp1251ToUtf8(name);
    if (fs::fileExists(native)) return Source{false, std::string(), std::string(name)};
    if (!folder_.empty() && fs::fileExists(folder_ + native)) return Source{false, folder_, std::string(name)};
    std::string key = asciiUpper(name);
    if (archive_.HasRecord(key)) return Source{true, std::string(), std::move(key)};
    return std::nullopt;
}

bool TImageRegistry::exists(const Source& at, std::string_view name) {
    if (at.archive) return archive_.HasRecord(name);
    return fs::fileExists(at.prefix + cp1251ToUtf8(name));
}

std::optional<std::vector<uint8_t>> TImageRegistry::read(const Source& at, std::string_view name) {
    if (at.archive) {
        std::vector<uint8_t> bytes;
        if (!archive_.ReadRecord(name, bytes)) return std::nullopt;
        return bytes;
    }
    return fs::readFile(at.prefix + cp1251ToUtf8(name));
}

bool TImageRegistry::decode(const Source& at, std::string_view name, Bitmap& out) {
    auto bytes = read(at, name);
    return bytes && DecodePicture(name, bytes->data(), bytes->size(), out);
}

TFrameGrid TImageRegistry::readFrameGrid(const Source& at) {
    std::string anName = std::string(dropLast4(at.name)) + ".an";
    if (!exists(at, anName)) return {};
    auto bytes = read(at, anName);
    if (!bytes) return {};
    if (at.archive) {
        // An archived grid passes through "temp.an" in the game folder, which
        // stays there; the bytes in hand are used when the folder cannot be
        // written.
        const std::string temp = folder_ + "temp.an";
        if (fs::writeFile(temp, bytes->data(), bytes->size())) {
            if (auto back = fs::readFile(temp)) bytes = std::move(back);
        }
    }
    return ParseFrameGrid(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

// Masks pair by file name:
//  (a) NAME_xxx.bmp is the mask of NAME.jpg;
//  (b) NAME.bmp is the mask of NAME_.jpg (tried after (a) in any case);
//  (c) NAME_xxx.jpg takes its alpha from NAME.bmp.
// Other extensions (".jpeg", ".png", ".tga") are never merged. The answer
// lists the companions that exist, in the order they are merged.
std::vector<TImageRegistry::MaskCompanion> TImageRegistry::maskCompanions(const Source& at) {
    std::vector<MaskCompanion> found;
    const std::string_view folder = folderPart(at.name);
    const std::string_view file = fileNamePart(at.name);
    const std::string ext = upperExtension(file);
    const size_t underscore = file.find('_');
    auto consider = [&](std::string name, bool givesColours) {
        if (exists(at, name)) found.push_back(MaskCompanion{std::move(name), givesColours});
    };
    if (ext == ".BMP") {
        if (underscore != std::string_view::npos)
            consider(std::string(folder) + std::string(file.substr(0, underscore)) + ".jpg", true);
        consider(std::string(folder) + std::string(dropLast4(file)) + "_" + ".jpg", true);
    } else if (ext == ".JPG" && underscore != std::string_view::npos) {
        consider(std::string(folder) + std::string(file.substr(0, underscore)) + ".bmp", false);
    }
    return found;
}

void TImageRegistry::applyMasks(const Source& at, const std::vector<MaskCompanion>& companions, Bitmap& bmp) {
    for (const MaskCompanion& c : companions) {
        if (c.givesColours)
            mergeColourPicture(at, c.name, bmp);
        else
            mergeMaskPicture(at, c.name, bmp);
    }
}

// `bmp` is the mask; the colours come from `colourName`. A companion that
// cannot be decoded, or differs in size from the mask, is treated as absent:
// merging pictures of different sizes would pair unrelated pixels.
void TImageRegistry::mergeColourPicture(const Source& at, std::string_view colourName, Bitmap& bmp) {
    Bitmap colours;
    if (!decode(at, colourName, colours) || !sameSize(colours, bmp)) return;
    bmp = withAlphaFrom(colours, bmp);
}

// `bmp` has the colours; the alpha comes from `maskName`.
void TImageRegistry::mergeMaskPicture(const Source& at, std::string_view maskName, Bitmap& bmp) {
    Bitmap mask;
    if (!decode(at, maskName, mask) || !sameSize(mask, bmp)) return;
    bmp = withAlphaFrom(bmp, mask);
}

}  // namespace nb
