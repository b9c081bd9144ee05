// Steps on a running wizard that its scenarios and the wizard benchmark
// share: the scenario's inputs, starting the wizard beside a simulator,
// pointing it at the simulator's caption, filling the form and running a
// build through it, answering its boxes.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Scenarios.h"
#include "SimSession.h"
#include "WizardSession.h"

inline constexpr DWORD kTimeout = 10000;
// The form's caption, also the caption of its standard error box.
inline const std::wstring kTitle = L"Мастер создания пакета инсталляции 1С 8.2";

// The value of --set name=..., else fallback.
std::wstring Option(const TScenarioContext& c, const std::wstring& name, const std::wstring& fallback);
// The simulator's switches of a scenario, followed by those of --set
// simextra="..." (blank-separated), so that any scenario can run against a
// stricter or slower simulator.
std::vector<std::wstring> SimArgs(const TScenarioContext& c, std::vector<std::wstring> args = {});
// `s` in Windows-1251, as the wizard reads its text files.
std::string Cp1251(const std::wstring& s);

// Checks that both programs started; false when either did not.
bool StartBoth(TScenarioContext& c, TSimSession& sim, TWizardSession& wizard);
// Points the wizard at the simulator's caption and checks the expanded form;
// false when the form did not come back or names another Designer.
bool Capture(TScenarioContext& c, TSimSession& sim, TWizardSession& wizard, const std::wstring& caption);
// Puts the focus in control `id` by a click on it, with the form in front;
// false when the focus is elsewhere after three tries.
bool ClickInto(TWizardSession& wizard, int id);
// The window with the keyboard focus on the thread of `anyWindow`.
HWND FocusOf(HWND anyWindow);

// The files of a build through the form.
struct TBuildFiles {
    std::filesystem::path Report, Agreement, Description, Package;
};

// Fills the form's four paths (as DOS paths), the key and the delay.
void Fill(TWizardSession& wizard, const TBuildFiles& f, const std::wstring& key, const std::wstring& delay);

// How a build through the form ended.
struct TBuildEnd {
    bool Ended = false;  // the caption came back, or a box is up
    HWND Box = nullptr;  // a message box of the wizard, when one is up
    bool SawProgress = false;
};

// Presses "Сформировать" and waits until the build has ended: the caption
// shows no progress any more, or the wizard shows a box. `during` runs once
// while the progress is shown; the form is looked at every pollMs.
TBuildEnd RunBuild(TWizardSession& wizard, DWORD timeoutMs, const std::function<void()>& during = {}, DWORD pollMs = 5);

// The clipboard's Unicode text, as the wizard leaves the key there; empty
// when it holds none.
std::wstring ClipboardText();

// Waits for the wizard's message box (unless `box` is already one), checks
// its caption and text, and closes it with OK (`escape`: with the Esc key,
// checking that the key closes it).
void ExpectBox(TScenarioContext& c, TWizardSession& wizard, HWND box, const std::wstring& caption,
               const std::wstring& text, const std::wstring& what, bool escape = false);
