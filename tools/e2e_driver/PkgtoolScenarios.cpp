// pkgtool build against the simulator: the wizard's build from the command
// line, its output line by line, its package verified against the report, a
// missing Designer, a dropped format, an interrupt, a Designer that stops
// answering (its tree, or its clipboard rendered on request), and a clipboard
// another program holds when the key would go there.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "Scenarios.h"
#include "SimSession.h"
#include "WizardFixtures.h"
#include "WizardSteps.h"

namespace fs = std::filesystem;

namespace {

// A finished run of pkgtool: its exit code and its output, one entry per line.
struct TToolRun {
    std::optional<DWORD> Code;
    std::vector<std::wstring> Out, Err;
};

std::vector<std::wstring> Utf8Lines(const std::string& bytes) {
    std::vector<std::wstring> lines;
    const std::wstring all = text::FromUtf8(bytes);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find(L'\n', pos);
        if (end == std::wstring::npos) end = all.size();
        std::wstring line = all.substr(pos, end - pos);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

std::vector<std::wstring> ToolBuildArgs(const TBuildFiles& f, const fs::path& package, const std::wstring& key,
                                        const std::wstring& delay) {
    return {L"build",
            L"--report",
            proc::DosPath(f.Report.wstring()),
            L"--package",
            proc::DosPath(package.wstring()),
            L"--license",
            proc::DosPath(f.Agreement.wstring()),
            L"--description",
            proc::DosPath(f.Description.wstring()),
            L"--key",
            key,
            L"--delay",
            delay,
            L"--window",
            L"Демонстрационная"};
}

// Runs pkgtool with `args`; `during` runs while it is running and gets the
// path of its standard output.
TToolRun RunTool(TScenarioContext& c, const fs::path& dir, const std::vector<std::wstring>& args,
                 const std::function<void(proc::TProcess&, const fs::path&)>& during = {}) {
    TToolRun run;
    const fs::path out = dir / L"stdout.txt", err = dir / L"stderr.txt";
    proc::TProcess tool;
    if (!c.Check.Check(tool.StartConsole(c.PkgtoolExe, args, out.wstring(), err.wstring()), L"pkgtool starts",
                       tool.error()))
        return run;
    if (during) during(tool, out);
    run.Code = tool.WaitExit(120000);
    if (!run.Code) tool.Terminate();
    run.Out = Utf8Lines(file::Read(out).value_or(""));
    run.Err = Utf8Lines(file::Read(err).value_or(""));
    for (const std::wstring& line : run.Err) c.Check.Note(L"pkgtool stderr: " + line);
    return run;
}

// What the parts of pkgtool_build share: the folder, the fixtures' files,
// the temporary files there before any build, the key.
struct TToolBuild {
    fs::path Out;
    TBuildFiles Files;
    std::vector<std::wstring> Before;
    std::wstring Key;
};

// A build with a key, one with --new-key, and one for a caption that no
// Designer has. False when the simulator did not start.
bool BuildsAndRefusals(TScenarioContext& c, const TToolBuild& t) {
    const fs::path& out = t.Out;
    const TBuildFiles& files = t.Files;
    const std::vector<std::wstring>& before = t.Before;
    const std::wstring& key = t.Key;
    TSimSession sim(c.SimExe, L"pkgtool_build", SimArgs(c, {L"--latency", L"100"}));
    if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
    const TToolRun run = RunTool(c, out, ToolBuildArgs(files, files.Package, key, L"3000"));
    c.Check.Check(run.Code == std::optional<DWORD>(0), L"a build exits 0",
                  run.Code ? std::to_wstring(*run.Code) : L"no exit");
    std::vector<std::wstring> expected{L"Используется: Конфигуратор - Демонстрационная конфигурация"};
    for (const TExpectedObject& o : kBuildObjects) expected.push_back(LogLine(o.Path, true));
    expected.push_back(key);
    c.Check.Check(run.Out == expected, L"the capture, one success line per object and the key, in order",
                  run.Out.empty() ? L"(no output)" : run.Out.back());
    c.Check.Equal(ClipboardText(), key, L"the key is on the clipboard");
    c.Check.Check(file::Read(files.Package).value_or("") != "an earlier package",
                  L"the package replaced the earlier file");
    c.Check.Check(Leftovers(out) == before, L"no temporary file is left");
    WriteExpectedObjects(out / L"expected_objects.txt");

    // The package the wizard's build wrote holds exactly what its report captures.
    const TToolRun verify = RunTool(c, out, {L"verify", L"--report", proc::DosPath(files.Report.wstring()), L"--key", key,
                                             proc::DosPath(files.Package.wstring())});
    c.Check.Check(verify.Code == std::optional<DWORD>(0), L"verify of the package against its report exits 0",
                  verify.Code ? std::to_wstring(*verify.Code) : L"no exit");
    c.Check.Check(verify.Out == std::vector<std::wstring>{L"report: 5 objects, package: 5 objects; the package matches "
                                                          L"the report"},
                  L"verify finds no difference", verify.Out.empty() ? L"(no output)" : verify.Out.front());

    // The first Designer found, and a new key: printed last and put on the clipboard.
    std::vector<std::wstring> args = ToolBuildArgs(files, out / L"Пакет с новым ключом.1c82pkg", L"", L"3000");
    args.resize(args.size() - 2);  // no --window
    args.erase(std::find(args.begin(), args.end(), L"--key"), std::find(args.begin(), args.end(), L"--delay"));
    args.push_back(L"--new-key");
    const TToolRun fresh = RunTool(c, out, args);
    c.Check.Check(fresh.Code == std::optional<DWORD>(0), L"a build with --new-key exits 0");
    const std::wstring newKey = fresh.Out.empty() ? L"" : fresh.Out.back();
    const bool guidShape =
        newKey.size() == 36 &&
        std::all_of(
            newKey.begin(), newKey.end(),
            [](wchar_t ch) { return ch == L'-' || (ch >= L'0' && ch <= L'9') || (ch >= L'A' && ch <= L'F'); }) &&
        newKey[8] == L'-' && newKey[13] == L'-' && newKey[18] == L'-' && newKey[23] == L'-';
    c.Check.Check(guidShape && newKey != key, L"a new key in the GUID's registry form is printed last", newKey);
    c.Check.Equal(ClipboardText(), newKey, L"the new key is on the clipboard");
    file::Write(out / L"new_key.txt", text::ToUtf8(newKey));

    // A caption that no Designer has.
    args = ToolBuildArgs(files, out / L"Нет.1c82pkg", key, L"3000");
    args.back() = L"Бухгалтерия";
    const TToolRun none = RunTool(c, out, args);
    c.Check.Check(none.Code == std::optional<DWORD>(1), L"no such Designer: exit 1");
    c.Check.Equal(none.Err.empty() ? L"" : none.Err.front(), L"No running Designer has \"Бухгалтерия\" in its caption",
                  L"no such Designer: the message");
    c.Check.Check(!fs::exists(out / L"Нет.1c82pkg"), L"no such Designer: nothing written");
    return true;
}

// A copy that lacks a format, at the third object: the wizard's message, and
// `kept` left as it was. False when the simulator did not start.
bool DroppedFormat(TScenarioContext& c, const TToolBuild& t, const TBuildFiles& keptFiles) {
    TSimSession sim(c.SimExe, L"pkgtool_drop",
                    SimArgs(c, {L"--drop-format", L"1C:MD8 Info", L"--drop-node", L"Общие.Общие модули.СервисКлиент"}));
    if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
    const TToolRun run = RunTool(c, t.Out, ToolBuildArgs(t.Files, keptFiles.Package, L"KEY", L"3000"));
    c.Check.Check(run.Code == std::optional<DWORD>(1), L"a dropped format exits 1",
                  run.Code ? std::to_wstring(*run.Code) : L"no exit");
    c.Check.Check(run.Err == Utf8Lines(text::ToUtf8(kCaptureFailed)), L"stderr holds the wizard's message");
    c.Check.Equal(static_cast<long long>(run.Out.size()), 4, L"the capture line and three object lines");
    c.Check.Equal(run.Out.empty() ? L"" : run.Out.back(), LogLine(L"ОбщийМодуль.СервисКлиент", false),
                  L"the last line is the failure");
    CheckNothingWritten(c, keptFiles, t.Before, L"a dropped format");
    return true;
}

// Interrupted (Ctrl+Break or Ctrl+C) once the first object is in: the build
// stops cleanly. False when the simulator did not start.
bool Interrupted(TScenarioContext& c, const TToolBuild& t, const TBuildFiles& keptFiles) {
    TSimSession sim(c.SimExe, L"pkgtool_stop", SimArgs(c, {L"--latency", L"300"}));
    if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
    bool sent = false;
    const TToolRun run =
        RunTool(c, t.Out, ToolBuildArgs(t.Files, keptFiles.Package, L"KEY", L"3000"),
                [&](proc::TProcess& tool, const fs::path& stdoutFile) {
                    wait::Until([&] { return Utf8Lines(file::Read(stdoutFile).value_or("")).size() >= 2; }, 30000, 5);
                    sent = tool.Interrupt();
                });
    c.Check.Check(sent, L"the interrupt is sent", std::to_wstring(GetLastError()));
    c.Check.Check(run.Code == std::optional<DWORD>(1), L"a stopped build exits 1",
                  run.Code ? std::to_wstring(*run.Code) : L"no exit");
    c.Check.Check(!run.Out.empty() && run.Out.back() == L"Формирование пакета остановлено пользователем",
                  L"the output ends with the stop", run.Out.empty() ? L"" : run.Out.back());
    // Each object takes 300 ms and the interrupt came with the first one
    // done: the build stops at the next object, long before the last.
    c.Check.Check(run.Out.size() >= 3 && run.Out.size() <= 5, L"the build stops at the next object",
                  std::to_wstring(run.Out.size()) + L" lines");
    CheckNothingWritten(c, keptFiles, t.Before, L"an interrupt");
    return true;
}

// The Designer's message of a build it does not answer, as the console shows it.
const std::wstring kNotResponding = L"Конфигуратор не отвечает. Пакет не сформирован, прежний файл пакета не изменен.\n"
                                    L"Дождитесь, когда Конфигуратор освободится, и повторите попытку";

std::int64_t MsSince(ULONGLONG start) { return static_cast<std::int64_t>(GetTickCount64() - start); }

// A Designer whose tree stops answering: the build ends after the answer
// bound with its message; Ctrl+C ends it at once; a copy rendered on
// request is read, and its owner that stops answering is not blamed on the
// delay. False when a simulator did not start.
bool DesignerStopsAnswering(TScenarioContext& c, const TToolBuild& t, const TBuildFiles& keptFiles) {
    std::vector<std::wstring> args = ToolBuildArgs(t.Files, keptFiles.Package, L"KEY", L"3000");
    args.insert(args.end(), {L"--answer-timeout", L"1500"});
    {
        // Eleven keys bring the tree to the top; it hangs at the first letter.
        TSimSession sim(c.SimExe, L"pkgtool_hang", SimArgs(c, {L"--hang-after", L"11"}));
        if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
        const ULONGLONG start = GetTickCount64();
        const TToolRun run = RunTool(c, t.Out, args);
        c.Check.Check(run.Code == std::optional<DWORD>(1), L"a tree that stops answering: exit 1",
                      run.Code ? std::to_wstring(*run.Code) : L"no exit");
        c.Check.Check(MsSince(start) < 20000, L"the build ends after the bound, not after the hang",
                      std::to_wstring(MsSince(start)) + L" ms");
        c.Check.Check(run.Err == Utf8Lines(text::ToUtf8(kNotResponding)), L"stderr says the Designer does not respond");
        c.Check.Equal(static_cast<long long>(run.Out.size()), 1, L"no object line: only the capture line");
        CheckNothingWritten(c, keptFiles, t.Before, L"a tree that stops answering");
    }
    {
        TSimSession sim(c.SimExe, L"pkgtool_hang_stop", SimArgs(c, {L"--hang-after", L"11"}));
        if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
        ULONGLONG interrupted = 0, exited = 0;
        const TToolRun run = RunTool(c, t.Out, ToolBuildArgs(t.Files, keptFiles.Package, L"KEY", L"3000"),
                                     [&](proc::TProcess& tool, const fs::path&) {
                                         sim.Log().WaitForPrefix(L"hang", 0, 30000);
                                         Sleep(500);  // the build is waiting for the answer
                                         interrupted = GetTickCount64();
                                         tool.Interrupt();
                                         tool.WaitExit(10000);
                                         exited = GetTickCount64();
                                     });
        const std::int64_t stopMs = static_cast<std::int64_t>(exited - interrupted);
        c.Check.Check(interrupted != 0 && stopMs < 2000, L"Ctrl+C while the tree is hung: out within 2 s",
                      std::to_wstring(stopMs) + L" ms");
        c.Check.Check(run.Code == std::optional<DWORD>(1), L"a stopped build exits 1");
        c.Check.Check(!run.Out.empty() && run.Out.back() == L"Формирование пакета остановлено пользователем",
                      L"the output ends with the stop", run.Out.empty() ? L"" : run.Out.back());
        CheckNothingWritten(c, keptFiles, t.Before, L"Ctrl+C while the tree is hung");
    }
    {
        // Rendered on request: read as any copy.
        TSimSession sim(c.SimExe, L"pkgtool_on_request", SimArgs(c, {L"--render-on-request"}));
        if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
        const fs::path package = t.Out / L"Пакет по запросу.1c82pkg";
        const TToolRun run = RunTool(c, t.Out, ToolBuildArgs(t.Files, package, L"KEY", L"3000"));
        c.Check.Check(run.Code == std::optional<DWORD>(0), L"a copy rendered on request is built",
                      run.Code ? std::to_wstring(*run.Code) : L"no exit");
        c.Check.Check(!sim.Log().WaitForPrefix(L"render on request 1C:MD8 Info", 0, 1000).empty(),
                      L"the formats were rendered when asked for");
    }
    {
        // The first object's tree messages (11 to the top, 18 for
        // Справочники.Склады) are answered; the next message the Designer
        // gets is the question whether its clipboard's owner answers.
        TSimSession sim(c.SimExe, L"pkgtool_on_request_hang",
                        SimArgs(c, {L"--render-on-request", L"--hang-after", L"29"}));
        if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return false;
        const ULONGLONG start = GetTickCount64();
        const TToolRun run = RunTool(c, t.Out, args);
        c.Check.Check(run.Code == std::optional<DWORD>(1), L"an owner that stops answering: exit 1");
        c.Check.Check(MsSince(start) < 20000, L"the owner's silence ends the build after the bound",
                      std::to_wstring(MsSince(start)) + L" ms");
        c.Check.Check(run.Err == Utf8Lines(text::ToUtf8(kNotResponding)),
                      L"an owner that stops answering is reported as not responding, not as a short delay");
        c.Check.Check(sim.Log().WaitForPrefix(L"render on request", 0, 0).empty(), L"nothing was asked of it");
        CheckNothingWritten(c, keptFiles, t.Before, L"an owner that stops answering");
    }
    return true;
}

// Another program holds the clipboard when the key would go there:
// the package is in place and its key printed, then exit 1. A large
// agreement keeps the package write long enough for this program to
// take the clipboard once the last object is in.
void ClipboardHeld(TScenarioContext& c, const TToolBuild& t) {
    const fs::path& out = t.Out;
    const TBuildFiles& files = t.Files;
    const std::wstring& key = t.Key;
    TBuildFiles large = files;
    large.Agreement = out / L"Большое соглашение.txt";
    std::string text(32u << 20, ' ');
    std::uint32_t seed = 12345;
    for (char& ch : text) {
        seed = seed * 1103515245u + 12345u;
        ch = static_cast<char>('a' + (seed >> 16) % 26);
    }
    file::Write(large.Agreement, text);
    const fs::path package = out / L"Пакет при занятом буфере.1c82pkg";
    TSimSession sim(c.SimExe, L"pkgtool_clipboard", SimArgs(c));
    if (!c.Check.Check(sim.Started(), L"the simulator starts", sim.Error())) return;
    bool held = false;
    const TToolRun run =
        RunTool(c, out, ToolBuildArgs(large, package, key, L"3000"), [&](proc::TProcess&, const fs::path& stdoutFile) {
            wait::Until([&] { return Utf8Lines(file::Read(stdoutFile).value_or("")).size() >= 6; }, 60000, 2);
            held = clip::Open();
            wait::Until([&] { return Utf8Lines(file::Read(stdoutFile).value_or("")).size() >= 7; }, 30000, 5);
            Sleep(2500);  // beyond the patience of every clipboard open
            if (held) CloseClipboard();
        });
    c.Check.Check(held, L"the clipboard is taken after the last object");
    c.Check.Check(run.Code == std::optional<DWORD>(1), L"a clipboard that cannot be opened exits 1",
                  run.Code ? std::to_wstring(*run.Code) : L"no exit");
    c.Check.Equal(run.Out.empty() ? L"" : run.Out.back(), key, L"the key is printed all the same");
    c.Check.Equal(run.Err.empty() ? L"" : run.Err.front(), L"Cannot open clipboard", L"stderr says why");
    c.Check.Check(file::Read(package).value_or("").size() > (32u << 20) / 2, L"the package is in place");
}

void PkgtoolBuild(TScenarioContext& c) {
    const fs::path out = fs::current_path() / L"pkgtool_build_out";
    const TBuildFiles files = PrepareFiles(out);
    const TToolBuild t{out, files, Leftovers(out), L"3F2504E0-4F89-11D3-9A0C-0305E82C3301"};
    if (!BuildsAndRefusals(c, t)) return;
    const fs::path kept = out / L"Прежний пакет.1c82pkg";
    file::Write(kept, "an earlier package");
    const TBuildFiles keptFiles{files.Report, files.Agreement, files.Description, kept};
    if (!DroppedFormat(c, t, keptFiles) || !Interrupted(c, t, keptFiles) || !DesignerStopsAnswering(c, t, keptFiles))
        return;
    ClipboardHeld(c, t);
}
const TScenarioEntry kPkgtoolBuildEntry(TArea::Pkgtool, "pkgtool_build", PkgtoolBuild);

}  // namespace
