// The inputs of the builds through the wizard and pkgtool, and what those
// builds must leave: a comparison report on the simulator's default tree, the
// objects it names, the log line per object, the files a failed build must
// not touch.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "Scenarios.h"
#include "WizardSteps.h"

// The objects of the report of PrepareFiles that a build takes, in report order: the
// report's path, the package's section and the path in the simulator's tree.
struct TExpectedObject {
    const wchar_t* Path;
    const wchar_t* Section;
    const wchar_t* TreePath;
};
inline const TExpectedObject kBuildObjects[] = {
    {L"Справочник.Склады", L"Directories", L"Справочники.Склады"},
    {L"Обработка.Загрузка.Форма.Основная", L"Processings", L"Обработки.Загрузка.Форма.Основная"},
    {L"ОбщийМодуль.СервисКлиент", L"CommonModules", L"Общие.Общие модули.СервисКлиент"},
    {L"Подсистема.Склад", L"Subsystems", L"Общие.Подсистемы.Склад"},
    {L"Справочник.Склады.Реквизит.Адрес", L"Directories", L"Справочники.Склады.Реквизит.Адрес"},
};

// The message of a build whose capture failed (the box's text, pkgtool's stderr).
inline const std::wstring kCaptureFailed =
    L"ОШИБКА ПОЛУЧЕНИЯ ДАННЫХ ДЛЯ ФОРИМРОВАНИЯ ПАКЕТА.\r\nПопробуйте увеличить задержку и повторите попытку";

// The log line of one object: taken, or the failure.
std::wstring LogLine(const std::wstring& path, bool ok);
// Writes to `path` what each object of the package must hold: the
// simulator's formats for its node and their bytes up to the first zero,
// which the package keeps (read by scripts/show_package.py --expect).
void WriteExpectedObjects(const std::filesystem::path& path);
// Empties `dir` and writes the report, the agreement, the description and
// "an earlier package" where the package goes.
TBuildFiles PrepareFiles(const std::filesystem::path& dir);
// Temporary files a build may leave: its private folders under TMP and
// partial packages beside the target.
std::vector<std::wstring> Leftovers(const std::filesystem::path& dir);
// A failed or stopped build writes nothing and leaves the earlier package.
void CheckNothingWritten(TScenarioContext& c, const TBuildFiles& files, const std::vector<std::wstring>& before,
                         const std::wstring& what);
