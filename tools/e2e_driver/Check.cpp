#include "Check.h"

#include <cstdio>

#include "Win32Drive.h"

void PrintUtf8(const std::wstring& s) {
    std::string bytes = text::ToUtf8(s);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

bool TChecker::Check(bool ok, const std::wstring& what, const std::wstring& detail) {
    ++(ok ? passed_ : failed_);
    PrintUtf8((ok ? L"ok   " : L"FAIL ") + what + (ok || detail.empty() ? L"" : L": " + detail) + L"\n");
    return ok;
}

bool TChecker::Equal(const std::wstring& actual, const std::wstring& expected, const std::wstring& what) {
    return Check(actual == expected, what, L"got \"" + actual + L"\", want \"" + expected + L"\"");
}

bool TChecker::Equal(long long actual, long long expected, const std::wstring& what) {
    return Check(actual == expected, what, L"got " + std::to_wstring(actual) + L", want " + std::to_wstring(expected));
}

bool TChecker::EqualBytes(const std::string& actual, const std::string& expected, const std::wstring& what) {
    if (actual == expected) return Check(true, what);
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    wchar_t detail[160];
    swprintf(detail, 160, L"%zu bytes, want %zu; first difference at offset %zu", actual.size(), expected.size(), i);
    return Check(false, what, detail);
}

void TChecker::Note(const std::wstring& text) { PrintUtf8(L"# " + text + L"\n"); }

int TChecker::Finish() const {
    PrintUtf8(std::to_wstring(passed_) + L" passed, " + std::to_wstring(failed_) + L" failed\n");
    return failed_ == 0 ? 0 : 1;
}
