// TNBDB: the game root. The top of the element tree and the game as a whole:
// its properties name the companion files (settings INI, language files,
// sound table, resource archive with the fonts, saved-state file) and the
// first and loading screens; its hooks handle keys, exit and picture-loading
// progress. It translates text ids, resolves sound names, exposes the volume
// and window-mode settings to scripts and carries out screen loads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "particles/ParticleSystems.h"
#include "platform/IniFile.h"
#include "scene/Element.h"

namespace nb {

struct TNBIm;

class TNBDB final : public TNBElement {
public:
    explicit TNBDB(TSceneContext& ctx);
    ~TNBDB() override;

    // ---- overrides: only the value access
    bool GetValue(std::string_view name, TScriptValue& value) override;
    bool SetValue(std::string_view name, TScriptValue& value) override;
    bool GetProp(int index, TPropValue& out) override;
    void SetProp(int index, const TPropValue& v) override;

    // ---- game loading
    // Frees the tree and reads the game file (native path): the game folder
    // becomes the file's folder; the record is read with restoring raised.
    // A missing file leaves an empty root. Answers whether the file was read.
    bool LoadGame(const std::string& path);
    const std::string& GamePath() const { return gamePath_; }
    // Carries out a screen load (LoadIm, or the shell when there is no
    // loading screen).
    void FinishLoading();
    // Every child that is exactly a screen gets keep-loaded := AllwaysLoad;
    // those with it set load their pictures at once.
    void MarkKeepLoaded();
    // Frees every child.
    void FreeChildren();

    // ---- hooks of the root
    void KeyHook(int32_t keyCode);  // "key_Down": exKeyDown
    void ExitHook();                // "Exit": exExit
    // "LIProcess": exLoadImProcess, then one frame rendered and presented.
    void ProgressHook();
    // Gives the picture registry the progress hook (it reaches the root
    // through the context, which must outlive the registry's use of it) and
    // the game folder, and the sound manager the game folder.
    void WireServices();

    // ---- text ids and sounds
    std::string TranslateIds(std::string_view text) const;
    std::string LookupText(std::string_view id) const;
    // Leaves both outputs as they were without a sound table.
    void LookupSound(std::string_view name, std::string& fileName, int32_t& volume) const;

    // ---- saved state
    bool HasStateFile() const { return statePath_.has_value(); }
    const std::optional<std::string>& StatePath() const { return statePath_; }
    // Writes the state of the whole tree (replacing the file atomically);
    // false when there is no state file or the write failed (the previous
    // save is then intact).
    bool SaveState();
    // The bytes SaveState would write.
    std::string BuildState();
    // Restores a saved state (what a damaged file allows).
    void LoadState();
    // Applies state records from bytes (LoadState without the file, flags,
    // AfterLoad and timer).
    void ApplyState(std::string_view bytes);

    // ---- layers
    int32_t LowLayer() const { return *usedLayers_.begin(); }
    int32_t HighLayer() const { return *usedLayers_.rbegin(); }
    void WidenLayers(int32_t order);
    // Walking the layer range from LowLayer up (or HighLayer down) need only
    // stop at the layers some element ever used: nothing draws or is hit on
    // the others, and a damaged game's Order near the 32-bit limits must not
    // turn one frame into billions of empty passes. Each answers the next
    // used layer beyond `layer` inside the range, false at its end.
    bool NextLayerUp(int32_t layer, int32_t& next) const;
    bool NextLayerDown(int32_t layer, int32_t& next) const;

    // ---- settings and volumes
    int32_t SoundVolume() const;
    int32_t MusicVolume() const;
    void SetSoundVolume(int32_t v);
    void SetMusicVolume(int32_t v);
    IniFile* Settings() { return settings_.get(); }
    bool HasLanguage() const { return lang_ != nullptr; }

    // ---- stored properties
    int32_t InitScreen() const { return initScreen_; }
    int32_t LoadingScreen() const { return loadingScreen_; }
    const std::string& Lang() const { return langName_; }
    TNBIm* ParticleImage() const { return particleImage_; }

    // ---- particles
    // When there is a canvas and no manager yet: creates the particle
    // manager on the canvas with the picture "particles.bmp" (requested
    // forced). LoadGame runs it before the game file is read.
    void CreateParticleManager();
    // The manager (null without a canvas), its texture taken afresh from the
    // picture entry, whose image is replaced when pictures are reloaded.
    TParticleManager* ParticleManager();

private:
    void SetFileRS(const std::string& v);
    void SetFileFonts(const std::string& v);
    void SetDefLang(const std::string& v);
    void SetLang(const std::string& v);
    void SetIniFile(const std::string& v);
    void SetSoundFile(const std::string& v);

    int32_t curKey_ = 0;
    int32_t initScreen_ = 0;
    std::string fileRS_;
    std::string fileFonts_;
    uint8_t transLev_ = 0;
    std::string defLangName_;
    std::string langName_;
    int32_t loadingScreen_ = 0;
    std::string iniName_;
    std::string soundName_;

    std::string gamePath_;
    std::unique_ptr<IniFile> settings_;   // write-through
    std::unique_ptr<IniFile> defLang_;    // in memory
    std::unique_ptr<IniFile> lang_;       // in memory
    std::unique_ptr<IniFile> soundTable_; // in memory
    std::optional<std::string> statePath_;
    TNBIm* particleImage_ = nullptr;
    std::unique_ptr<TParticleManager> particles_;
    // Every Order ever set, and layer 0: the range runs from the first to
    // the last.
    std::set<int32_t> usedLayers_{0};
};

}  // namespace nb
