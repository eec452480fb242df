#include "tools/Nbtool.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <set>

#include "archive/ResArchive.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "tools/ArchiveWriter.h"
#include "tools/FontBake.h"
#include "tools/GameFile.h"
#include "tools/GameJson.h"

namespace nb {

namespace {

// Why an archive did not open: a missing file and a file that is no archive
// (or a damaged one) call for different remedies.
std::string archiveOpenError(const std::string& path) {
    if (fs::fileExists(path)) return path + " is not a resource archive, or it is damaged";
    return "cannot read the archive " + path;
}

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kMainHelp =
    "Usage: nbtool COMMAND SUBCOMMAND [ARGUMENTS]\n"
    "\n"
    "Authoring tool for the player's games: game files, resource archives and\n"
    "bitmap fonts.\n"
    "\n"
    "Commands:\n"
    "  archive list ARCHIVE                    list the records of a resource archive\n"
    "  archive extract ARCHIVE [KEY...] -o DIR write records out as files\n"
    "  archive pack -o ARCHIVE [--font KEY=FILE]... [KEY=FILE | FILE]...\n"
    "                                          make a resource archive from files\n"
    "  font bake --ttf FILE --size PX -o ARCHIVE --name NAME [OPTIONS]\n"
    "                                          render a font into an archive font record\n"
    "  game dump GAME.nbf [-o GAME.json]       print a game file as JSON\n"
    "  game build GAME.json -o GAME.nbf        write a game file from JSON\n"
    "\n"
    "\"nbtool COMMAND --help\" and \"nbtool COMMAND SUBCOMMAND --help\" tell more.\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

const char* const kArchiveHelp =
    "Usage: nbtool archive list ARCHIVE\n"
    "       nbtool archive extract ARCHIVE [KEY...] -o DIR\n"
    "       nbtool archive pack -o ARCHIVE [--font KEY=FILE]... [KEY=FILE | FILE]...\n"
    "\n"
    "Resource archives hold zlib-compressed records looked up by key, letter case\n"
    "ignored. Kind 3 records are fonts; the others are ordinary files (pictures,\n"
    "frame-grid tables, sounds, effect files) named by the key the game uses.\n";

const char* const kListHelp =
    "Usage: nbtool archive list ARCHIVE\n"
    "\n"
    "Prints one line per record in table order: key, kind, unpacked size and stored\n"
    "size in bytes, and \"enciphered\" for records the player cannot read.\n";

const char* const kExtractHelp =
    "Usage: nbtool archive extract ARCHIVE [KEY...] -o DIR\n"
    "\n"
    "Writes every record (or only the given keys, letter case ignored) to DIR, the\n"
    "key being the file name. Backslashes and slashes in keys make subfolders;\n"
    "keys that would leave DIR are refused. Records that cannot be read (damaged or\n"
    "enciphered) are reported and the exit status is 1.\n";

const char* const kPackHelp =
    "Usage: nbtool archive pack -o ARCHIVE [--font KEY=FILE]... [KEY=FILE | FILE]...\n"
    "\n"
    "Writes a new archive (replacing ARCHIVE) holding the given files in order.\n"
    "FILE alone is stored under its file name; KEY=FILE under KEY (split at the\n"
    "first '=', so write KEY=FILE for a file whose name holds '='). --font stores a\n"
    "ready font payload as a font record (kind 3); it must parse as one. Keys may\n"
    "not repeat, letter case ignored. Games name records with backslashes, as in\n"
    "sounds\\door.wav=door.wav; a key holding '/' is packed as given, with a warning.\n"
    "\n"
    "Record headers carry the date (days since 30 December 1899, local time, or\n"
    "SOURCE_DATE_EPOCH when set) and a checksum of the unpacked data: CRC-32,\n"
    "Adler-32 and 64-bit FNV-1a, little-endian. Records are never enciphered.\n";

const char* const kFontHelp =
    "Usage: nbtool font bake --ttf FILE --size PX -o ARCHIVE --name NAME [OPTIONS]\n"
    "\n"
    "Renders the glyphs of a TrueType/OpenType font for the Windows-1251 character\n"
    "codes FIRST..LAST into a font record (kind 3) named NAME. An existing ARCHIVE\n"
    "keeps its other records; a record of the same name is replaced.\n"
    "\n"
    "Options:\n"
    "  --ttf FILE         the font file\n"
    "  --size PX          pixel size (1 to 256)\n"
    "  --first N          first character code (default 32)\n"
    "  --last N           last character code (default 255)\n"
    "  --spacing N        glyph spacing added to every advance (default 0)\n"
    "  --codepage cp1251  the only code page there is\n"
    "  -o ARCHIVE         the archive to write\n"
    "  --name NAME        the record key, which is the font's name in the game\n"
    "\n"
    "Glyphs are white with their coverage as alpha, in A8R8G8B8 cells of one size,\n"
    "placed on a common baseline; glyph widths are the advances and glyph heights\n"
    "the line height.\n";

const char* const kGameHelp =
    "Usage: nbtool game dump GAME.nbf [-o GAME.json]\n"
    "       nbtool game build GAME.json -o GAME.nbf\n"
    "\n"
    "Game files as JSON. Each record is\n"
    "  {\"class\": \"TNBScreen\", \"props\": {\"Key\": 2, ...}, \"children\": [...]}\n"
    "with every property of the class in order. Integers are numbers, Booleans\n"
    "true/false, PosHor/PosVert their names (\"phCenter\"), reals numbers that read\n"
    "back exactly (a value that is not finite as \"0x\" and 16 hex digits), strings\n"
    "UTF-8 (Windows-1251 in the game file).\n"
    "\n"
    "dump then build gives the same bytes: a record that holds fewer values than\n"
    "its class has properties carries \"count\", and a record of an unknown class\n"
    "or with damaged bytes is kept as {\"class\": NAME, \"raw\": \"hex\"}.\n"
    "\n"
    "build fills properties a record leaves out with the class's defaults and\n"
    "writes one value per property (or \"count\" values). Unknown classes or\n"
    "properties, repeated properties and values of the wrong type are errors\n"
    "reported as FILE:LINE:COLUMN.\n";

const char* const kDumpHelp =
    "Usage: nbtool game dump GAME.nbf [-o GAME.json]\n"
    "\n"
    "Prints the game file as JSON (to GAME.json with -o). See \"nbtool game --help\".\n";

const char* const kBuildHelp =
    "Usage: nbtool game build GAME.json -o GAME.nbf\n"
    "\n"
    "Writes the game file described by GAME.json. See \"nbtool game --help\".\n";

int showHelp(std::ostream& out, const char* text) {
    out << text;
    return kOk;
}

// Command-line arguments after the subcommand: positional ones and options.
// Options named in `valued` take the next argument (or "--opt=value").
struct Args {
    std::vector<std::string> positional;
    std::multimap<std::string, std::string> options;
    bool help = false;

    std::optional<std::string> get(const std::string& name) const {
        auto it = options.find(name);
        if (it == options.end()) return std::nullopt;
        return it->second;
    }
};

bool parseArgs(const std::vector<std::string>& args, size_t from, const std::set<std::string>& valued, Args& out,
               std::ostream& err) {
    bool onlyPositional = false;
    for (size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyPositional || a.empty() || a[0] != '-' || a == "-") {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyPositional = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            out.help = true;
            continue;
        }
        std::string name = a, value;
        size_t eq = a.find('=');
        bool inlineValue = a.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        }
        if (!valued.count(name)) {
            err << "nbtool: unknown option " << name << "\n";
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                err << "nbtool: " << name << " needs a value\n";
                return false;
            }
            value = args[++i];
        }
        if (out.options.count(name) && name != "--font") {
            err << "nbtool: " << name << " is given twice\n";
            return false;
        }
        out.options.emplace(name, value);
    }
    return true;
}

bool parseInt(const std::string& s, int& v) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// A key typed on the command line (UTF-8) as the game names it (Windows-1251).
bool gameKey(const std::string& utf8, std::string& key, std::ostream& err) {
    if (utf8.empty() || !utf8FitsCp1251(utf8)) {
        err << "nbtool: the key \"" << utf8 << "\" is empty or not Windows-1251 text\n";
        return false;
    }
    key = utf8ToCp1251(utf8);
    return true;
}

size_t displayWidth(std::string_view utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

// ---- archive ----------------------------------------------------------------

int archiveList(const Args& a, NbtoolContext& ctx) {
    if (a.positional.size() != 1) {
        ctx.err << kListHelp;
        return kUsage;
    }
    TResArchive ar;
    ar.OpenMode = TOpenModes::opReadOnly;
    ar.SetFileName(a.positional[0]);
    if (!ar.Open()) {
        ctx.err << "nbtool: " << archiveOpenError(a.positional[0]) << "\n";
        return kFailed;
    }
    size_t width = 3;
    for (int i = 0; i < ar.RecordCount(); ++i) width = std::max(width, displayWidth(cp1251ToUtf8(ar.RecordKey(i))));
    auto pad = [&](std::string s, size_t w) { return s + std::string(w > displayWidth(s) ? w - displayWidth(s) : 0, ' '); };
    auto right = [](std::string s, size_t w) { return std::string(w > s.size() ? w - s.size() : 0, ' ') + s; };
    ctx.out << pad("KEY", width) << "  KIND    UNPACKED      STORED\n";
    for (int i = 0; i < ar.RecordCount(); ++i) {
        const TResRecordInfo& r = *ar.Record(i);
        ctx.out << pad(cp1251ToUtf8(r.key), width) << "  " << right(std::to_string(r.kind), 4) << "  "
                << right(std::to_string(r.unpackedSize), 10) << "  " << right(std::to_string(r.storedSize), 10);
        if (r.flags & 0xFF) ctx.out << "  enciphered";
        ctx.out << "\n";
    }
    return kOk;
}

// The path under `dir` for a record key, or nullopt for keys that would
// leave the folder.
std::optional<std::filesystem::path> extractPath(const std::filesystem::path& dir, const std::string& key) {
    std::filesystem::path p = dir;
    std::string utf8 = cp1251ToUtf8(key);
    size_t start = 0, parts = 0;
    while (start <= utf8.size()) {
        size_t end = utf8.find_first_of("\\/", start);
        if (end == std::string::npos) end = utf8.size();
        std::string part = utf8.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") {
            p /= part;
            ++parts;
        }
        start = end + 1;
    }
    if (parts == 0) return std::nullopt;
    return p;
}

int archiveExtract(const Args& a, NbtoolContext& ctx) {
    std::optional<std::string> dir = a.get("-o");
    if (a.positional.empty() || !dir) {
        ctx.err << kExtractHelp;
        return kUsage;
    }
    TResArchive ar;
    ar.OpenMode = TOpenModes::opReadOnly;
    ar.SetFileName(a.positional[0]);
    if (!ar.Open()) {
        ctx.err << "nbtool: " << archiveOpenError(a.positional[0]) << "\n";
        return kFailed;
    }
    std::vector<std::string> keys;
    int status = kOk;
    if (a.positional.size() > 1) {
        for (size_t i = 1; i < a.positional.size(); ++i) {
            std::string key;
            if (!gameKey(a.positional[i], key, ctx.err)) return kUsage;
            if (ar.IndexOf(key) < 0) {
                ctx.err << "nbtool: no record \"" << a.positional[i] << "\" in " << a.positional[0] << "\n";
                status = kFailed;
                continue;
            }
            keys.push_back(key);
        }
    } else {
        for (int i = 0; i < ar.RecordCount(); ++i)
            if (ar.IndexOf(ar.RecordKey(i)) == i) keys.push_back(ar.RecordKey(i));  // later repeats are unreachable
    }
    for (const std::string& key : keys) {
        std::optional<std::filesystem::path> path = extractPath(*dir, key);
        if (!path) {
            ctx.err << "nbtool: the key \"" << cp1251ToUtf8(key) << "\" does not name a file inside " << *dir << "\n";
            status = kFailed;
            continue;
        }
        std::vector<uint8_t> bytes;
        if (!ar.ReadRecord(key, bytes)) {
            ctx.err << "nbtool: the record \"" << cp1251ToUtf8(key) << "\" cannot be read (damaged or enciphered)\n";
            status = kFailed;
            continue;
        }
        std::error_code ec;
        std::filesystem::create_directories(path->parent_path(), ec);
        static const uint8_t none = 0;  // an empty record still needs a valid pointer
        if (ec || !fs::writeFile(path->string(), bytes.empty() ? &none : bytes.data(), bytes.size())) {
            ctx.err << "nbtool: cannot write " << path->string() << "\n";
            status = kFailed;
        }
    }
    return status;
}

int archivePack(const Args& a, NbtoolContext& ctx) {
    std::optional<std::string> target = a.get("-o");
    if (!target) {
        ctx.err << kPackHelp;
        return kUsage;
    }
    struct Item {
        std::string argText;
        bool font;
    };
    std::vector<Item> items;
    for (auto [it, end] = a.options.equal_range("--font"); it != end; ++it) items.push_back({it->second, true});
    for (const std::string& p : a.positional) items.push_back({p, false});

    ArchiveWriter w;
    w.date = ctx.archiveDate;
    for (const Item& item : items) {
        size_t eq = item.argText.find('=');
        if (item.font && eq == std::string::npos) {
            ctx.err << "nbtool: --font needs KEY=FILE\n";
            return kUsage;
        }
        std::string file = eq == std::string::npos ? item.argText : item.argText.substr(eq + 1);
        std::string keyText = eq == std::string::npos ? fs::fileNameOf(item.argText) : item.argText.substr(0, eq);
        std::string key;
        if (!gameKey(keyText, key, ctx.err)) return kUsage;
        // The player asks for sounds\x.wav or logos\logo1.jpg with
        // backslashes and compares keys byte for byte apart from letter case.
        if (keyText.find('/') != std::string::npos) {
            std::string hint = keyText;
            std::replace(hint.begin(), hint.end(), '/', '\\');
            ctx.err << "nbtool: warning: the key \"" << keyText << "\" holds '/'; games name records with '\\' (\""
                    << hint << "\")\n";
        }
        for (const ArchiveEntry& e : w.entries())
            if (iequalsAscii(e.key, key)) {
                ctx.err << "nbtool: the key \"" << keyText << "\" is given twice\n";
                return kUsage;
            }
        std::optional<std::vector<uint8_t>> bytes = fs::readFile(file);
        if (!bytes) {
            ctx.err << "nbtool: cannot read " << file << "\n";
            return kFailed;
        }
        if (item.font) {
            FontPayloadInfo info;
            std::string why;
            if (!ParseFontPayload(*bytes, info, why)) {
                ctx.err << "nbtool: " << file << " is not a font payload: " << why << "\n";
                return kFailed;
            }
        }
        if (!w.add(key, item.font ? ArchiveWriter::kFontKind : 0, *bytes)) {
            ctx.err << "nbtool: " << file << " is too large for an archive record\n";
            return kFailed;
        }
    }
    if (!w.save(*target)) {
        ctx.err << "nbtool: cannot write " << *target << "\n";
        return kFailed;
    }
    ctx.out << "packed " << w.entries().size() << " record(s) into " << *target << "\n";
    return kOk;
}

int archiveCommand(const std::vector<std::string>& args, NbtoolContext& ctx) {
    if (args.size() < 2 || args[1] == "--help" || args[1] == "-h") {
        (args.size() < 2 ? ctx.err : ctx.out) << kArchiveHelp;
        return args.size() < 2 ? kUsage : kOk;
    }
    const std::string& sub = args[1];
    Args a;
    if (sub == "list") {
        if (!parseArgs(args, 2, {}, a, ctx.err)) return kUsage;
        if (a.help) return showHelp(ctx.out, kListHelp);
        return archiveList(a, ctx);
    }
    if (sub == "extract") {
        if (!parseArgs(args, 2, {"-o"}, a, ctx.err)) return kUsage;
        if (a.help) return showHelp(ctx.out, kExtractHelp);
        return archiveExtract(a, ctx);
    }
    if (sub == "pack") {
        if (!parseArgs(args, 2, {"-o", "--font"}, a, ctx.err)) return kUsage;
        if (a.help) return showHelp(ctx.out, kPackHelp);
        return archivePack(a, ctx);
    }
    ctx.err << "nbtool: unknown archive command \"" << sub << "\"\n" << kArchiveHelp;
    return kUsage;
}

// ---- font -------------------------------------------------------------------

int fontCommand(const std::vector<std::string>& args, NbtoolContext& ctx) {
    if (args.size() < 2 || args[1] == "--help" || args[1] == "-h") {
        (args.size() < 2 ? ctx.err : ctx.out) << kFontHelp;
        return args.size() < 2 ? kUsage : kOk;
    }
    if (args[1] != "bake") {
        ctx.err << "nbtool: unknown font command \"" << args[1] << "\"\n" << kFontHelp;
        return kUsage;
    }
    Args a;
    if (!parseArgs(args, 2, {"--ttf", "--size", "--first", "--last", "--spacing", "--codepage", "-o", "--name"}, a,
                   ctx.err))
        return kUsage;
    if (a.help) return showHelp(ctx.out, kFontHelp);
    std::optional<std::string> ttf = a.get("--ttf"), size = a.get("--size"), target = a.get("-o"),
                               name = a.get("--name");
    if (!ttf || !size || !target || !name || !a.positional.empty()) {
        ctx.err << kFontHelp;
        return kUsage;
    }
    FontBakeOptions o;
    o.ttfPath = *ttf;
    o.codepage = a.get("--codepage").value_or("cp1251");
    struct {
        const char* option;
        int* field;
    } numbers[] = {{"--size", &o.pixelSize}, {"--first", &o.first}, {"--last", &o.last}, {"--spacing", &o.spacing}};
    for (auto& n : numbers)
        if (std::optional<std::string> text = a.get(n.option); text && !parseInt(*text, *n.field)) {
            ctx.err << "nbtool: " << n.option << " needs an integer, not \"" << *text << "\"\n";
            return kUsage;
        }
    std::string key;
    if (!gameKey(*name, key, ctx.err)) return kUsage;

    std::string error;
    std::optional<std::vector<uint8_t>> payload = BakeFont(o, error);
    if (!payload) {
        ctx.err << "nbtool: " << error << "\n";
        return kFailed;
    }
    ArchiveWriter w;
    if (fs::fileExists(*target) && !w.load(*target, error)) {
        ctx.err << "nbtool: " << error << " (not replaced)\n";
        return kFailed;
    }
    w.date = ctx.archiveDate;
    if (!w.add(key, ArchiveWriter::kFontKind, *payload) || !w.save(*target)) {
        ctx.err << "nbtool: cannot write " << *target << "\n";
        return kFailed;
    }
    FontPayloadInfo info;
    ParseFontPayload(*payload, info, error);
    ctx.out << "baked " << info.glyphCount << " glyphs (cells " << info.patternWidth << "x" << info.patternHeight
            << ", " << info.textureCount << " texture(s) of " << info.textureWidth << "x" << info.textureHeight
            << ") into " << *target << " as " << *name << "\n";
    return kOk;
}

// ---- game -------------------------------------------------------------------

size_t countRaw(const GameNode& n) {
    size_t c = n.raw ? 1 : 0;
    for (const GameNode& child : n.children) c += countRaw(child);
    return c;
}

int gameDump(const Args& a, NbtoolContext& ctx) {
    if (a.positional.size() != 1) {
        ctx.err << kDumpHelp;
        return kUsage;
    }
    std::optional<std::vector<uint8_t>> bytes = fs::readFile(a.positional[0]);
    if (!bytes) {
        ctx.err << "nbtool: cannot read " << a.positional[0] << "\n";
        return kFailed;
    }
    GameNode game = ReadGame(*bytes);
    // A file that does not even begin with a class name (an empty file, a
    // JSON text, a picture) is no game file; dumping it raw would pass off a
    // wrong file as a damaged game.
    if (game.raw && game.cls.empty()) {
        ctx.err << "nbtool: " << a.positional[0] << " is not a game file: it does not begin with a class name\n";
        return kFailed;
    }
    if (size_t raw = countRaw(game))
        ctx.err << "nbtool: note: " << raw << " record(s) of unknown class or with damaged bytes kept raw\n";
    std::string text = GameToJson(game);
    if (std::optional<std::string> target = a.get("-o")) {
        if (!fs::writeFileAtomic(*target, text)) {
            ctx.err << "nbtool: cannot write " << *target << "\n";
            return kFailed;
        }
    } else {
        ctx.out << text;
    }
    return kOk;
}

int gameBuild(const Args& a, NbtoolContext& ctx) {
    std::optional<std::string> target = a.get("-o");
    if (a.positional.size() != 1 || !target) {
        ctx.err << kBuildHelp;
        return kUsage;
    }
    const std::string& source = a.positional[0];
    std::optional<std::string> text = fs::readFileString(source);
    if (!text) {
        ctx.err << "nbtool: cannot read " << source << "\n";
        return kFailed;
    }
    GameNode game;
    GameJsonIssue error;
    std::vector<GameJsonIssue> warnings;
    bool ok = GameFromJson(*text, game, error, warnings);
    for (const GameJsonIssue& w : warnings)
        ctx.err << source << ":" << w.line << ":" << w.column << ": warning: " << w.message << "\n";
    if (!ok) {
        ctx.err << source << ":" << error.line << ":" << error.column << ": error: " << error.message << "\n";
        return kFailed;
    }
    std::vector<uint8_t> bytes;
    std::string why;
    if (!WriteGame(game, bytes, why)) {
        ctx.err << source << ": error: " << why << "\n";
        return kFailed;
    }
    if (!fs::writeFileAtomic(*target, bytes.data(), bytes.size())) {
        ctx.err << "nbtool: cannot write " << *target << "\n";
        return kFailed;
    }
    return kOk;
}

int gameCommand(const std::vector<std::string>& args, NbtoolContext& ctx) {
    if (args.size() < 2 || args[1] == "--help" || args[1] == "-h") {
        (args.size() < 2 ? ctx.err : ctx.out) << kGameHelp;
        return args.size() < 2 ? kUsage : kOk;
    }
    Args a;
    if (!parseArgs(args, 2, {"-o"}, a, ctx.err)) return kUsage;
    if (args[1] == "dump") return a.help ? showHelp(ctx.out, kDumpHelp) : gameDump(a, ctx);
    if (args[1] == "build") return a.help ? showHelp(ctx.out, kBuildHelp) : gameBuild(a, ctx);
    ctx.err << "nbtool: unknown game command \"" << args[1] << "\"\n" << kGameHelp;
    return kUsage;
}

}  // namespace

int RunNbtool(const std::vector<std::string>& args, NbtoolContext& ctx) {
    if (args.empty()) {
        ctx.err << kMainHelp;
        return kUsage;
    }
    const std::string& cmd = args[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        ctx.out << kMainHelp;
        return kOk;
    }
    if (cmd == "archive") return archiveCommand(args, ctx);
    if (cmd == "font") return fontCommand(args, ctx);
    if (cmd == "game") return gameCommand(args, ctx);
    ctx.err << "nbtool: unknown command \"" << cmd << "\"\n" << kMainHelp;
    return kUsage;
}

}  // namespace nb
