#include "Switches.h"

#include "SimSession.h"
#include "WizardSession.h"

std::wstring TSharedSwitches::Sim() const { return SimExe.empty() ? DefaultSimExe() : SimExe; }

std::wstring TSharedSwitches::Wizard() const { return WizardExe.empty() ? DefaultWizardExe() : WizardExe; }

bool TakeSharedSwitch(int argc, wchar_t** argv, int& i, TSharedSwitches& switches) {
    if (i + 1 >= argc) return false;
    const std::wstring a = argv[i];
    const std::wstring value = argv[i + 1];
    if (a == L"--sim") switches.SimExe = value;
    else if (a == L"--wizard") switches.WizardExe = value;
    else if (a == L"--set" && value.find(L'=') != std::wstring::npos)
        switches.Options[value.substr(0, value.find(L'='))] = value.substr(value.find(L'=') + 1);
    else return false;
    ++i;
    return true;
}
