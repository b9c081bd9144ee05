// Counts and prints the checks of a driver run. Each check prints one line;
// the run ends with "N passed, N failed".
#pragma once

#include <string>

class TChecker {
public:
    // Records a check; prints "ok" or "FAIL" with what and, on failure, detail.
    bool Check(bool ok, const std::wstring& what, const std::wstring& detail = {});
    bool Equal(const std::wstring& actual, const std::wstring& expected, const std::wstring& what);
    bool Equal(long long actual, long long expected, const std::wstring& what);
    // Compares byte strings; a failure shows the first differing offset and both sizes.
    bool EqualBytes(const std::string& actual, const std::string& expected, const std::wstring& what);
    // Prints a note line that is not a check.
    void Note(const std::wstring& text);
    int Passed() const { return passed_; }
    int Failed() const { return failed_; }
    // Prints the closing line "N passed, N failed" and returns the run's
    // exit code: 0 when every check passed, else 1.
    int Finish() const;

private:
    int passed_ = 0;
    int failed_ = 0;
};

// Writes UTF-8 text to stdout, unbuffered, without newline translation.
void PrintUtf8(const std::wstring& text);
