#include "WizardFixtures.h"

#include <cwchar>
#include <system_error>

#include <windows.h>

#include "FileBytes.h"
#include "SimPayload.h"
#include "text/Codepage.h"

namespace fs = std::filesystem;

namespace {

// A comparison report on the simulator's default tree: all four kinds, an
// attribute, a depth skip, a module block.
std::string BuildReport() {
    const wchar_t* lines[] = {
        L"Отчет о сравнении конфигураций",
        L"\tДемонстрационная конфигурация",
        L"\t\t  <--Справочник.Склады",
        L"\t\t\t  <--Справочник.Склады.Реквизит.Ответственный",
        L"\t\t  ***Обработка.Загрузка",
        L"\t\t\t  Модуль объекта. Различаются значения",
        L"\t\t\tОбъект присутствует только в основной конфигурации: 41 - 42",
        L"Процедура Загрузить() Экспорт",
        L"\t\t  <--ОбщийМодуль.Чужой",
        L"\t\t\t  <--Обработка.Загрузка.Форма.Основная",
        L"\t\t  <--ОбщийМодуль.СервисКлиент",
        L"\t\t  <--Подсистема.Склад",
        L"\t\t  <--Справочник.Склады.Реквизит.Адрес",
    };
    std::string r;
    for (const wchar_t* l : lines) r += Cp1251(l) + "\r\n";
    return r;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace

std::wstring LogLine(const std::wstring& path, bool ok) {
    return L"Захват объекта для добавления (" + path + (ok ? L") - УСПЕХ" : L") - ОШИБКА");
}

void WriteExpectedObjects(const fs::path& path) {
    std::string out;
    for (const TExpectedObject& o : kBuildObjects) {
        const std::string tree = Cp1251(o.TreePath);
        out += "object\t" + text::Utf16ToUtf8(std::u16string(o.Section, o.Section + wcslen(o.Section))) + "\t" +
               text::Cp1251ToUtf8(tree) + "\n";
        for (const std::string& format : SimCopiedFormats(tree)) {
            const std::string payload = SimPayload(tree, format);
            out += "item\t" + format + "\t" + Hex(payload.substr(0, payload.find('\0'))) + "\n";
        }
    }
    file::Write(path, out);
}

TBuildFiles PrepareFiles(const fs::path& dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    TBuildFiles f{dir / L"Отчет.txt", dir / L"Соглашение.txt", dir / L"Описание.txt", dir / L"Пакет.1c82pkg"};
    file::Write(f.Report, BuildReport());
    file::Write(f.Agreement, Cp1251(L"Пользовательское соглашение: текст для проверки."));
    file::Write(f.Description, Cp1251(L"Описание пакета: пять объектов демонстрационной конфигурации."));
    file::Write(f.Package, "an earlier package");
    return f;
}

std::vector<std::wstring> Leftovers(const fs::path& dir) {
    std::vector<std::wstring> found;
    std::error_code ec;
    wchar_t tmp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, tmp);
    for (const fs::path& where : {fs::path(std::wstring(tmp, n)), dir})
        for (const auto& e : fs::directory_iterator(where, ec)) {
            const std::wstring name = e.path().filename().wstring();
            if (name.rfind(L"1c82pkg-", 0) == 0 || e.path().extension() == L".tmp") found.push_back(name);
        }
    return found;
}

void CheckNothingWritten(TScenarioContext& c, const TBuildFiles& files, const std::vector<std::wstring>& before,
                         const std::wstring& what) {
    c.Check.EqualBytes(file::Read(files.Package).value_or(""), "an earlier package",
                       what + L": the earlier package is intact");
    c.Check.Check(Leftovers(files.Package.parent_path()) == before, what + L": no temporary file is left");
}
