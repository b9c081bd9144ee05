// With --stats: how often and for how long the simulator handled each kind
// of event, on the performance counter, so that a benchmark can tell the
// simulator's own work from the cost of the messages that reach it.
#pragma once

#include <windows.h>

#include <cwchar>
#include <map>
#include <string>
#include <vector>

class TSimStats {
public:
    TSimStats() {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        frequency_ = f.QuadPart;
    }
    bool Enabled = false;
    LONGLONG Now() const {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }
    void Add(const wchar_t* what, LONGLONG ticks) {
        TEntry& e = entries_[what];
        ++e.Count;
        e.Ticks += ticks;
    }
    // Adds a count that is not a duration (e.g. milliseconds of input delay).
    void AddValue(const wchar_t* what, long long value) {
        TEntry& e = entries_[what];
        ++e.Count;
        e.Ticks += value * frequency_ / 1000;
    }
    std::vector<std::wstring> Lines() const {
        std::vector<std::wstring> out;
        for (const auto& [name, e] : entries_) {
            wchar_t line[256];
            const double ms = 1000.0 * static_cast<double>(e.Ticks) / static_cast<double>(frequency_);
            swprintf(line, 256, L"stats %ls n=%lld total=%.1fms each=%.3fms", name.c_str(), e.Count, ms,
                     ms / static_cast<double>(e.Count));
            out.push_back(line);
        }
        return out;
    }

private:
    struct TEntry {
        long long Count = 0;
        LONGLONG Ticks = 0;
    };
    std::map<std::wstring, TEntry> entries_;
    LONGLONG frequency_ = 1;
};

// Times one scope into the statistics when they are enabled.
class TStatsScope {
public:
    TStatsScope(TSimStats& stats, const wchar_t* what)
        : stats_(stats), what_(what), start_(stats.Enabled ? stats.Now() : 0) {}
    ~TStatsScope() {
        if (stats_.Enabled) stats_.Add(what_, stats_.Now() - start_);
    }
    TStatsScope(const TStatsScope&) = delete;
    TStatsScope& operator=(const TStatsScope&) = delete;

private:
    TSimStats& stats_;
    const wchar_t* what_;
    LONGLONG start_;
};
