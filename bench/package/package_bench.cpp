// Times the whole package write (AssemblePackage: the document's text,
// image.0 and the package file) on a large and a small package document, and
// reports it against baselines measured in the same run on the same XML
// bytes: one raw zlib Deflate pass in memory at the default level, on one
// core, and Info-ZIP `zip -e` packing the XML file alone. Each repetition
// times the package write and both baselines one right after the other; the
// ratio printed is the median of the repetitions' ratios, so that a shared
// machine's changing load hits both sides alike. Also prints the processor
// time ratio, the two archives alone on one thread and on all cores, and how
// far the process's peak memory grew while a package was written.
//
//   package_bench [objects=16000] [repetitions=3] [small objects=5]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/BenchUtil.h"
#include "package/PackageAssembly.h"
#include "platform/Clipboard.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Literal.h"
#include "xml/XmlDom.h"
#include "zip/ZipWriter.h"

using namespace text::literals;
namespace fs = std::filesystem;

using namespace bench;

namespace {

// A clipboard that takes the key and nothing else.
class TNullClipboard : public platform::IClipboard {
public:
    std::uint32_t SequenceNumber() override { return 1; }
    std::uint32_t RegisterFormat(std::string_view) override { return 1; }
    std::uintptr_t Owner() override { return 0; }
    bool OwnerAnswers(std::uint32_t) override { return true; }
    bool IsFormatAvailable(std::uint32_t) override { return false; }
    bool Open() override { return true; }
    void Close() override {}
    bool ReadFormat(std::uint32_t, const std::function<void(const char*, std::size_t)>&) override { return false; }
    void SetText(const std::string&) override {}
};

class TSinkStream final : public xml::TStream {
public:
    explicit TSinkStream(zip::TDataSink& sink) : sink_(sink) {}
    std::size_t Write(const void* data, std::size_t size) override {
        sink_.Write(data, size);
        return size;
    }

private:
    zip::TDataSink& sink_;
};

class TNullClock : public platform::IClock {
public:
    void Sleep(std::uint32_t) override {}
    std::uint64_t NowMs() override { return 0; }
};

// 1 KiB of clipboard-like text, different in every item: lines of
// Cyrillic text with markup characters (Windows-1251), each with a few
// identifiers and numbers of its own, as an object's metadata would have.
std::string ItemText(std::uint64_t seed) {
    static const std::string piece = text::Utf8ToCp1251("Справочник.Склады <Реквизит> \"Адрес\" & 'Код' ");
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
    std::string s;
    char id[48];
    while (s.size() < 1024) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::snprintf(id, sizeof id, "{%08X-%04X} %u\r\n", static_cast<unsigned>(x >> 32),
                      static_cast<unsigned>(x >> 16) & 0xFFFF, static_cast<unsigned>(x & 0xFFFF));
        s += piece;
        s += id;
    }
    s.resize(1024);
    return s;
}

struct TFigures {
    std::size_t XmlBytes = 0;
    std::uintmax_t PackageBytes = 0;
    long RssGrowthKiB = 0;
    double GetXml = 0;
    // Per repetition: the package write, then the two baselines right after
    // it, so that all three see the same load on a shared machine.
    std::vector<double> Package, Deflate, InfoZip, PackageCpu, DeflateCpu;
    // The two archives alone, with one thread and with one per core.
    // The package archive of image.0 with each Deflate guess: [0] deflate and
    // cut back, [1] store while Deflate only counts (what the assembly does).
    double Image[2] = {0, 0}, Outer[2][2] = {{0, 0}, {0, 0}};
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::vector<double> Ratios(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) r.push_back(a[i] / b[i]);
    return r;
}

TFigures Measure(int objects, int repetitions, const fs::path& dir) {
    TFigures f;
    // Every item's text differs: six items per object, numbered in order.
    const auto doc = BuildPackageLikeDocument(objects, [](int object, int format) {
        return ItemText(static_cast<std::uint64_t>(object) * 6 + static_cast<std::uint64_t>(format));
    });
    package::TAssemblyInput in;
    in.LicensePath = (dir / "license.txt").string();
    in.PathToDescription = (dir / "description.txt").string();
    in.PathToPackageFile = (dir / "bench.1c82pkg").string();
    in.SerialKey = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
    TNullClipboard clipboard;
    TNullClock clock;

    // One package first, before the document's text is held in memory, so
    // that the peak memory shows what the write itself needs.
    const long rssBefore = PeakRssKiB();
    package::AssemblePackage(*doc, in, clipboard, clock);
    f.RssGrowthKiB = PeakRssKiB() - rssBefore;
    f.PackageBytes = fs::file_size(in.PathToPackageFile);

    // The two archives one by one, as the assembly writes them.
    const fs::path parts = dir / "parts";
    fs::create_directories(parts);
    for (int threaded = 0; threaded < 2; ++threaded) {
        f.Image[threaded] = BestSeconds(repetitions, [&] {
            zip::TZipWriter image;
            image.Create(parts / "image.0");
            image.SetThreads(threaded ? 0 : 1);
            image.AddData("PackageData.xml", [&](zip::TDataSink& sink) {
                TSinkStream stream(sink);
                doc->SaveToStream(stream);
            });
            image.SetPassword(std::string(package::kImagePassword));
            image.WriteArchive();
        });
        for (int guess = 0; guess < 2; ++guess) {
            f.Outer[guess][threaded] = BestSeconds(repetitions, [&] {
                zip::TZipWriter writer;
                writer.Create(dir / "outer.zip");
                writer.SetThreads(threaded ? 0 : 1);
                writer.SetBaseDirectory(parts);
                writer.AddFile("image.0", true,
                               guess ? zip::TZipWriter::TDeflateGuess::DoesNotCompress
                                     : zip::TZipWriter::TDeflateGuess::Compresses);
                writer.SetPassword(in.SerialKey);
                writer.WriteArchive();
            });
        }
    }
    fs::remove_all(parts);

    std::string text;
    f.GetXml = BestSeconds(repetitions, [&] { text = doc->GetXml(); });
    f.XmlBytes = text.size();
    const fs::path xmlDir = dir / "xml";
    fs::create_directories(xmlDir);
    doc->SaveToFile(xmlDir / "PackageData.xml");
    const fs::path infoZip = dir / "infozip.zip";
    const std::string command = InfoZipCommand(xmlDir, infoZip, "PackageData.xml");

    for (int i = 0; i < repetitions; ++i) {
        double cpu = CpuSeconds();
        f.Package.push_back(Seconds([&] { package::AssemblePackage(*doc, in, clipboard, clock); }));
        f.PackageCpu.push_back(CpuSeconds() - cpu);
        cpu = CpuSeconds();
        f.Deflate.push_back(Seconds([&] { RawDeflate(text); }));
        f.DeflateCpu.push_back(CpuSeconds() - cpu);
        fs::remove(infoZip);
        f.InfoZip.push_back(Seconds([&] { RunInfoZip(command); }));
    }
    fs::remove_all(xmlDir);
    return f;
}

void Print(const char* name, int objects, const TFigures& f) {
    std::printf("%-6s %6d objects, %11zu bytes of XML, package %10ju bytes, peak memory +%ld KiB\n", name, objects,
                f.XmlBytes, f.PackageBytes, f.RssGrowthKiB);
    // Each repetition's times where there are few of them.
    const auto times = [&](const std::vector<double>& baseline) {
        if (f.Package.size() > 5) return;
        std::printf(";");
        for (std::size_t i = 0; i < f.Package.size(); ++i) std::printf(" %.3f/%.3f s", f.Package[i], baseline[i]);
    };
    std::printf("       package write / raw Deflate: %5.2fx (median", Median(Ratios(f.Package, f.Deflate)));
    times(f.Deflate);
    std::printf(")\n       package write / zip -e:      %5.2fx (median", Median(Ratios(f.Package, f.InfoZip)));
    times(f.InfoZip);
    std::printf(")\n       processor time, package write / raw Deflate: %5.2fx (median)\n",
                Median(Ratios(f.PackageCpu, f.DeflateCpu)));
    std::printf("       GetXml %.4f s; image.0 alone %.4f s on one thread, %.4f s on all cores; "
                "the package archive of it %.4f s, %.4f s (deflated, then cut back: %.4f s, %.4f s)\n",
                f.GetXml, f.Image[0], f.Image[1], f.Outer[1][0], f.Outer[1][1], f.Outer[0][0], f.Outer[0][1]);
}

}  // namespace

int main(int argc, char** argv) {
    const int objects = argc > 1 ? std::atoi(argv[1]) : 16000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 3;
    const int smallObjects = argc > 3 ? std::atoi(argv[3]) : 5;

    const fs::path dir = platform::CreateUniqueDirectory(platform::TempDirectory(), "package-bench-");
    {
        platform::TFile license = platform::TFile::Create(dir / "license.txt");
        const std::string text = std::string("Лицензионное соглашение.\r\n"_cp1251);
        for (int i = 0; i < 200; ++i) license.WriteAll(text.data(), text.size());
        platform::TFile description = platform::TFile::Create(dir / "description.txt");
        description.WriteAll(text.data(), text.size());
    }
    std::printf("cores: %u, best of %d repetitions (small: of %d)\n", std::max(1u, std::thread::hardware_concurrency()),
                repetitions, repetitions * 10);
    const TFigures small = Measure(smallObjects, repetitions * 10, dir);
    const TFigures large = Measure(objects, repetitions, dir);
    Print("small", smallObjects, small);
    Print("large", objects, large);

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
