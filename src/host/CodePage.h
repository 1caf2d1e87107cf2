// Text is bytes: every name, chat line and file line is held as single-byte Windows-1252
// characters. This is where those bytes meet letter case and the UTF-8 of screens and terminals.
#pragma once

#include <string>
#include <string_view>

namespace murmur::codepage {

char toLower(char c);
std::string toLower(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);

// For display: every byte becomes its Unicode character. Undefined positions keep their own
// code point, as the platform's conversion does.
std::string toUtf8(std::string_view bytes);
// From a keyboard or a terminal: characters the code page cannot hold become "?"; malformed
// UTF-8 bytes are taken as code-page characters unchanged.
std::string fromUtf8(std::string_view utf8);

// For a terminal or a log: like toUtf8, but control characters (C0, DEL and the undefined
// positions that stand for C1 controls) are shown as \xHH, so client text can never drive the
// terminal that shows it.
std::string toPrintableUtf8(std::string_view bytes);
// Whether the byte is shown as \xHH, four characters, by toPrintableUtf8.
bool isShownEscaped(unsigned char byte);

// Unicode code point of one code-page byte.
char32_t toUnicode(unsigned char byte);

}  // namespace murmur::codepage
