#include "scene/Root.h"

#include <algorithm>

#include "archive/ResArchive.h"
#include "media/Sound.h"
#include "media/UnitNBIm.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "render/RenderDevices.h"
#include "render/RenderFonts.h"
#include "render/RenderTimers.h"

namespace nb {

namespace {

constexpr const char* kSettingsSection = "Def";

// Splits a text id or sound name into section and key: the text before the
// first point (trimmed) and after it (trimmed); without a point the section
// is "Default" and the whole id is the key.
void SplitId(std::string_view id, std::string& section, std::string& key) {
    size_t dot = id.find('.');
    if (dot == std::string_view::npos) {
        section = "Default";
        key = std::string(id);
    } else {
        section = trim(id.substr(0, dot));
        key = trim(id.substr(dot + 1));
    }
}

struct RestoringScope {
    bool& flag;
    bool saved;
    explicit RestoringScope(bool& f) : flag(f), saved(f) { flag = true; }
    ~RestoringScope() { flag = saved; }
};

}  // namespace

TNBDB::TNBDB(TSceneContext& ctx) : TNBElement(ctx, TClassId::TNBDB, nullptr) {
    root_ = this;
    autoInit_ = true;
}

TNBDB::~TNBDB() { FreeChildren(); }

void TNBDB::FreeChildren() {
    while (!children_.empty()) {
        std::unique_ptr<TNBElement> last = std::move(children_.back());
        children_.pop_back();
    }
}

// ------------------------------------------------------------ properties

bool TNBDB::GetProp(int index, TPropValue& out) {
    switch (PropCode(index)) {
        case TProp::CurKey: out = TPropValue::Int(curKey_); return true;
        case TProp::InitScreen: out = TPropValue::Int(initScreen_); return true;
        case TProp::FileRS: out = TPropValue::Str(fileRS_); return true;
        case TProp::FileFonts: out = TPropValue::Str(fileFonts_); return true;
        case TProp::hxTransLev: out = TPropValue::Int(transLev_); return true;
        case TProp::DefLang: out = TPropValue::Str(defLangName_); return true;
        case TProp::Lang: out = TPropValue::Str(langName_); return true;
        case TProp::LoadingScreen: out = TPropValue::Int(loadingScreen_); return true;
        case TProp::IniFile: out = TPropValue::Str(iniName_); return true;
        case TProp::SoundFile: out = TPropValue::Str(soundName_); return true;
        default: return TNBElement::GetProp(index, out);
    }
}

void TNBDB::SetProp(int index, const TPropValue& v) {
    switch (PropCode(index)) {
        case TProp::CurKey: curKey_ = int32_t(v.i); break;
        case TProp::InitScreen: initScreen_ = int32_t(v.i); break;
        case TProp::FileRS: SetFileRS(v.s); break;
        case TProp::FileFonts: SetFileFonts(v.s); break;
        case TProp::hxTransLev: transLev_ = uint8_t(v.i); break;
        case TProp::DefLang: SetDefLang(v.s); break;
        case TProp::Lang: SetLang(v.s); break;
        case TProp::LoadingScreen: loadingScreen_ = int32_t(v.i); break;
        case TProp::IniFile: SetIniFile(v.s); break;
        case TProp::SoundFile: SetSoundFile(v.s); break;
        default: TNBElement::SetProp(index, v); break;
    }
}

void TNBDB::SetFileRS(const std::string& v) {
    // The state file is opened (created when missing) as soon as it is named;
    // without a usable file there is no saved state at all.
    fileRS_ = v;
    statePath_.reset();
    if (v.empty()) return;
    std::string path = ctx_.CompanionPath(v);
    if (fs::fileExists(path) || fs::writeFile(path, "", 0)) statePath_ = path;
}

void TNBDB::SetFileFonts(const std::string& v) {
    if (v == fileFonts_) return;
    fileFonts_ = v;
    if (!ctx_.archive) return;
    ctx_.archive->SetFileName(ctx_.CompanionPath(v));
    if (ctx_.archive->Open() && ctx_.fonts) ctx_.fonts->LoadFromArchive(*ctx_.archive);
}

void TNBDB::SetDefLang(const std::string& v) {
    if (v == defLangName_) return;
    defLangName_ = v;
    defLang_.reset();
    defLang_ = std::make_unique<IniFile>(IniFile::fromFile(ctx_.CompanionPath(v)));
}

void TNBDB::SetLang(const std::string& v) {
    if (v == langName_) return;
    langName_ = v;
    lang_.reset();
    if (!fs::fileExists(ctx_.CompanionPath(v))) {
        for (const char* fallback : {"eng.lng", "rus.lng", "deu.lng"}) {
            if (fs::fileExists(ctx_.CompanionPath(fallback))) {
                langName_ = fallback;
                break;
            }
        }
    }
    lang_ = std::make_unique<IniFile>(IniFile::fromFile(ctx_.CompanionPath(langName_)));
}

void TNBDB::SetIniFile(const std::string& v) {
    if (v == iniName_) return;
    iniName_ = v;
    settings_.reset();
    settings_ = std::make_unique<IniFile>(IniFile::writeThrough(ctx_.CompanionPath(v)));
    // A missing file reads as the defaults: full screen unless it says "FS=0".
    SetSoundVolume(settings_->readInteger(kSettingsSection, "Snd", 100));
    SetMusicVolume(settings_->readInteger(kSettingsSection, "Muz", 50));
    ctx_.ui.fullScreenWanted = settings_->readBool(kSettingsSection, "FS", true);
}

void TNBDB::SetSoundFile(const std::string& v) {
    if (v == soundName_) return;
    soundName_ = v;
    soundTable_.reset();
    soundTable_ = std::make_unique<IniFile>(IniFile::fromFile(ctx_.CompanionPath(v)));
}

// ------------------------------------------------------------ values

int32_t TNBDB::SoundVolume() const { return ctx_.sound ? ctx_.sound->SoundVolume() : ctx_.settings.soundVolume; }
int32_t TNBDB::MusicVolume() const { return ctx_.sound ? ctx_.sound->MusicVolume() : ctx_.settings.musicVolume; }

void TNBDB::SetSoundVolume(int32_t v) {
    ctx_.settings.soundVolume = v;
    if (ctx_.sound) ctx_.sound->SetSoundVolume(v);
}

void TNBDB::SetMusicVolume(int32_t v) {
    ctx_.settings.musicVolume = v;
    if (ctx_.sound) ctx_.sound->SetMusicVolume(v);
}

bool TNBDB::GetValue(std::string_view name, TScriptValue& value) {
    if (TNBElement::GetValue(name, value)) return true;
    if (name == "VOLMUZ") {
        value = TScriptValue::int32(MusicVolume());
        return true;
    }
    if (name == "VOLSND") {
        value = TScriptValue::int32(SoundVolume());
        return true;
    }
    if (name == "FULLSCREEN") {
        value = TScriptValue::uint8(ctx_.ui.fullScreenWanted ? 1 : 0);
        return true;
    }
    return false;
}

bool TNBDB::SetValue(std::string_view name, TScriptValue& value) {
    if (TNBElement::SetValue(name, value)) return true;
    if (name == "VOLMUZ") {
        SetMusicVolume(ScriptIntOf(value));
        if (settings_) settings_->writeInteger(kSettingsSection, "Muz", MusicVolume());
        if (ctx_.sound) ctx_.sound->ApplyMusicVolume();
        return true;
    }
    if (name == "VOLSND") {
        SetSoundVolume(ScriptIntOf(value));
        if (settings_) settings_->writeInteger(kSettingsSection, "Snd", SoundVolume());
        return true;
    }
    if (name == "FULLSCREEN") {
        ctx_.ui.fullScreenWanted = ScriptIntOf(value) != 0;
        if (settings_) settings_->writeBool(kSettingsSection, "FS", ctx_.ui.fullScreenWanted);
        return true;
    }
    return false;
}

// ------------------------------------------------------------ text ids, sounds

std::string TNBDB::LookupText(std::string_view id) const {
    std::string section, key;
    SplitId(id, section, key);
    if (section.empty() || key.empty() || !lang_) return std::string();
    return lang_->readString(section, key, "");
}

std::string TNBDB::TranslateIds(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        size_t open = text.find('"', pos);
        if (open == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, open - pos));
        size_t close = text.find('"', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(open + 1));  // the lone quote is dropped
            break;
        }
        std::string_view id = text.substr(open + 1, close - open - 1);
        std::string t = LookupText(id);
        if (t.find_first_of("'\"") != std::string::npos) {
            // Quotes cannot live in a literal: the id is resolved on assignment.
            out += '"';
            out.append(id);
            out += '"';
        } else {
            out += '\'';
            out += t;
            out += '\'';
        }
        pos = close + 1;
    }
    return out;
}

void TNBDB::LookupSound(std::string_view name, std::string& fileName, int32_t& volume) const {
    std::string section, key;
    SplitId(name, section, key);
    if (section.empty() || key.empty()) {
        fileName.clear();
        volume = 0;
        return;
    }
    if (!soundTable_) return;
    std::string value = soundTable_->readString(section, key, "");
    size_t colon = value.find(':');
    if (colon == std::string::npos) {
        fileName = value;
        volume = 100;
        return;
    }
    int32_t v = 0;
    if (StrToInt32(value.substr(0, colon), v)) volume = v;
    fileName = value.substr(colon + 1);
}

// ------------------------------------------------------------ loading

void TNBDB::WidenLayers(int32_t order) {
    usedLayers_.insert(order);
}

bool TNBDB::NextLayerUp(int32_t layer, int32_t& next) const {
    auto it = usedLayers_.upper_bound(layer);
    if (it == usedLayers_.end()) return false;
    next = *it;
    return true;
}

bool TNBDB::NextLayerDown(int32_t layer, int32_t& next) const {
    auto it = usedLayers_.lower_bound(layer);
    if (it == usedLayers_.begin()) return false;
    --it;
    next = *it;
    return true;
}

void TNBDB::WireServices() {
    if (TImageRegistry* reg = ctx_.imageRegistry) {
        reg->SetGameFolder(ctx_.GameFolder(), ctx_.GameFolderKey());
        // Through the context, so a freed or replaced root is never called.
        reg->OnProgress = [ctx = &ctx_] {
            if (TNBDB* root = ctx->Root()) root->ProgressHook();
        };
    }
    if (ctx_.sound) ctx_.sound->SetGameFolder(ctx_.GameFolder());
}

void TNBDB::CreateParticleManager() {
    if (!ctx_.canvas || particles_) return;
    particles_ = std::make_unique<TParticleManager>(ctx_.canvas);
    if (ctx_.imageRegistry) particleImage_ = ctx_.imageRegistry->LoadImage("particles.bmp", true);
    ParticleManager();
}

TParticleManager* TNBDB::ParticleManager() {
    if (particles_) particles_->SetTexture(particleImage_ ? particleImage_->image : nullptr);
    return particles_.get();
}

bool TNBDB::LoadGame(const std::string& path) {
    FreeChildren();
    gamePath_ = path;
    auto resolved = fs::resolve(path);
    if (!resolved || !fs::fileExists(*resolved)) return false;
    auto bytes = fs::readFile(*resolved);
    if (!bytes) return false;
    ctx_.SetGameFolder(fs::folderOf(fs::absolutePath(*resolved)));
    WireServices();
    CreateParticleManager();
    RestoringScope restoring(ctx_.restoring);
    LoadFromData(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    return true;
}

void TNBDB::FinishLoading() {
    if (ctx_.device && ctx_.device->Live()) ctx_.device->Render(0, true);
    if (!ctx_.imageLoad.loading) return;
    TInteractionState& ui = ctx_.ui;
    if (TNBElement* h = ui.hovered) {
        h->MouseOut();
        ui.hovered = nullptr;
    }
    ui.mouseDown = false;
    if (ctx_.imageRegistry) ctx_.imageRegistry->ResetImageUse();
    ClearLoaded();
    if (ctx_.imageRegistry) particleImage_ = ctx_.imageRegistry->LoadImage("particles.bmp", false);
    ParticleManager();  // hands the manager the picture just requested
    ctx_.imageLoad.forLoadCount += 1;
    ctx_.imageLoad.forLoadPos = 0;
    ui.currentScreen = nullptr;
    ForEachChild([](TNBElement& c) {
        if (c.KeepLoaded()) c.LoadImages();
    });
    ui.currentScreen = ui.pendingScreen;
    if (ctx_.sound) ctx_.sound->StopMusic();
    if (TNBElement* s = ui.currentScreen) s->Show();
    if (ctx_.imageRegistry) ctx_.imageRegistry->ReleaseIdleImages();
    if (ctx_.timer) ctx_.timer->Reset();
}

void TNBDB::MarkKeepLoaded() {
    ForEachChild([](TNBElement& c) {
        if (!c.IsA(TClassId::TNBScreen)) return;
        TPropValue always;
        c.SetKeepLoaded(c.ReadPropByName("AllwaysLoad", always) && always.i != 0);
        if (c.KeepLoaded()) c.LoadImages();
    });
}

void TNBDB::KeyHook(int32_t keyCode) {
    ctx_.hookName = "key_Down";
    ctx_.ui.lastKey = keyCode;
    RunHook(THook::KeyDown);
}

void TNBDB::ExitHook() { RunNamedHook(THook::Exit, "Exit"); }

void TNBDB::ProgressHook() {
    RunNamedHook(THook::LoadImProcess, "LIProcess");
    if (ctx_.device && ctx_.device->Live()) {
        ctx_.device->Render(0, true);
        ctx_.device->Flip();
    }
}

}  // namespace nb
