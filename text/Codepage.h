#pragma once
// Conversions between the code pages the system uses. The pages are fixed
// (Windows-1251 for text, 866 for ZIP entry names) and never taken from the
// machine's locale, so the same input gives the same bytes everywhere.

#include <filesystem>
#include <string>
#include <string_view>

namespace text {

// Windows-1251 bytes -> UTF-16. Total: every byte has a character.
std::u16string Cp1251ToUtf16(std::string_view s);
// UTF-16 -> Windows-1251; a character the page lacks becomes `fallback`.
std::string Utf16ToCp1251(std::u16string_view s, char fallback = '?');
// UTF-16 -> code page 866; a character the page lacks becomes `fallback`.
std::string Utf16ToCp866(std::u16string_view s, char fallback = '?');
// Code page 866 bytes -> UTF-16. Total: every byte has a character.
std::u16string Cp866ToUtf16(std::string_view s);
// Windows-1251 -> code page 866 (through UTF-16).
std::string Cp1251ToCp866(std::string_view s, char fallback = '?');

// UTF-16 -> UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);
// UTF-8 -> UTF-16; a malformed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view s);
// Windows-1251 -> UTF-8.
std::string Cp1251ToUtf8(std::string_view s);
// UTF-8 -> Windows-1251; a character the page lacks becomes `fallback`.
std::string Utf8ToCp1251(std::string_view s, char fallback = '?');

// A path named by Windows-1251 text, and the Windows-1251 text of a path
// (characters outside the page become '?').
std::filesystem::path PathFrom1251(std::string_view s);
std::string PathTo1251(const std::filesystem::path& p);

// Simple case folding of one UTF-16 unit for Latin, Cyrillic (with Ё and the
// other letters of Windows-1251) and Latin-1; other units are returned as is.
char16_t FoldCase(char16_t c);
// Whether two UTF-16 texts are equal ignoring case as FoldCase folds it.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace text
