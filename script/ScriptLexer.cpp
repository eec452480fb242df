#include "script/ScriptLexer.h"

namespace nb::script {

namespace {

constexpr std::string_view kTable[] = {
    "",       "",      "",         "TRUE",  "FALSE",    "=",    "OR",     "AND",    "NOT",
    "XOR",    ",",     ":",        "<>",    ">",        "<",    ">=",     "<=",     "+",
    "-",      "*",     "/",        "^",     "(",        ")",    "[",      "]",      ";",
    "//",     "{",     "}",        ":=",    "BEGIN",    "END",  "IF",     "THEN",   "ELSE",
    "FOR",    "TO",    "DOWNTO",   "DO",    "WHILE",    "REPEAT", "UNTIL", "BREAK", "CONTINUE",
    "EXIT",   "GOTO",  "SHL",      "SHR",   "PROCEDURE", "FUNCTION", "USES", "INCLUDE", "CASE",
    "OF",     "..",
};
static_assert(sizeof(kTable) / sizeof(kTable[0]) == tkLastCode + 1);
static_assert(tkComma == 10 && tkPow == 21 && tkAssign == 30 && tkRepeat == 41 && tkUses == 51);

bool allIdentChars(std::string_view s) {
    for (unsigned char c : s)
        if (!isIdentChar(c)) return false;
    return true;
}

// Keywords and symbols made only of identifier characters must not run into
// a following identifier character ("ORDER" is not "OR").
struct TableEntry {
    std::string_view text;
    bool identOnly;
};

struct KeywordTable {
    TableEntry entries[tkLastCode + 1];
    KeywordTable() {
        for (int c = 0; c <= tkLastCode; ++c) entries[c] = {kTable[c], allIdentChars(kTable[c])};
    }
};

const KeywordTable& keywordTable() {
    static const KeywordTable table;  // immutable after construction
    return table;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlankChar(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && isBlankChar(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string_view tokenTableText(int code) {
    if (code < 0 || code > tkLastCode) return {};
    return kTable[code];
}

std::string preprocessSource(std::string_view source) {
    std::string out;
    out.reserve(source.size());
    bool inString = false, inComment = false;
    for (size_t i = 0; i < source.size(); ++i) {
        char c = source[i];
        if (!inComment && isQuoteChar(static_cast<unsigned char>(c))) inString = !inString;
        if (!inString) {
            if (c == '/' && i + 1 < source.size() && source[i + 1] == '/') {
                inComment = true;
            } else if (c == '{') {
                inComment = true;
            } else if (c == '}') {
                inComment = false;
                continue;
            } else if (c == '\r' || c == '\n') {
                inComment = false;
            }
        }
        if (!inComment) out.push_back(inString ? c : ((c >= 'a' && c <= 'z') ? char(c - 32) : c));
    }
    return out;
}

size_t lexToken(std::string_view text, size_t pos, LexToken& out) {
    out.code = tkEnd;
    out.text.clear();
    while (pos < text.size() && isBlankChar(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos >= text.size()) return pos;

    // Longest keyword or symbol in code order; equal lengths keep the lower code.
    const KeywordTable& table = keywordTable();
    int best = -1;
    size_t bestLen = 0;
    std::string_view rest = text.substr(pos);
    // Right behind a string constant ".." is always the range symbol, so that
    // a label such as 'a'..3 reads as a range (and is then refused as a mixed
    // one) rather than as the string followed by a name "..3".
    const bool afterString = pos > 0 && isQuoteChar(static_cast<unsigned char>(text[pos - 1]));
    for (int c = tkTrue; c <= tkLastCode; ++c) {
        const TableEntry& e = table.entries[c];
        if (e.text.size() <= bestLen || rest.substr(0, e.text.size()) != e.text) continue;
        if (e.identOnly && e.text.size() < rest.size() &&
            isIdentChar(static_cast<unsigned char>(rest[e.text.size()])) && !(c == tkRange && afterString))
            continue;
        best = c;
        bestLen = e.text.size();
    }
    if (best >= 0) {
        out.code = static_cast<uint8_t>(best);
        out.text = std::string(table.entries[best].text);
        return pos + bestLen;
    }

    unsigned char first = static_cast<unsigned char>(text[pos]);
    if (isQuoteChar(first)) {
        size_t end = pos + 1;
        while (end < text.size() && !isQuoteChar(static_cast<unsigned char>(text[end]))) ++end;
        if (end < text.size()) ++end;  // the closing quote
        out.code = tkConst;
        out.text = std::string(trimBlanks(text.substr(pos, end - pos)));
        return end;
    }

    size_t end = pos + 1;
    while (end < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[end]);
        if (isBlankChar(c) || !isIdentChar(c)) break;
        ++end;
    }
    std::string_view tok = text.substr(pos, end - pos);
    if (isDigitChar(first)) {
        size_t dots = tok.find("..");
        if (dots != std::string_view::npos) {
            tok = tok.substr(0, dots);
            end = pos + dots;
        }
    }
    out.code = (isDigitChar(first) || isQuoteChar(first)) ? tkConst : tkIdent;
    out.text = std::string(trimBlanks(tok));
    return end;
}

void appendCompiledToken(std::string& out, uint8_t code, std::string_view text) {
    out.push_back(kMarker);
    out.push_back(static_cast<char>(static_cast<uint8_t>(code + 64)));
    out.append(text);
}

std::string compileSource(std::string_view source) {
    std::string pre = preprocessSource(source);
    std::string out;
    out.reserve(pre.size() + pre.size() / 2);
    LexToken tok;
    size_t pos = 0;
    for (;;) {
        pos = lexToken(pre, pos, tok);
        if (tok.code == tkEnd) break;
        appendCompiledToken(out, tok.code, tok.text);
    }
    return out;
}

std::vector<Token> decodeCompiled(std::string_view compiled) {
    std::vector<Token> toks;
    size_t pos = compiled.find(kMarker);
    while (pos != std::string_view::npos && pos + 1 < compiled.size()) {
        uint8_t code = static_cast<uint8_t>(static_cast<uint8_t>(compiled[pos + 1]) - 64);
        if (code == tkEnd) break;
        size_t next = compiled.find(kMarker, pos + 2);
        size_t len = (next == std::string_view::npos ? compiled.size() : next) - (pos + 2);
        toks.push_back(Token{code, std::string(compiled.substr(pos + 2, len))});
        pos = next;
    }
    return toks;
}

}  // namespace nb::script
