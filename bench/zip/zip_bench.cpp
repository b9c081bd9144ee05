// Times TZipWriter on one 100 MB XML-like file and one 100 MB incompressible
// file, against two baselines measured in the same run on the same bytes:
// one raw zlib Deflate pass in memory at the default level, and Info-ZIP
// `zip -e -P`. Prints ratios (writer time / baseline time) and the process's
// peak memory after the writer runs.
//
//   zip_bench [megabytes=100] [runs=2]
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/common/BenchUtil.h"
#include "platform/Platform.h"
#include "zip/PkCipher.h"
#include "zip/ZipWriter.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

// Writes `size` bytes made by `fill` (called per 1 MiB chunk) to `path`.
void MakeFile(const fs::path& path, std::size_t size, const std::function<void(std::string&, std::size_t)>& fill) {
    auto f = platform::TFile::Create(path);
    std::string chunk;
    for (std::size_t done = 0, i = 0; done < size; ++i) {
        fill(chunk, i);
        const std::size_t n = std::min(chunk.size(), size - done);
        f.WriteAll(chunk.data(), n);
        done += n;
    }
    f.Close();
}

void XmlChunk(std::string& s, std::size_t index) {
    s.clear();
    for (std::size_t i = index * 10000; s.size() < (1u << 20); ++i)
        s += "  <Item Format=\"" + std::to_string(i % 37) + "\" Size=\"" + std::to_string(i * 7919 % 100003) +
             "\">AQIDBAUG" + std::to_string(i * 2654435761u % 1000000007u) + "</Item>\n";
}

void NoiseChunk(std::string& s, std::size_t) {
    s.resize(1u << 20);
    platform::FillRandom(s.data(), s.size());
}

std::string ReadFile(const fs::path& path) {
    auto f = platform::TFile::OpenRead(path);
    std::string s(static_cast<std::size_t>(f.Size()), '\0');
    std::size_t done = 0;
    while (done < s.size()) {
        const std::size_t n = f.Read(s.data() + done, s.size() - done);
        if (n == 0) break;
        done += n;
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 2;
    const std::size_t size = megabytes * 1000 * 1000;
    const fs::path dir = platform::CreateUniqueDirectory(platform::TempDirectory(), "zip-bench-");
    struct TCase {
        const char* Name;
        void (*Fill)(std::string&, std::size_t);
        double Writer = 0, Deflate = 0, InfoZip = 0;
        std::uintmax_t Archive = 0, InfoZipArchive = 0;
    };
    TCase cases[] = {{"xml.xml", XmlChunk}, {"noise.bin", NoiseChunk}};
    for (TCase& c : cases) MakeFile(dir / c.Name, size, c.Fill);

    const long rssBefore = PeakRssKiB();
    for (TCase& c : cases) {
        const fs::path archive = dir / (std::string(c.Name) + ".zip");
        c.Writer = BestSeconds(runs, [&] {
            zip::TZipWriter writer;
            writer.Create(archive);
            writer.SetBaseDirectory(dir);
            writer.AddFile(c.Name, false);
            writer.SetPassword("5D2A9E41-7C3B-4F86-A1D0-93E6B2C87F15");
            writer.WriteArchive();
        });
        c.Archive = fs::file_size(archive);
    }
    const long rssWriter = PeakRssKiB();

    for (TCase& c : cases) {
        const std::string data = ReadFile(dir / c.Name);
        c.Deflate = BestSeconds(runs, [&] { RawDeflate(data); });
        const fs::path infoZip = dir / (std::string(c.Name) + ".infozip.zip");
        const std::string command = InfoZipCommand(dir, infoZip, c.Name);
        c.InfoZip = BestSeconds(runs, [&] {
            fs::remove(infoZip);
            RunInfoZip(command);
        });
        c.InfoZipArchive = fs::exists(infoZip) ? fs::file_size(infoZip) : 0;
    }

    std::printf("%zu MB per file, best of %d runs\n", megabytes, runs);
    std::printf("%-10s %10s %10s %10s %12s %12s %14s %14s\n", "file", "writer s", "deflate s", "zip -e s",
                "vs deflate", "vs zip -e", "archive bytes", "zip -e bytes");
    for (const TCase& c : cases)
        std::printf("%-10s %10.3f %10.3f %10.3f %11.2fx %11.2fx %14ju %14ju\n", c.Name, c.Writer, c.Deflate, c.InfoZip,
                    c.Writer / c.Deflate, c.Writer / c.InfoZip, c.Archive, c.InfoZipArchive);
    // The cipher alone over the XML file's bytes in memory, in 1 MiB pieces as
    // the writer and reader use it, against zlib's CRC-32 over the same bytes.
    {
        std::string data = ReadFile(dir / cases[0].Name);
        auto pieces = [&data](const std::function<void(unsigned char*, std::size_t)>& use) {
            for (std::size_t at = 0; at < data.size(); at += 1u << 20)
                use(reinterpret_cast<unsigned char*>(data.data()) + at, std::min<std::size_t>(1u << 20, data.size() - at));
        };
        const double encrypt = BestSeconds(runs, [&] {
            zip::TPkCipher cipher("5D2A9E41-7C3B-4F86-A1D0-93E6B2C87F15");
            pieces([&cipher](unsigned char* p, std::size_t n) { cipher.Encrypt(p, n); });
        });
        const double decrypt = BestSeconds(runs, [&] {
            zip::TPkCipher cipher("5D2A9E41-7C3B-4F86-A1D0-93E6B2C87F15");
            pieces([&cipher](unsigned char* p, std::size_t n) { cipher.Decrypt(p, n); });
        });
        uLong crc = 0;
        const double crcTime = BestSeconds(runs, [&] {
            pieces([&crc](unsigned char* p, std::size_t n) { crc = crc32(crc, p, static_cast<uInt>(n)); });
        });
        const double mb = static_cast<double>(data.size()) / 1e6;
        std::printf("cipher: encrypt %.0f MB/s (%.1fx CRC-32's time), decrypt %.0f MB/s (%.1fx), CRC-32 %.0f MB/s\n",
                    mb / encrypt, encrypt / crcTime, mb / decrypt, decrypt / crcTime, mb / crcTime);
    }
    std::printf("peak RSS: %ld KiB before the writer runs, %ld KiB after them (grown by %ld KiB)\n", rssBefore,
                rssWriter, rssWriter - rssBefore);

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
