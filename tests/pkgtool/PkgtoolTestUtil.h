#pragma once
// Helpers of pkgtool's tests: a private directory, files, and a run of the
// command line in-process.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "pkgtool/Cli.h"
#include "platform/Platform.h"

namespace pkgtest {

namespace fs = std::filesystem;

struct TRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

inline TRun RunTool(std::vector<std::string> args) {
    args.insert(args.begin(), "pkgtool");
    std::ostringstream out, err;
    TRun r;
    r.Status = pkgtool::RunPkgtool(args, out, err);
    r.Out = out.str();
    r.Err = err.str();
    return r;
}

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Damaged copies of the package bytes `good`, each with what was done to it:
// empty, not a package, cut in half, cut by one byte, and a byte changed at
// a spread of places (records, the encrypted data of every entry, the
// directory).
inline std::vector<std::pair<std::string, std::string>> DamagedCopies(const std::string& good) {
    std::vector<std::pair<std::string, std::string>> damaged = {
        {"empty", ""},
        {"text", "this is not a package"},
        {"half", good.substr(0, good.size() / 2)},
        {"no end", good.substr(0, good.size() - 1)},
    };
    for (std::size_t at = 0; at < good.size(); at += good.size() / 40 + 1) {
        std::string s = good;
        s[at] = static_cast<char>(s[at] ^ 0x5A);
        damaged.emplace_back("byte " + std::to_string(at), s);
    }
    return damaged;
}

class TTempDirTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = platform::CreateUniqueDirectory(fs::temp_directory_path(), "pkgtool-test-"); }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    fs::path Dir;
};

}  // namespace pkgtest
