#pragma once
// Helpers of pkgtool's tests: a private directory, files, and a run of the
// command line in-process.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
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
