#pragma once
// The worked example of a configuration comparison report, shared by the
// tests of the report walk and of everything built on it (the capture, pkgtool
// preview). Written in UTF-8 here; a test turns it into Windows-1251, as the
// Designer saves the report.

#include <string>
#include <string_view>

namespace reporttest {

// The report's opening: the title, the configuration, a directory with one
// of its attributes, and a processing whose module differs, up to the line
// that opens the module's block.
inline constexpr std::string_view kWorkedExampleHead =
    "Отчет о сравнении конфигураций\r\n"
    "\tКонфигурация\r\n"
    "\t\t  <--Справочник.Склады\r\n"
    "\t\t\t  <--Справочник.Склады.Реквизит.Адрес\r\n"
    "\t\t  ***Обработка.Загрузка\r\n"
    "\t\t\t  Модуль объекта: Различаются значения\r\n"
    "\t\t\tОбъект присутствует только в основной конфигурации: 41 - 42\r\n";

// The whole worked example: the opening, the module's text, a form of the
// processing, a common module and a subsystem. Four objects are captured.
inline const std::string kWorkedExample = std::string(kWorkedExampleHead) +
                                          "\t\t\t\t  <--Справочник.Ловушка\r\n"  // module text that looks like a new object
                                          "Процедура Тест()\r\n"
                                          "\t\t\t  <--Обработка.Загрузка.Форма.Основная\r\n"
                                          "\t\t  <--ОбщийМодуль.Сервис\r\n"
                                          "\t\t  <--Подсистема.Склад\r\n";

}  // namespace reporttest
