// Scenarios that run the wizard's build core for real against the Designer
// simulator: the report walk and the object capture over the Win32 seams
// (SendMessageA into the tree, keybd_event Ctrl+Insert, the system
// clipboard), then the package assembly. What they write is read back on the
// Linux side by tests/e2e/check_package.py.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "FixedPorts.h"
#include "Scenarios.h"
#include "SimPayload.h"
#include "SimSession.h"
#include "package/PackageAssembly.h"
#include "package/PackageDocument.h"
#include "designer/ClipboardItems.h"
#include "designer/ObjectCapture.h"
#include "designer/win32/Win32Ports.h"
#include "platform/Win32Clipboard.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"
#include "text/Literal.h"

using namespace text::literals;
namespace fs = std::filesystem;

namespace {

// The worked example of a comparison report, on the simulator's tree: one
// capture is passed over for its depth, a module block is skipped, a group
// line resets the depth, and a directory's attribute is captured at level 2.
// Its objects have names that a shorter sibling begins (Склады,
// ЗагрузкаДанных), a name with a blank after a sibling that shares its first
// word (Общие модули), and the deepest node of the tree, followed by a node
// under another first-level folder.
std::string ComparisonReport() {
    std::string r;
    const auto line = [&r](std::string_view s) { r.append(s).append("\r\n"); };
    line("Отчет о сравнении конфигураций"_cp1251);
    line("\tДемонстрационная конфигурация"_cp1251);
    line("\t\t  <--Справочник.Склады"_cp1251);
    line("\t\t\t  <--Справочник.Склады.Реквизит.Ответственный"_cp1251);
    line("\t\t  ***Обработка.ЗагрузкаДанных"_cp1251);
    line("\t\t\t  Модуль объекта. Различаются значения"_cp1251);
    line("\t\t\tОбъект присутствует только в основной конфигурации: 41 - 42"_cp1251);
    line("Процедура Загрузить() Экспорт"_cp1251);
    line("\t\t  <--ОбщийМодуль.Чужой"_cp1251);  // module text: never captured
    line("\t\t\t  <--Обработка.ЗагрузкаДанных.Форма.Основная"_cp1251);
    line("\t\t  <--ОбщийМодуль.Сервис"_cp1251);
    line("\t\t  <--Подсистема.Склад.Поступление.Приемка.Контроль.Качество.Претензии.Возвраты.Списание"_cp1251);
    line("\t\t  <--Справочник.Склады.Реквизит.Адрес"_cp1251);
    return r;
}

// The objects the report above captures, with their tree paths.
struct TExpectedObject {
    std::string_view Path;
    std::string_view TreePath;
};
const TExpectedObject kExpected[] = {
    {"Справочник.Склады"_cp1251, "Справочники.Склады"_cp1251},
    {"Обработка.ЗагрузкаДанных.Форма.Основная"_cp1251, "Обработки.ЗагрузкаДанных.Форма.Основная"_cp1251},
    {"ОбщийМодуль.Сервис"_cp1251, "Общие.Общие модули.Сервис"_cp1251},
    {"Подсистема.Склад.Поступление.Приемка.Контроль.Качество.Претензии.Возвраты.Списание"_cp1251,
     "Общие.Подсистемы.Склад.Поступление.Приемка.Контроль.Качество.Претензии.Возвраты.Списание"_cp1251},
    {"Справочник.Склады.Реквизит.Адрес"_cp1251, "Справочники.Склады.Реквизит.Адрес"_cp1251},
};

std::wstring W(std::string_view s1251) {
    const std::u16string u = text::Cp1251ToUtf16(s1251);
    return std::wstring(u.begin(), u.end());
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    auto f = platform::TFile::Create(path);
    f.WriteAll(bytes.data(), bytes.size());
    f.Close();
}

class TLogLines : public designer::ILogSink {
public:
    void AddLine(const std::string& line) override { Lines.push_back(line); }
    std::vector<std::string> Lines;
};

// A hidden window of the driver's own, to own what it puts on the clipboard.
class TOwnerWindow {
public:
    TOwnerWindow()
        : hwnd_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
    ~TOwnerWindow() {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    HWND Get() const { return hwnd_; }

private:
    HWND hwnd_;
};

// Puts data in every format an object's copy has, as if an earlier object
// had just been copied: what a capture must never take for the next object.
bool PutStaleCopy(HWND owner, const std::string& treePath) {
    if (!OpenClipboard(owner)) return false;
    EmptyClipboard();
    bool ok = true;
    for (const std::string& name : SimCopiedFormats(treePath)) {
        const UINT id = clip::FormatId(name);
        const std::string bytes = "stale " + name + std::string(1, '\0');
        HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        if (mem == nullptr) {
            ok = false;
            continue;
        }
        memcpy(GlobalLock(mem), bytes.data(), bytes.size());
        GlobalUnlock(mem);
        if (!SetClipboardData(id, mem)) {
            GlobalFree(mem);
            ok = false;
        }
    }
    CloseClipboard();
    return ok;
}

struct TBuild {
    package::TPackageDocument Package;
    package::TWalkResult Result;
    TLogLines Log;
    std::wstring Error;
};

// Starts a build as the wizard does: the tree to the front, then the walk
// with the capture over the real Win32 seams.
TBuild CaptureReport(HWND tree, const fs::path& report, const std::string& delay) {
    TBuild build;
    designer::TWin32Keyboard keyboard;
    platform::TWin32Clock clock;
    designer::TWin32TreeWindow treeWindow(tree, clock);
    platform::TWin32Clipboard clipboard;
    TDelayText delayField(delay);
    designer::TCapturePorts ports{treeWindow, keyboard, clock, clipboard, delayField, build.Log};
    wnd::MakeForeground(tree, 5000);
    try {
        build.Result = designer::CaptureReportObjects(build.Package, text::PathTo1251(report), ports);
    } catch (const text::TError& e) {
        build.Error = W(e.what());
    }
    return build;
}

std::string LogLine(std::string_view path, bool ok) {
    return std::string("Захват объекта для добавления ("_cp1251) + std::string(path) +
           std::string(ok ? ") - УСПЕХ"_cp1251 : ") - ОШИБКА"_cp1251);
}

// The AddObject element holds, in list order, the simulator's payload of each
// format of its node, cut at the first zero byte.
void CheckItems(TScenarioContext& c, const xml::TXmlDNode* object, const std::string& treePath) {
    const std::vector<std::string> formats = SimCopiedFormats(treePath);
    c.Check.Equal(object->ChildNodes()->Count(), static_cast<long long>(formats.size()), L"items of " + W(treePath));
    int i = 0;
    for (xml::TXmlDNode* item = object->FirstChild(); item && i < static_cast<int>(formats.size());
         item = item->NextSibling(), ++i) {
        auto* name = item->Attributes()->FindNamedItem("FormatName");
        c.Check.Check(name && static_cast<xml::TXmlDAttribute*>(name)->Value() == formats[i],
                      L"format " + std::to_wstring(i) + L" of " + W(treePath) + L" is " + W(formats[i]));
        const std::string payload = SimPayload(treePath, formats[i]);
        c.Check.EqualBytes(item->GetText(), designer::ClipboardItemText(payload.data(), payload.size()),
                           L"item " + W(formats[i]) + L" of " + W(treePath) + L" holds the copied bytes");
    }
}

// Every AddObject of the document holds the copy of its own node.
void CheckDocument(TScenarioContext& c, const package::TPackageDocument& package) {
    std::vector<const xml::TXmlDElement*> objects;
    for (xml::TXmlDElement* section :
         {package.CommonModules, package.Directories, package.Processings, package.Subsystems})
        for (xml::TXmlDNode* n = section->FirstChild(); n; n = n->NextSibling())
            objects.push_back(static_cast<const xml::TXmlDElement*>(n));
    c.Check.Equal(static_cast<long long>(objects.size()), 5, L"AddObject elements in the document");
    for (const TExpectedObject& expected : kExpected) {
        const std::string treePath(expected.TreePath);
        const xml::TXmlDElement* found = nullptr;
        for (const auto* o : objects) {
            auto* attr = o->Attributes()->FindNamedItem("ObjectPath");
            if (attr && static_cast<const xml::TXmlDAttribute*>(attr)->Value() == treePath) found = o;
        }
        if (c.Check.Check(found != nullptr, L"AddObject for " + W(treePath))) CheckItems(c, found, treePath);
    }
}

// The whole build: the package file, the document it carries and the key on
// the clipboard. The output stays in build_out/ for the Linux-side reader.
void BuildPackage(TScenarioContext& c) {
    // A Designer that takes its time with each copy and holds the clipboard
    // open halfway through it, with decoy windows around.
    TSimSession sim(c.SimExe, L"build", {L"--latency", L"300", L"--hold-open", L"300", L"--decoys"});
    HWND tree = OpenTree(c, sim);
    if (!tree) return;

    const fs::path out = fs::current_path() / L"build_out";
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out);
    WriteFile(out / L"Отчет.txt", ComparisonReport());
    WriteFile(out / L"Соглашение.txt", "Пользовательское соглашение: текст для проверки."_cp1251);
    WriteFile(out / L"Описание.txt", "Описание пакета: пять объектов демонстрационной конфигурации."_cp1251);
    // An earlier package in place: the build must replace it, not add to it.
    WriteFile(out / L"Пакет.1c82pkg", "an earlier package");

    // A generous delay: the capture reads as soon as the copy has arrived.
    TBuild build = CaptureReport(tree, out / L"Отчет.txt", "5000");
    c.Check.Equal(build.Error, L"", L"the walk raises no error");
    c.Check.Check(build.Result.Completed, L"the report is walked to its end", W(build.Result.FailedPath));
    c.Check.Equal(build.Result.Captured, 5, L"objects captured");
    std::vector<std::string> expectedLog;
    for (const TExpectedObject& e : kExpected) expectedLog.push_back(LogLine(e.Path, true));
    c.Check.Check(build.Log.Lines == expectedLog, L"one success line per object, in report order");
    CheckDocument(c, build.Package);
    c.Check.Check(LinesWithPrefix(sim, L"decoy ").empty(), L"no decoy window was used");
    if (!build.Result.Completed) return;

    // Cyrillic letters in the key, and an English input language while it
    // goes to the clipboard: CF_TEXT must still hold its Windows-1251 bytes.
    const std::string key(text::Utf8ToCp1251("Ключ-7C1E55A0-2B9D-4F3A-9E61-0D4C8B72A5F3"));
    ActivateKeyboardLayout(LoadKeyboardLayoutW(L"00000409", 0), 0);
    package::TAssemblyInput input{text::PathTo1251(out / L"Соглашение.txt"), text::PathTo1251(out / L"Описание.txt"),
                                  text::PathTo1251(out / L"Пакет.1c82pkg"), key};
    TOwnerWindow owner;
    platform::TWin32Clipboard clipboard(owner.Get());
    platform::TWin32Clock clock;
    try {
        package::AssemblePackage(*build.Package.Document, input, clipboard, clock);
    } catch (const text::TError& e) {
        c.Check.Check(false, L"the package is assembled", W(e.what()));
        return;
    }
    const auto onClipboard = clip::Read(CF_TEXT);
    c.Check.EqualBytes(onClipboard ? std::string(onClipboard->c_str()) : std::string(), key,
                       L"the package key is on the clipboard");
    const auto unicode = clip::Read(CF_UNICODETEXT);
    c.Check.Check(unicode && std::wstring(reinterpret_cast<const wchar_t*>(unicode->c_str())) == W(key),
                  L"the package key is on the clipboard as Unicode text");
    const auto locale = clip::Read(CF_LOCALE);
    c.Check.Check(
        locale && locale->size() >= 4 &&
            (static_cast<unsigned char>((*locale)[0]) | static_cast<unsigned char>((*locale)[1]) << 8) == 0x0419,
        L"the clipboard's locale is Russian");
    // Put there by the wizard, not made by the system from the Unicode text
    // in whatever code page the input language has: the system lists the
    // formats it makes after those that were put.
    const std::vector<UINT> formats = clip::Formats();
    std::wstring listed;
    for (UINT f : formats) listed += std::to_wstring(f) + L" ";
    c.Check.Check(
        formats.size() >= 3 && formats[0] == CF_UNICODETEXT && formats[1] == CF_TEXT && formats[2] == CF_LOCALE,
        L"Unicode text, Windows-1251 text and the locale are put on the clipboard", listed);
    WriteFile(out / L"expected.xml", build.Package.Document->GetXml());
    WriteFile(out / L"expected.key", key);
    c.Check.Check(fs::file_size(out / L"Пакет.1c82pkg") > 1000, L"the package replaced the earlier file");
}
const TScenarioEntry kBuildPackageEntry(TArea::Build, "build_package", BuildPackage);

// A copy that misses a format, and a Designer slower than the delay: each
// ends the build at that object, with its log line, and nothing is packed.
void BuildFails(TScenarioContext& c) {
    const fs::path out = fs::current_path() / L"build_fail_out";
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out);
    WriteFile(out / L"Отчет.txt", ComparisonReport());
    {
        TSimSession sim(c.SimExe, L"build_drop",
                        {L"--drop-format", L"1C:MD8 Info", L"--drop-node", L"Общие.Общие модули.Сервис"});
        HWND tree = OpenTree(c, sim);
        if (!tree) return;
        TBuild build = CaptureReport(tree, out / L"Отчет.txt", "3000");
        c.Check.Check(!build.Result.Completed, L"a missing format stops the walk");
        c.Check.Equal(W(build.Result.FailedPath), L"ОбщийМодуль.Сервис", L"the failed object");
        c.Check.Equal(build.Result.Captured, 2, L"objects captured before it");
        c.Check.Check(!build.Log.Lines.empty() && build.Log.Lines.back() == LogLine("ОбщийМодуль.Сервис"_cp1251, false),
                      L"the last log line reports the failure");
        // The failed object keeps the items read before the missing format.
        const xml::TXmlDNode* failed = build.Package.CommonModules->FirstChild();
        c.Check.Equal(failed ? failed->ChildNodes()->Count() : -1, 4, L"items kept before the missing format");
    }
    {
        // The copy arrives 1.5 s after the keystroke; with a delay of 200 ms
        // the capture must fail instead of reading what is on the clipboard.
        TSimSession sim(c.SimExe, L"build_slow", {L"--latency", L"1500"});
        HWND tree = OpenTree(c, sim);
        if (!tree) return;
        TBuild build = CaptureReport(tree, out / L"Отчет.txt", "200");
        c.Check.Check(!build.Result.Completed, L"a Designer slower than the delay fails the capture");
        c.Check.Equal(build.Result.Captured, 0, L"nothing is captured");
        c.Check.Check(build.Log.Lines.size() == 1 && build.Log.Lines[0] == LogLine("Справочник.Склады"_cp1251, false),
                      L"one failure line");
    }
    {
        // The same slow Designer, but one that leaves the previous copy on the
        // clipboard until it renders: every format of the object is there
        // when the delay ends, yet it is the old data, so the capture fails.
        TSimSession sim(c.SimExe, L"build_stale", {L"--latency", L"1500", L"--keep-stale"});
        HWND tree = OpenTree(c, sim);
        if (!tree) return;
        TOwnerWindow owner;
        c.Check.Check(PutStaleCopy(owner.Get(), std::string("Справочники.Склады"_cp1251)),
                      L"an earlier copy is on the clipboard");
        TBuild build = CaptureReport(tree, out / L"Отчет.txt", "200");
        c.Check.Check(!build.Result.Completed, L"the previous copy is not taken for the object");
        const xml::TXmlDNode* object = build.Package.Directories->FirstChild();
        c.Check.Equal(object ? object->ChildNodes()->Count() : -1, 0, L"no item holds the stale data");
        c.Check.Check(build.Log.Lines.size() == 1 && build.Log.Lines[0] == LogLine("Справочник.Склады"_cp1251, false),
                      L"one failure line");
    }
}
const TScenarioEntry kBuildFailsEntry(TArea::Build, "build_fails", BuildFails);

std::string ReportOf(const std::vector<std::string_view>& objects) {
    std::string r("Отчет о сравнении конфигураций\r\n\tДемонстрационная конфигурация\r\n"_cp1251);
    for (std::string_view o : objects) r.append("\t\t  <--").append(o).append("\r\n");
    return r;
}

// The keys of a window capture and a build of two objects, as the simulator
// received them: every chord pressed in order and released in reverse, none
// repeated, and nothing left held afterwards.
void BuildKeyLog(TScenarioContext& c) {
    const fs::path out = fs::current_path() / L"build_keys_out";
    std::error_code ec;
    fs::create_directories(out, ec);
    WriteFile(out / L"Отчет.txt", ReportOf({"Справочник.Склады"_cp1251, "ОбщийМодуль.Сервис"_cp1251}));

    TSimSession sim(c.SimExe, L"build_keys", {L"--latency", L"200", L"--key-times"});
    if (!c.Check.Check(sim.Started(), L"simulator starts", sim.Error())) return;
    client::TDesignerWindows w = CaptureDesigner(c, sim);
    if (!c.Check.Check(w.TreeGrid != nullptr, L"the capture finds the tree")) return;
    TBuild build = CaptureReport(w.TreeGrid, out / L"Отчет.txt", "3000");
    c.Check.Check(build.Result.Completed && build.Result.Captured == 2, L"both objects are captured", build.Error);
    sim.Log().WaitForPrefix(L"render Общие", 0, 5000);

    const std::vector<std::wstring> copy = {L"key down CONTROL", L"key down INSERT", L"key up INSERT",
                                            L"key up CONTROL"};
    std::vector<std::wstring> expected = {// Alt+J, C, Esc after the hit
                                          L"key down MENU", L"key down J", L"key up J", L"key up MENU", L"key down C",
                                          L"key up C", L"key down ESCAPE", L"key up ESCAPE",
                                          // Ctrl+Shift+C, then Ctrl+F with the configuration window in front
                                          L"key down CONTROL", L"key down SHIFT", L"key down C", L"key up C",
                                          L"key up SHIFT", L"key up CONTROL", L"key down CONTROL", L"key down F",
                                          L"key up F", L"key up CONTROL"};
    expected.insert(expected.end(), copy.begin(), copy.end());  // the probe in the search window
    expected.insert(expected.end(), {L"key down ESCAPE", L"key up ESCAPE"});
    for (int object = 0; object < 2; ++object) expected.insert(expected.end(), copy.begin(), copy.end());
    std::vector<std::wstring> got = LinesWithPrefix(sim, L"key ");
    for (auto& l : got) l = l.substr(0, l.find(L" t="));
    std::wstring shown;
    for (const auto& l : got) shown += l.substr(4) + L"; ";
    c.Check.Check(got == expected, L"the keys of the capture and the build, each chord released in reverse", shown);
    c.Check.Check(LinesWithPrefix(sim, L"stuck ").empty() && LinesWithPrefix(sim, L"repeat ").empty(),
                  L"no key was held into another chord");
    CheckWaits(c, sim, L"build_keys");
    std::wstring held;
    for (int vk : {VK_CONTROL, VK_SHIFT, VK_MENU, VK_INSERT, int('C'), int('F'), int('J'), VK_F10, VK_ESCAPE, VK_RIGHT,
                   VK_RETURN})
        if (GetAsyncKeyState(vk) & 0x8000) held += std::to_wstring(vk) + L" ";
    c.Check.Equal(held, L"", L"no key is down afterwards");
}
const TScenarioEntry kBuildKeyLogEntry(TArea::Build, "build_key_log", BuildKeyLog);

// The copy arrives after a latency and in two steps with the clipboard held
// open between them. A delay beyond both captures the whole copy; a delay
// that ends while the clipboard is held waits, as every clipboard open does,
// up to platform::kClipboardOpenPatienceMs for the Designer to let it go and
// then captures the whole copy; a hold beyond that raises "Cannot open
// clipboard". In no case is a part of the copy stored.
void BuildTiming(TScenarioContext& c) {
    const fs::path out = fs::current_path() / L"build_timing_out";
    std::error_code ec;
    fs::create_directories(out, ec);
    const std::string treePath{"Справочники.Склады"_cp1251};
    WriteFile(out / L"Отчет.txt", ReportOf({"Справочник.Склады"_cp1251}));
    struct TCase {
        const wchar_t* tag;
        const wchar_t* holdMs;
        const char* delay;
        const wchar_t* error;  // empty: the whole copy is captured
        const wchar_t* what;
    };
    const TCase cases[] = {
        {L"build_hold_short", L"300", "2000", L"", L"a delay beyond latency and hold captures the whole copy"},
        {L"build_hold_within", L"1500", "1000", L"",
         L"a delay that ends while the clipboard is held waits for it and captures the whole copy"},
        {L"build_hold_long", L"3000", "1000", L"Cannot open clipboard",
         L"a clipboard held beyond the open patience fails the build"},
    };
    for (const TCase& tc : cases) {
        TSimSession sim(c.SimExe, tc.tag, {L"--latency", L"400", L"--hold-open", tc.holdMs});
        HWND tree = OpenTree(c, sim);
        if (!tree) return;
        TBuild build = CaptureReport(tree, out / L"Отчет.txt", tc.delay);
        const bool ok = *tc.error == L'\0';
        c.Check.Equal(build.Error, std::wstring(tc.error), std::wstring(L"the error raised (") + tc.tag + L")");
        c.Check.Check(build.Result.Completed == ok, tc.what);
        c.Check.Check(!sim.Log().WaitForPrefix(L"hold Справочники.Склады formats=3", 0, 5000).empty(),
                      std::wstring(L"the simulator held the clipboard open after three formats (") + tc.tag + L")");
        const xml::TXmlDNode* object = build.Package.Directories->FirstChild();
        if (!c.Check.Check(object != nullptr, L"the object's element is there")) continue;
        if (ok) CheckItems(c, object, treePath);
        else c.Check.Equal(object->ChildNodes()->Count(), 0, L"no item of a copy under way is stored");
        sim.Log().WaitForPrefix(L"render ", 0, 5000);
    }
}
const TScenarioEntry kBuildTimingEntry(TArea::Build, "build_timing", BuildTiming);

}  // namespace
