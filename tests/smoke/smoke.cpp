// Runs the portable core on Windows: code pages, files with Cyrillic names,
// the directory search with its attributes, randomness, XML saved to a file,
// the ZIP writer and its Deflate threads. Prints one line per
// check and "N passed, N failed"; the exit code is the number of failures.
#include <windows.h>
// winbase.h maps ReplaceFile to ReplaceFileW under UNICODE.
#undef ReplaceFile

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"
#include "text/Literal.h"
#include "xml/XmlDom.h"
#include "zip/DeflatePipeline.h"
#include "zip/ZipWriter.h"

using namespace text::literals;
namespace fs = std::filesystem;

namespace {

int passed = 0, failed = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    (ok ? passed : failed)++;
}

}  // namespace

int main() {
    // Wine takes the ANSI code page from LC_ALL; the runner sets a Russian locale.
    Check(GetACP() == 1251, "the ANSI code page is 1251");

    const std::string name1251(std::string("Описание пакета.txt"_cp1251));
    Check(text::Cp1251ToUtf16(name1251) == u"Описание пакета.txt", "1251 literal converts to UTF-16");

    const fs::path dir = platform::CreateUniqueDirectory(platform::TempDirectory(), "wizard-smoke-");
    {
        auto f = platform::TFile::Create(dir / text::PathFrom1251(name1251));
        f.WriteAll("hello", 5);
        f.Close();
    }
    auto found = platform::FindFile(dir, u"ОПИСАНИЕ ПАКЕТА.TXT", false);
    Check(found.has_value(), "a Cyrillic name is found case-insensitively");
    Check(found && found->Name == u"Описание пакета.txt", "the name is reported as on disk");
    Check(found && found->Size == 5, "the size is right");
    Check(found && (found->Attributes & platform::kAttrArchive) != 0, "a new file carries the archive bit");

    const fs::path hidden = dir / L"image.0";
    { auto f = platform::TFile::Create(hidden); f.WriteAll("x", 1); }
    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    Check(!platform::FindFile(dir, u"image.0", false), "a hidden file is skipped unless asked");
    Check(platform::FindFile(dir, u"image.0", true).has_value(), "a hidden file is found when asked");

    try {
        platform::TFile::Create(dir / L"no such dir" / L"f");
        Check(false, "creating in a missing directory fails");
    } catch (const text::TError& e) {
        const std::string msg = e.what();
        Check(msg.rfind("Cannot create file \"", 0) == 0 && msg.back() != '.', "the creation error has the system's text");
    }

    {
        // The sample document: an attribute with "&", an empty element, and an
        // element whose text holds "<", quotes and two Cyrillic letters.
        xml::TRef<xml::TXmlDDocument> doc(new xml::TXmlDDocument());
        auto* sample = new xml::TXmlDElement("Sample");
        doc->AppendChild(sample);
        auto* attr = new xml::TXmlDAttribute("a");
        attr->SetValue("x&y");
        sample->SetAttributeNode(attr);
        sample->AppendChild(new xml::TXmlDElement("Empty"));
        auto* item = new xml::TXmlDElement("Item");
        sample->AppendChild(item);
        auto* format = new xml::TXmlDAttribute("FormatName");
        format->SetValue("CF_TEXT");
        item->SetAttributeNode(format);
        item->SetText("1<2 \"" + std::string("да"_cp1251) + "\"");
        const fs::path xmlPath = dir / L"Данные пакета.xml";
        doc->SaveToFile(xmlPath);
        std::string bytes(200, '\0');
        auto f = platform::TFile::OpenRead(xmlPath);
        bytes.resize(f.Read(bytes.data(), bytes.size()));
        const std::string expected = "<Sample a=\"x&amp;y\"><Empty/><Item FormatName=\"CF_TEXT\">1&lt;2 &quot;" +
                                     std::string("да"_cp1251) + "&quot;</Item></Sample>";
        Check(expected.size() == 92 && bytes == expected, "an XML document is saved under a Cyrillic name, 92 bytes");
    }

    {
        // The ZIP writer on Windows: a Cyrillic entry name found through
        // FindFileW, stored in code page 866 with the Unicode Path field.
        zip::TZipWriter writer;
        writer.Create(dir / L"package.zip");
        writer.SetBaseDirectory(dir);
        writer.AddFile("ОПИСАНИЕ ПАКЕТА.TXT"_cp1251, false);
        writer.SetPassword(std::string("Ключ"_cp1251));
        writer.WriteArchive();
        std::string bytes(128, '\0');
        auto f = platform::TFile::OpenRead(dir / L"package.zip");
        bytes.resize(f.Read(bytes.data(), bytes.size()));
        const std::string name866 = text::Utf16ToCp866(u"Описание пакета.txt");
        Check(bytes.rfind("PK\x03\x04", 0) == 0, "the ZIP writer writes a local header");
        Check(bytes.size() > 30 + name866.size() && bytes.compare(30, name866.size(), name866) == 0,
              "the entry name is the name on disk in code page 866");
        Check(bytes.find("\x75\x70", 30 + name866.size()) == 30 + name866.size(), "a Unicode Path field follows it");
    }

    {
        // The parallel Deflate on Windows threads: the same stream from one
        // and from three workers, and zlib inflates it back.
        std::string data;
        for (int i = 0; data.size() < 3500000; ++i)
            data += "<Item N=\"" + std::to_string(i * 7919 % 100003) + "\">" + std::to_string(i) + "</Item>";
        std::string streams[2];
        const unsigned workers[2] = {1, 3};
        for (int k = 0; k < 2; ++k) {
            zip::TDeflatePipeline pipeline(
                [&](unsigned char* p, std::size_t n) { streams[k].append(reinterpret_cast<char*>(p), n); },
                workers[k]);
            for (std::size_t at = 0; at < data.size(); at += 100000)
                pipeline.Write(data.data() + at, std::min<std::size_t>(100000, data.size() - at));
            pipeline.Finish();
        }
        Check(!streams[0].empty() && streams[0] == streams[1], "three Deflate threads give the one thread's stream");
        std::string back(data.size() + 1, '\0');
        z_stream z{};
        inflateInit2(&z, -15);
        z.next_in = reinterpret_cast<Bytef*>(streams[1].data());
        z.avail_in = static_cast<uInt>(streams[1].size());
        z.next_out = reinterpret_cast<Bytef*>(back.data());
        z.avail_out = static_cast<uInt>(back.size());
        const int rc = inflate(&z, Z_FINISH);
        back.resize(back.size() - z.avail_out);
        inflateEnd(&z);
        Check(rc == Z_STREAM_END && back == data, "the blocks inflate back to the data");
    }

    {
        // A copy takes its source's last-write time and read-only bit, but
        // not its hidden bit; a folder with a read-only file in it is removed.
        const fs::path source = dir / L"Соглашение.txt", copy = dir / L"copy" / L"Пользовательское соглашение.txt";
        fs::create_directories(copy.parent_path());
        { auto f = platform::TFile::Create(source); f.WriteAll("text", 4); }
        { auto f = platform::TFile::Create(copy); f.WriteAll("text", 4); }
        HANDLE h = CreateFileW(source.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME when{0x12345678, 0x01D00000};  // a day in 2014, not now
        SetFileTime(h, nullptr, nullptr, &when);
        CloseHandle(h);
        SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
        platform::CopyTimeAndAttributes(source, copy);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data);
        Check(data.ftLastWriteTime.dwLowDateTime == when.dwLowDateTime &&
                  data.ftLastWriteTime.dwHighDateTime == when.dwHighDateTime,
              "a copy keeps its source's last-write time");
        Check(data.dwFileAttributes == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
              "a copy keeps the read-only and archive bits but not the hidden one");
        platform::RemoveTree(copy.parent_path());
        Check(GetFileAttributesW(copy.parent_path().c_str()) == INVALID_FILE_ATTRIBUTES,
              "a folder holding a read-only file is removed");
        SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    {
        // Processes: this one runs; an id nobody has, or this id with another
        // start time (an id used again), is gone.
        const platform::TProcessIdentity self = platform::CurrentProcess();
        Check(self.Id == GetCurrentProcessId() && self.StartTime != 0, "this process has an id and a start time");
        Check(platform::IsRunning(self), "this process is running");
        Check(!platform::IsRunning({self.Id, self.StartTime + 1}), "its id with another start time is gone");
        Check(!platform::IsRunning({0xFFFFFFF0u, 1}), "an id that no process has is gone");
    }

    {
        // A scanner that opens the package just written without letting it
        // be renamed: for 300 ms the rename waits it out; for 3 s it is the
        // error, and both files are kept.
        const fs::path fresh = dir / L"Новый пакет.tmp", target = dir / L"Пакет.1c82pkg";
        const auto write = [](const fs::path& p, const char* text) {
            auto f = platform::TFile::Create(p);
            f.WriteAll(text, std::char_traits<char>::length(text));
        };
        const auto hold = [&fresh](DWORD ms) {
            HANDLE h = CreateFileW(fresh.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            return std::thread([h, ms] {
                Sleep(ms);
                CloseHandle(h);
            });
        };
        write(fresh, "N");
        write(target, "OLD");
        std::thread scanner = hold(300);
        bool replaced = true;
        try {
            platform::ReplaceFile(fresh, target);
        } catch (const text::TError&) {
            replaced = false;
        }
        scanner.join();
        Check(replaced && fs::file_size(target) == 1, "a rename waits for a program that holds the new file for 300 ms");
        write(fresh, "NEW");
        scanner = hold(3000);
        bool refused = false;
        try {
            platform::ReplaceFile(fresh, target);
        } catch (const text::TError&) {
            refused = true;
        }
        scanner.join();
        Check(refused && fs::file_size(fresh) == 3 && fs::file_size(target) == 1,
              "a new file held for 3 s is the error, with both files kept");
    }

    unsigned char a[16] = {}, b[16] = {};
    platform::FillRandom(a, sizeof a);
    platform::FillRandom(b, sizeof b);
    Check(std::string(reinterpret_cast<char*>(a), 16) != std::string(reinterpret_cast<char*>(b), 16),
          "BCryptGenRandom delivers bytes");

    std::error_code ec;
    fs::remove_all(dir, ec);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed;
}
