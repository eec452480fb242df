// Lexical layer of the script language: character classes, the token table,
// preprocessing of hook sources, the lexer, and the compiled token text.
//
// Compiled form: every token is the byte 127 (the marker), one byte holding
// the token code plus 64, then the token text as it is. Token texts are not
// escaped, so the marker can only appear at token starts in text this lexer
// produced.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nb::script {

// Token codes, searched in this order by the lexer. Codes 0-2 have no fixed
// text; every other code is a keyword or symbol.
enum Tk : uint8_t {
    tkEnd = 0,      // end of text
    tkIdent = 1,    // identifier (dotted paths included)
    tkConst = 2,    // number or quoted string
    tkTrue, tkFalse, tkEq, tkOr, tkAnd, tkNot, tkXor,
    tkComma,        // 10
    tkColon, tkNe, tkGt, tkLt, tkGe, tkLe, tkPlus, tkMinus, tkMul, tkDiv,
    tkPow,          // 21
    tkLParen, tkRParen, tkLBracket, tkRBracket, tkSemicolon, tkSlashes, tkLBrace, tkRBrace,
    tkAssign,       // 30
    tkBegin, tkEndKw, tkIf, tkThen, tkElse, tkFor, tkTo, tkDownto, tkDo, tkWhile,
    tkRepeat,       // 41
    tkUntil, tkBreak, tkContinue, tkExit, tkGoto, tkShl, tkShr, tkProcedure, tkFunction,
    tkUses,         // 51
    tkInclude, tkCase, tkOf, tkRange,
    tkLastCode = tkRange,
};

inline constexpr char kMarker = 127;

// Fixed text of a keyword or symbol code; "" for codes without one.
std::string_view tokenTableText(int code);

// Identifier characters: ".", digits, ASCII letters, "_", 0xA8, 0xB8 and
// 0xC0-0xFF (the Cyrillic letters of Windows-1251).
inline bool isIdentChar(unsigned char c) {
    return c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '_' ||
           (c >= 'a' && c <= 'z') || c == 0xA8 || c == 0xB8 || c >= 0xC0;
}
inline bool isQuoteChar(unsigned char c) { return c == '"' || c == '\''; }
inline bool isBlankChar(unsigned char c) { return c == 9 || c == 10 || c == 13 || c == 32; }
inline bool isDigitChar(unsigned char c) { return c >= '0' && c <= '9'; }

// Upper-cases ASCII letters outside strings and removes both comment kinds.
// "//" and "{" start a comment that ends at the end of the line; a "}"
// outside a string is always dropped and ends a comment. Either quote
// character toggles the string state (no escapes, no doubling).
std::string preprocessSource(std::string_view source);

struct LexToken {
    uint8_t code = tkEnd;
    std::string text;
};

// Reads one token of preprocessed text starting at `pos`; answers the
// position after it. At the end of the text the code is tkEnd.
size_t lexToken(std::string_view text, size_t pos, LexToken& out);

// Preprocesses and lexes a source into compiled token text.
std::string compileSource(std::string_view source);

void appendCompiledToken(std::string& out, uint8_t code, std::string_view text);

// Splits compiled text into tokens. Bytes before the first marker are
// ignored; a marker with no code byte after it ends the text, and so does a
// token of code 0.
struct Token {
    uint8_t code = tkEnd;
    std::string text;
};
std::vector<Token> decodeCompiled(std::string_view compiled);

}  // namespace nb::script
