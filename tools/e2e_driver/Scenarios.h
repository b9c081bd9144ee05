// Driver scenarios: named functions that act on real windows and record checks.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "Check.h"
#include "ClientCapture.h"

class TSimSession;

struct TScenarioContext {
    TChecker& Check;
    std::wstring SimExe;
    std::wstring WizardExe;
    std::wstring PkgtoolExe;
    // Named values of --set NAME=VALUE, for scenarios that take inputs.
    std::map<std::wstring, std::wstring> Options;
    // The window capture the capture scenarios hold to the simulator: the
    // driver's reference client unless another is plugged in.
    void (*CaptureWindows)(client::TDesignerWindows&) = client::CaptureWindows;
};

struct TScenario {
    const char* Name;
    void (*Run)(TScenarioContext&);
};

// Where a scenario stands in --list and in a run of all: by area, and
// within an area in the order its file defines them.
enum class TArea {
    Simulator,      // the Designer simulator behaves as the Designer does
    Capture,        // a window capture against a simulator that offers wrong turns
    Build,          // the build core against the simulator over the Win32 seams
    WizardBuild,    // whole builds through the wizard's form, failed and stopped ones too
    Form,           // the wizard's form: layout, fields, dialogs, the letters typed into the tree
    WizardCapture,  // the wizard's capture
    Pkgtool,        // pkgtool's build
};

// Registers a scenario when the driver starts: one object of namespace
// scope after each scenario function. The scenario files are linked into
// the driver itself, not through a library, whose unreferenced objects the
// linker would leave out.
struct TScenarioEntry {
    TScenarioEntry(TArea area, const char* name, void (*run)(TScenarioContext&));
};
// Every registered scenario, in the order described at TArea.
std::vector<TScenario> AllScenarios();
// The wizard's own window capture (designer::CaptureDesigner over the Win32
// ports) in the shape of the driver's reference client, to be plugged into
// TScenarioContext::CaptureWindows (--capture wizard).
void WizardWindowCapture(client::TDesignerWindows& windows);
// Runs context.CaptureWindows on the simulator's frame (brought to the front
// first, as when the user has just pointed at it) and returns what it found.
client::TDesignerWindows CaptureDesigner(TScenarioContext& c, TSimSession& sim);
// The pauses a capture makes after each step, checked on the stamps of a
// simulator started with --key-times (taken when a key enters the system):
// the gap from a step's last key-up to the next key-down is at least the
// step's wait (client::kAfter...). A slow machine only makes gaps longer; a
// client that shortens or moves a wait makes them shorter.
void CheckWaits(TScenarioContext& c, TSimSession& sim, const std::wstring& tag);
// The log lines of a simulator session that begin with prefix.
std::vector<std::wstring> LinesWithPrefix(TSimSession& sim, const std::wstring& prefix);
// Opens the configuration window of a started simulator and
// returns its tree; zero, with a failed check, when the simulator did not
// start or the tree is missing.
HWND OpenTree(TScenarioContext& c, TSimSession& sim);
