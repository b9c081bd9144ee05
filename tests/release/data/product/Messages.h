#pragma once
// Message constants in each form the guide check must read, and two it must
// leave alone.
#include <string_view>

inline constexpr std::string_view kNarrowMessage = "Файл не найден: %s";
inline constexpr std::string_view kCp1251Message =
    text::Cp1251<"Первая строка.\r\nВторая "
                 "строка">;
inline constexpr wchar_t kWideMessage[] = L"Широкий \"текст\"";
inline constexpr std::string_view kUnlistedMessage = "Этого текста в таблице нет";
constexpr unsigned kWindowMessage = 0x8000 + 1;
// inline constexpr std::string_view kCommentedMessage = "в комментарии";
