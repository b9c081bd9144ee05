// Driver scenarios: named functions that act on real windows and record checks.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "Check.h"

class TSimSession;

struct TScenarioContext {
    TChecker& Check;
    std::wstring SimExe;
    std::wstring WizardExe;
    // Named values of --set NAME=VALUE, for scenarios that take inputs.
    std::map<std::wstring, std::wstring> Options;
};

struct TScenario {
    const char* Name;
    void (*Run)(TScenarioContext&);
};

// The scenarios that prove the Designer simulator behaves as the Designer does.
const std::vector<TScenario>& SimScenarios();
// Scenarios that run the build core against the simulator over the Win32 seams.
const std::vector<TScenario>& BuildScenarios();
// Scenarios that run the wizard itself against the simulator.
const std::vector<TScenario>& WizardScenarios();
// Opens the configuration window of a started simulator and
// returns its tree; zero, with a failed check, when the simulator did not
// start or the tree is missing.
HWND OpenTree(TScenarioContext& c, TSimSession& sim);
