// The end-to-end driver: runs the named scenarios (all when none is named)
// and ends with "N passed, N failed"; the exit code is 1 when a check failed.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Check.h"
#include "Scenarios.h"
#include "SimSession.h"
#include "Switches.h"
#include "WizardSession.h"

namespace {

struct TRegistered {
    TArea Area;
    TScenario Scenario;
};

// Filled while the driver starts, before main; a function's static, so it
// exists before the first entry whatever the files' order of start-up.
std::vector<TRegistered>& Registry() {
    static std::vector<TRegistered> registry;
    return registry;
}

}  // namespace

TScenarioEntry::TScenarioEntry(TArea area, const char* name, void (*run)(TScenarioContext&)) {
    Registry().push_back({area, {name, run}});
}

std::vector<TScenario> AllScenarios() {
    std::vector<TRegistered> sorted = Registry();
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TRegistered& a, const TRegistered& b) { return a.Area < b.Area; });
    std::vector<TScenario> all;
    for (const TRegistered& r : sorted) all.push_back(r.Scenario);
    return all;
}

namespace {

int Usage() {
    PrintUtf8(
        L"usage: e2e_driver [--sim designer_sim.exe] [--wizard wizard.exe] [--pkgtool pkgtool.exe] [--set "
        L"NAME=VALUE]... [--any-code-page] [--capture wizard] [--list] [scenario...]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    TSharedSwitches switches;
    std::wstring pkgtoolExe;
    std::vector<std::string> wanted;
    bool list = false;
    bool anyCodePage = false;    // a machine that is not Russian
    bool wizardCapture = false;  // the capture scenarios hold the wizard's capture to the simulator
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (TakeSharedSwitch(argc, argv, i, switches)) continue;
        if (a == L"--pkgtool" && i + 1 < argc) pkgtoolExe = argv[++i];
        else if (a == L"--list") list = true;
        else if (a == L"--any-code-page") anyCodePage = true;
        else if (a == L"--capture" && i + 1 < argc && std::wstring(argv[i + 1]) == L"wizard") {
            wizardCapture = true;
            ++i;
        } else if (!a.empty() && a[0] == L'-') return Usage();
        else wanted.push_back(text::ToUtf8(a));
    }

    auto all = AllScenarios();
    if (list) {
        for (const auto& s : all) PrintUtf8(text::FromUtf8(s.Name) + L"\n");
        return 0;
    }
    std::vector<TScenario> run;
    for (const auto& name : wanted) {
        bool found = false;
        for (const auto& s : all)
            if (name == s.Name) {
                run.push_back(s);
                found = true;
            }
        if (!found) {
            PrintUtf8(L"unknown scenario " + text::FromUtf8(name) + L"\n");
            return 2;
        }
    }
    if (wanted.empty()) run = all;

    TChecker check;
    // The scenarios rely on Wine taking Windows-1251 and 866 from the locale,
    // except those that prove the wizard works on any machine.
    if (anyCodePage) {
        check.Note(L"ANSI code page " + std::to_wstring(GetACP()) + L", OEM code page " + std::to_wstring(GetOEMCP()));
    } else {
        check.Equal(GetACP(), 1251, L"ANSI code page");
        check.Equal(GetOEMCP(), 866, L"OEM code page");
    }
    TScenarioContext ctx{check, switches.Sim(), switches.Wizard(), pkgtoolExe, switches.Options};
    if (wizardCapture) ctx.CaptureWindows = WizardWindowCapture;
    for (const auto& s : run) {
        PrintUtf8(L"== " + text::FromUtf8(s.Name) + L"\n");
        s.Run(ctx);
    }
    return check.Finish();
}
