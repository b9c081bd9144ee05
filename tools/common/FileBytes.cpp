#include "FileBytes.h"

#include <exception>

#include "platform/Platform.h"

namespace file {

std::optional<std::string> Read(const std::filesystem::path& path) {
    try {
        platform::TFile in = platform::TFile::OpenRead(path);
        std::string bytes;
        char buffer[64 * 1024];
        // Read to the end rather than to Size(): a log grows while it is read.
        while (const std::size_t n = in.Read(buffer, sizeof buffer)) bytes.append(buffer, n);
        return bytes;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void Write(const std::filesystem::path& path, std::string_view bytes) {
    platform::TFile out = platform::TFile::Create(path);
    out.WriteAll(bytes.data(), bytes.size());
    out.Close();
}

}  // namespace file
