#pragma once
// What the benchmarks share: timing, the baselines they measure against in
// the same run, the process's own figures, and a document shaped like the
// package document.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

#include "xml/XmlDom.h"

namespace bench {

// Wall-clock seconds of one run of `run`.
template <class F>
double Seconds(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The shortest of `repetitions` runs of `run`, in seconds: the run the rest
// of the machine disturbed least.
template <class F>
double BestSeconds(int repetitions, F&& run) {
    double best = 1e30;
    for (int i = 0; i < repetitions; ++i) best = std::min(best, Seconds(run));
    return best;
}

// One raw Deflate pass over `data` in memory at zlib's default level, on one
// core, output discarded: the baseline of the writers. Returns the
// compressed size.
std::size_t RawDeflate(const std::string& data);

// The shell command by which Info-ZIP packs `name`, a file in `dir`, into
// `archive` with traditional encryption: the other baseline.
std::string InfoZipCommand(const std::filesystem::path& dir, const std::filesystem::path& archive,
                           const std::string& name);
// Runs `command` in the shell. A failure is reported on stderr, not thrown,
// so that the other figures still print.
void RunInfoZip(const std::string& command);

#ifndef _WIN32
// The process's peak resident memory so far, in KiB (getrusage).
long PeakRssKiB();
// Processor time of the whole process (all threads), in seconds.
double CpuSeconds();
#endif

// A document shaped like the package document: the root and its four
// sections, `objects` AddObject elements spread over the sections in turn,
// each with one Item per clipboard format (six) whose text is
// `itemText(object, format)`.
xml::TRef<xml::TXmlDDocument> BuildPackageLikeDocument(int objects,
                                                       const std::function<std::string(int object, int format)>& itemText);

}  // namespace bench
