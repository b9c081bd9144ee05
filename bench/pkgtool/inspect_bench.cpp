// Times `pkgtool inspect` on a package whose PackageData.xml is large (1 GiB
// by default), against one zlib inflate pass over the same Deflate stream,
// measured in the same run. Also times the reader alone on that entry
// (decrypt, inflate, CRC) and reports the growth of the peak memory; then
// `pkgtool verify` of the package against a report of its objects and
// `pkgtool diff` of it and a second package of the same document, against
// that inspect, each with its own growth of the peak memory.
//
//   inspect_bench [megabytes=1024] [runs=2]
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "bench/common/BenchUtil.h"
#include "package/PackageAssembly.h"
#include "package/PackageDocument.h"
#include "text/Literal.h"
#include "pkgtool/Compare.h"
#include "pkgtool/Inspect.h"
#include "pkgtool/PackageXml.h"
#include "platform/Platform.h"
#include "zip/PkCipher.h"
#include "zip/ZipReader.h"
#include "zip/ZipRecords.h"
#include "zip/ZipWriter.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

// A package document of about `size` bytes, written as it streams: directory
// objects with their six formats, 1 KiB of text per item with an entity now
// and then.
std::uint64_t WriteDocument(const fs::path& path, std::uint64_t size) {
    using namespace text::literals;
    auto f = platform::TFile::Create(path);
    // Item text: words and hexadecimal identifiers from a generator, so that
    // the document deflates about as well as the Designer's data (3-5x).
    std::uint64_t x = 88172645463325252ull;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    static const char* words[] = {"Reference", "Attribute", "Form", "Module", "String", "Number", "Date", "&amp;",
                                  "&lt;", "{", "}", ",", "0", "1", "\"", "Catalog"};
    auto items = [&] {
        std::string all;
        for (const char* format : {"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data", "1C:MD8 Info",
                                   "1C:V8MngCmdObjectsDataFormat"}) {
            all += std::string("<Item FormatName=\"") + format + "\">";
            for (int i = 0; i < 48; ++i) {
                const std::uint64_t r = next();
                all += words[r & 15];
                char hex[20];
                std::snprintf(hex, sizeof hex, " %08x ", static_cast<unsigned>(r >> 40));
                if ((r >> 4) % 3 == 0) all += hex;
                else all += ' ';
            }
            all += "</Item>";
        }
        return all;
    };
    const std::string directories(package::kDirectoriesTag);
    std::string out = "<1C8InstallationPackage copyright=\"bench\"><CommonModules/><" + directories + ">";
    std::uint64_t written = 0;
    std::uint64_t i = 0;
    for (; written + out.size() < size; ++i) {
        out += "<AddObject ObjectPath=\"" + std::string("Справочники"_cp1251) + ".Obj" + std::to_string(i) + "\">" + items() +
               "</AddObject>";
        if (out.size() > (1 << 20)) {
            f.WriteAll(out.data(), out.size());
            written += out.size();
            out.clear();
        }
    }
    out += "</" + directories + "><Processings/><Subsystems/></1C8InstallationPackage>";
    f.WriteAll(out.data(), out.size());
    f.Close();
    return i;
}

// The comparison report whose walk captures the `objects` objects of WriteDocument.
void WriteReport(const fs::path& path, std::uint64_t objects) {
    using namespace text::literals;
    auto f = platform::TFile::Create(path);
    std::string out = "report\r\n\tconfiguration\r\n";
    for (std::uint64_t i = 0; i < objects; ++i) {
        out += "\t\t  <--" + std::string("Справочник"_cp1251) + ".Obj" + std::to_string(i) + "\r\n";
        if (out.size() > (1 << 20)) {
            f.WriteAll(out.data(), out.size());
            out.clear();
        }
    }
    f.WriteAll(out.data(), out.size());
    f.Close();
}

struct TQuietVerify : pkgtool::IVerifySink {
    void Difference(const pkgtool::TVerifyDifference&) override { ++Differences; }
    void Warning(const std::string&) override {}
    void End(std::uint64_t, std::uint64_t, std::uint64_t) override {}
    std::uint64_t Differences = 0;
};

struct TQuietDiff : pkgtool::IDiffSink {
    void Section(std::string_view) override {}
    void Change(const pkgtool::TObjectChange&) override { ++Changes; }
    void End(const pkgtool::TDiffSummary&) override {}
    std::uint64_t Changes = 0;
};

void Pack(const fs::path& archive, const fs::path& base, const std::string& name, std::string_view password) {
    zip::TZipWriter w;
    w.Create(archive);
    w.SetBaseDirectory(base);
    w.AddFile(name, true);
    w.SetPassword(std::string(password));
    w.WriteArchive();
}

// The raw Deflate stream of `name` in the archive, decrypted, into `out`.
void ExtractDeflateStream(const fs::path& archive, const std::string& name, std::string_view password, const fs::path& out) {
    zip::TFileSource source(archive);
    zip::TZipReader reader(source);
    const zip::TZipEntry* e = reader.Find(name);
    zip::TPkCipher cipher(password);
    auto f = platform::TFile::Create(out);
    std::string chunk(1 << 20, '\0');
    std::uint64_t at = e->DataOffset, left = e->CompressedSize;
    bool header = true;
    while (left > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
        source.ReadAt(at, chunk.data(), n);
        cipher.Decrypt(reinterpret_cast<unsigned char*>(chunk.data()), n);
        const std::size_t skip = header ? zip::kEncryptionHeaderSize : 0;
        f.WriteAll(chunk.data() + skip, n - skip);
        header = false;
        at += n;
        left -= n;
    }
    f.Close();
}

// One inflate pass over a raw Deflate stream in a file, output discarded.
std::uint64_t InflateFile(const fs::path& path) {
    auto f = platform::TFile::OpenRead(path);
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    const auto in = std::make_unique<unsigned char[]>(zip::TZipReader::kChunkSize);
    const auto out = std::make_unique<unsigned char[]>(zip::TZipReader::kChunkSize);
    std::uint64_t total = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        const std::size_t n = f.Read(in.get(), zip::TZipReader::kChunkSize);
        if (n == 0) break;
        z.next_in = in.get();
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = out.get();
            z.avail_out = static_cast<uInt>(zip::TZipReader::kChunkSize);
            rc = inflate(&z, Z_NO_FLUSH);
            total += zip::TZipReader::kChunkSize - z.avail_out;
        } while (rc == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
    }
    inflateEnd(&z);
    return total;
}

// One pass of the package cipher over `size` bytes of a file, in 1 MiB
// pieces, as the reader decrypts an entry.
void DecryptFile(const fs::path& path, std::uint64_t size) {
    auto f = platform::TFile::OpenRead(path);
    zip::TPkCipher cipher(package::kImagePassword);
    std::string chunk(1 << 20, '\0');
    for (std::uint64_t done = 0; done < size;) {
        const std::size_t n = f.Read(chunk.data(), chunk.size());
        if (n == 0) break;
        cipher.Decrypt(reinterpret_cast<unsigned char*>(chunk.data()), n);
        done += n;
    }
}

// Reads a file in 256 KiB pieces, handing each to `use`.
void ReadFile(const fs::path& path, const std::function<void(const char*, std::size_t)>& use) {
    auto f = platform::TFile::OpenRead(path);
    std::string chunk(zip::TZipReader::kChunkSize, '\0');
    while (const std::size_t n = f.Read(chunk.data(), chunk.size())) use(chunk.data(), n);
}

// Takes an inspection as the text printer does, counting instead of printing.
struct TCountingSink : pkgtool::IInspectionSink {
    void Entries(const std::vector<pkgtool::TEntryInfo>&, bool) override {}
    void ImageEntries(const std::vector<pkgtool::TEntryInfo>&) override {}
    void Xml(const char*, std::size_t) override {}
    void Object(const std::string&, const pkgtool::TPackageObject&) override { ++Objects; }
    void End(const pkgtool::TPackageContents&) override {}
    std::size_t Objects = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 2;
    const fs::path dir = platform::CreateUniqueDirectory(fs::temp_directory_path(), "inspect-bench-");
    const std::string xmlName(package::package_names::PackageData);
    std::printf("PackageData.xml of %llu MiB\n", static_cast<unsigned long long>(megabytes));
    const std::uint64_t documentObjects = WriteDocument(dir / xmlName, megabytes << 20);
    WriteReport(dir / "report.txt", documentObjects);
    Pack(dir / "image.0", dir, xmlName, package::kImagePassword);
    // The stages of an inspection one by one, each on one thread.
    const double crcPass = BestSeconds(runs, [&] {
        uLong crc = crc32(0, nullptr, 0);
        ReadFile(dir / xmlName, [&crc](const char* p, std::size_t n) {
            crc = crc32(crc, reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n));
        });
    });
    const double layoutPass = BestSeconds(runs, [&] {
        pkgtool::TPackageXmlReader check([](const std::string&, const pkgtool::TPackageObject&) {});
        ReadFile(dir / xmlName, [&check](const char* p, std::size_t n) { check.Feed(p, n); });
        check.Finish();
    });
    const double readPass = BestSeconds(runs, [&] { ReadFile(dir / xmlName, [](const char*, std::size_t) {}); });
    fs::remove(dir / xmlName);
    Pack(dir / "p.1c82pkg", dir, "image.0", package::kDefaultPackagePassword);
    Pack(dir / "q.1c82pkg", dir, "image.0", package::kDefaultPackagePassword);
    ExtractDeflateStream(dir / "image.0", xmlName, package::kImagePassword, dir / "raw.deflate");
    std::printf("image.0: %llu bytes; package: %llu bytes\n", static_cast<unsigned long long>(fs::file_size(dir / "image.0")),
                static_cast<unsigned long long>(fs::file_size(dir / "p.1c82pkg")));

    const double decryptPass =
        BestSeconds(runs, [&] { DecryptFile(dir / "image.0", fs::file_size(dir / "image.0")); });

    const long rssBefore = PeakRssKiB();
    std::uint64_t inflated = 0;
    double cpu = CpuSeconds();
    const double inflate = BestSeconds(runs, [&] { inflated = InflateFile(dir / "raw.deflate"); });
    const double inflateCpu = (CpuSeconds() - cpu) / runs;
    const double reader = BestSeconds(runs, [&] {
        zip::TFileSource source(dir / "image.0");
        zip::TZipReader r(source);
        r.ReadEntry(*r.Find(xmlName), package::kImagePassword, [](const char*, std::size_t) {});
    });
    std::size_t objects = 0;
    cpu = CpuSeconds();
    const double inspect = BestSeconds(runs, [&] {
        TCountingSink sink;
        pkgtool::InspectPackage(dir / "p.1c82pkg", "", sink);
        objects = sink.Objects;
    });
    const double inspectCpu = (CpuSeconds() - cpu) / runs;
    const long rssAfter = PeakRssKiB();
    std::printf("inflated %llu bytes, %zu objects\n", static_cast<unsigned long long>(inflated), objects);
    std::printf("one inflate pass (baseline): %.2f s\n", inflate);
    std::printf("stages on one thread: one cipher pass over image.0 %.2f s (%.2fx, %.0f MB/s), CRC-32 of the document %.2f s "
                "(%.2fx), layout check %.2f s (%.2fx), reading the document file %.2f s\n",
                decryptPass, decryptPass / inflate, static_cast<double>(fs::file_size(dir / "image.0")) / 1e6 / decryptPass, crcPass, crcPass / inflate, layoutPass, layoutPass / inflate,
                readPass);
    std::printf("reader (decrypt, inflate, CRC): %.2f s = %.2fx\n", reader, reader / inflate);
    std::printf("inspect (whole package): %.2f s = %.2fx; processor time %.2f s = %.2fx the inflate pass's\n", inspect,
                inspect / inflate, inspectCpu, inspectCpu / inflateCpu);
    std::printf("peak RSS: %.1f MiB before, %.1f MiB after (growth %.1f MiB)\n", rssBefore / 1024.0, rssAfter / 1024.0,
                (rssAfter - rssBefore) / 1024.0);

    bool matched = false;
    std::uint64_t differences = 0;
    const double verify = BestSeconds(runs, [&] {
        TQuietVerify sink;
        matched = pkgtool::VerifyPackage(dir / "report.txt", dir / "p.1c82pkg", "", sink);
        differences = sink.Differences;
    });
    const long rssVerify = PeakRssKiB();
    bool same = false;
    const double diff = BestSeconds(runs, [&] {
        TQuietDiff sink;
        same = pkgtool::DiffPackages(dir / "p.1c82pkg", "", dir / "q.1c82pkg", "", sink);
    });
    const long rssDiff = PeakRssKiB();
    std::printf("verify against a report of %llu objects: %.2f s = %.2fx inspect (%s, %llu differences); peak RSS growth %.1f MiB\n",
                static_cast<unsigned long long>(documentObjects), verify, verify / inspect, matched ? "matches" : "DOES NOT MATCH",
                static_cast<unsigned long long>(differences), (rssVerify - rssBefore) / 1024.0);
    std::printf("diff of two such packages, read at once: %.2f s = %.2fx inspect (%s); peak RSS growth %.1f MiB\n", diff,
                diff / inspect, same ? "same content" : "CONTENT DIFFERS", (rssDiff - rssBefore) / 1024.0);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
