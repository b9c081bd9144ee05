// The switches that the end-to-end driver and the wizard benchmark share.
#pragma once

#include <map>
#include <string>

struct TSharedSwitches {
    std::wstring SimExe;
    std::wstring WizardExe;
    std::map<std::wstring, std::wstring> Options;  // --set NAME=VALUE

    // The programs given, or else those built beside this one.
    std::wstring Sim() const;
    std::wstring Wizard() const;
};

// Takes argv[i] when it is --sim EXE, --wizard EXE or --set NAME=VALUE,
// moving i to its value; false, with i unchanged, for any other argument,
// one without its value, and a --set without "=".
bool TakeSharedSwitch(int argc, wchar_t** argv, int& i, TSharedSwitches& switches);
