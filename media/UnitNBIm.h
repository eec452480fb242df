// The picture registry: every picture the scene draws is requested here by
// name. A picture is loaded at most once, from a file (as named, or in the
// game folder) or from the resource archive, cut into the frame grid of its
// ".an" companion, merged with an 8-bit alpha mask kept in a second file, and
// the same entry is handed to every element that names it. Use counts tell a
// screen change what to load and what to release.
//
// Entries live as long as the registry and never move: elements keep plain
// pointers to them. Images belong to the image list; the registry only adds
// and removes them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "media/ImageLoadState.h"
#include "platform/Bitmap.h"

namespace nb {

class TRenderImage;
class TRenderImages;
class TResArchive;

// One registry entry.
struct TNBIm {
    // The registry key: the requested name upper-cased, the game folder
    // removed when the name starts with it.
    std::string name;
    // The loaded picture; null while not loaded, after a release, or when
    // loading failed.
    TRenderImage* image = nullptr;
    // Requests since the last ResetImageUse.
    int32_t useCount = 0;
    // Found but not decodable or not fillable: never tried again.
    bool failed = false;
    // Fixed by the first request: loads even while loading is deferred and
    // is never released.
    bool forced = false;
};

// Frames across and down of a picture, as its ".an" companion declares.
struct TFrameGrid {
    int columns = 1;
    int rows = 1;
};

// Reads the two lines of a ".an" text: each a decimal integer after optional
// blanks, the rest of the line ignored. A missing line or a value of 0 means
// 1; a line that is not a number, or a negative number, is damage and also
// reads as 1, so the picture still loads as a consistent image.
TFrameGrid ParseFrameGrid(std::string_view text);

class TImageRegistry {
public:
    TImageRegistry(TRenderImages& images, TResArchive& archive, TImageLoadState& state);
    ~TImageRegistry();
    TImageRegistry(const TImageRegistry&) = delete;
    TImageRegistry& operator=(const TImageRegistry&) = delete;

    // The game folder: the native path with its trailing '/' (where names are
    // looked for and "temp.an" is written) and its upper-cased Windows-1251
    // form (stripped from the front of registry keys).
    void SetGameFolder(std::string nativeFolder, std::string upperKey);
    const std::string& GameFolder() const { return folder_; }

    // Runs after every load attempt made while loading is set (also after a
    // failed one, not when the picture was found nowhere): the root's
    // progress hook, which redraws the loading screen. It may request more
    // pictures.
    std::function<void()> OnProgress;

    // The one request operation (name: Windows-1251 bytes, '\\' or '/'
    // separated). Always answers an entry, which may hold no image.
    TNBIm* LoadImage(std::string_view name, bool forced);
    // Every use count becomes 0.
    void ResetImageUse();
    // Unloads every picture that is neither used since the last reset nor
    // forced; the entries stay.
    void ReleaseIdleImages();
    // After a window-mode switch or device reset: every loaded picture is
    // removed and requested again (not forced).
    void ReloadAll();

    // The registry key of a requested name.
    std::string KeyOf(std::string_view name) const;
    // The entry of a name (keyed as LoadImage keys it); null when absent.
    TNBIm* Find(std::string_view name);
    size_t Count() const { return entries_.size(); }
    TNBIm* Entry(size_t i) { return i < entries_.size() ? entries_[i].get() : nullptr; }

private:
    // Where a picture was found: a file (prefix is "" for the name as given,
    // or the native game folder) or an archive record. `name` is the
    // Windows-1251 name relative to the prefix (for the archive: the key).
    struct Source {
        bool archive = false;
        std::string prefix;
        std::string name;
    };

    std::optional<Source> locate(std::string_view name);
    bool exists(const Source& at, std::string_view name);
    std::optional<std::vector<uint8_t>> read(const Source& at, std::string_view name);
    bool decode(const Source& at, std::string_view name, Bitmap& out);
    TFrameGrid readFrameGrid(const Source& at);
    // A picture whose pixels merge with the one being loaded.
    struct MaskCompanion {
        std::string name;
        bool givesColours;  // the companion has the colours, the picture the alpha
    };
    std::vector<MaskCompanion> maskCompanions(const Source& at);
    void applyMasks(const Source& at, const std::vector<MaskCompanion>& companions, Bitmap& bmp);
    void mergeColourPicture(const Source& at, std::string_view colourName, Bitmap& bmp);
    void mergeMaskPicture(const Source& at, std::string_view maskName, Bitmap& bmp);

    TRenderImages& images_;
    TResArchive& archive_;
    TImageLoadState& state_;
    std::string folder_;
    std::string folderKey_;
    std::string folderFold_;  // folderKey_ with Cyrillic folded too, for the prefix test
    std::vector<std::unique_ptr<TNBIm>> entries_;   // in creation order
    std::unordered_map<std::string, TNBIm*> byKey_;  // the same entries by key
};

}  // namespace nb
