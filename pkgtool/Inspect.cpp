#include "Inspect.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

#include "package/PackageAssembly.h"
#include "package/PackageDocument.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"
#include "zip/ZipReader.h"

namespace pkgtool {

TScratchDirectory::TScratchDirectory()
    : path_(platform::CreateUniqueDirectory(platform::TempDirectory(), "pkgtool-")) {}

TScratchDirectory::~TScratchDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {

namespace fs = std::filesystem;


std::string MethodName(std::uint16_t method) {
    if (method == 0) return "stored";
    if (method == 8) return "deflated";
    return "method " + std::to_string(method);
}

TEntryInfo Describe(const zip::TZipEntry& e) {
    TEntryInfo info;
    info.Name = e.Name;
    info.Method = MethodName(e.Method);
    info.CompressedSize = e.CompressedSize;
    info.Size = e.UncompressedSize;
    info.Time = zip::DosDateTimeText(e.DosDate, e.DosTime);
    info.Encrypted = e.Encrypted();
    info.Crc = e.Crc;
    return info;
}

std::string Hex32(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
    return buf;
}

void Discard(const char*, std::size_t) {}

// The bytes of image.0 while the package's reader is still decrypting them,
// for a reader on another thread that takes them in order, from the start,
// as they arrive. At most kWindow bytes wait; the decrypting side waits
// while the window is full, the reading side until its bytes are there.
class TArrivingBytes final : public zip::IByteSource {
public:
    explicit TArrivingBytes(std::uint64_t size) : size_(size) {}

    std::uint64_t Size() const override { return size_; }

    // Forwards only: what lies before `offset` is let go.
    void ReadAt(std::uint64_t offset, void* data, std::size_t size) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (offset < base_ || size > kWindow) throw text::TError("image.0 is read out of order");
        Drop(offset);
        changed_.wait(lock, [&] { return ended_ || Held(offset + size); });
        if (!Held(offset + size)) throw text::TError("image.0 ends early");
        std::memcpy(data, buffer_.data() + head_ + (offset - base_), size);
        Drop(offset + size);
    }

    // The decrypting side: the next bytes, in order.
    void Append(const char* data, std::size_t size) {
        while (size > 0) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return abandoned_ || buffer_.size() - head_ < kWindow; });
            if (abandoned_) return;
            if (head_ >= kWindow) {
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_));
                head_ = 0;
            }
            const std::size_t n = std::min(size, kWindow - (buffer_.size() - head_));
            buffer_.insert(buffer_.end(), data, data + n);
            data += n;
            size -= n;
            changed_.notify_all();
        }
    }
    // The decrypting side: no more bytes come (all there are, or a fault).
    void End() {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    // The reading side: it takes no more bytes.
    void Abandon() {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
        changed_.notify_all();
    }

private:
    static constexpr std::size_t kWindow = 8u << 20;

    bool Held(std::uint64_t end) const { return end <= base_ + (buffer_.size() - head_); }
    void Drop(std::uint64_t before) {
        const std::uint64_t n = std::min<std::uint64_t>(before - base_, buffer_.size() - head_);
        head_ += static_cast<std::size_t>(n);
        base_ += n;
        changed_.notify_all();
    }

    const std::uint64_t size_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char> buffer_;
    std::size_t head_ = 0;    // buffer_'s first byte still held
    std::uint64_t base_ = 0;  // its offset in image.0
    bool ended_ = false;
    bool abandoned_ = false;
};

// The objects of a document read ahead, kept in a private file until they
// may be reported, so that memory does not grow with their number.
class TObjectSpool {
public:
    explicit TObjectSpool(fs::path path) : path_(std::move(path)), file_(platform::TFile::Create(path_)) {}

    void Add(const std::string& section, const TPackageObject& object) {
        buffer_ += static_cast<char>(Index(kSectionTags, section));
        PutU64(object.ObjectPath.size());
        buffer_ += object.ObjectPath;
        buffer_ += static_cast<char>(object.Formats.size());
        for (const TFormatData& f : object.Formats) {
            buffer_ += static_cast<char>(Index(kFormatNames, f.Name));
            PutU64(f.Size);
            PutU64(f.Hash);
        }
        if (buffer_.size() >= kFlushSize) Flush();
    }
    void Close() {
        Flush();
        file_.Close();
    }

    // Hands the objects on in the order they were added.
    void Replay(const std::function<void(const std::string&, const TPackageObject&)>& use) {
        platform::TFile in = platform::TFile::OpenRead(path_);
        std::string data;
        std::size_t at = 0;
        auto need = [&](std::size_t n) {
            if (data.size() - at >= n) return;
            data.erase(0, at);
            at = 0;
            std::string chunk(std::max(n, kFlushSize), '\0');
            while (data.size() < n) {
                const std::size_t got = in.Read(chunk.data(), chunk.size());
                if (got == 0) throw text::TError("The list of objects read ahead is cut short");
                data.append(chunk.data(), got);
            }
        };
        auto u8 = [&] {
            need(1);
            return static_cast<unsigned char>(data[at++]);
        };
        auto u64 = [&] {
            need(8);
            std::uint64_t v = 0;
            for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
            at += 8;
            return v;
        };
        TPackageObject object;
        for (;;) {
            if (data.size() == at) {
                need(0);
                std::string chunk(kFlushSize, '\0');
                const std::size_t got = in.Read(chunk.data(), chunk.size());
                if (got == 0) return;
                data.assign(chunk.data(), got);
                at = 0;
            }
            const std::string section(kSectionTags[u8()]);
            const std::size_t pathSize = static_cast<std::size_t>(u64());
            need(pathSize);
            object.ObjectPath.assign(data, at, pathSize);
            at += pathSize;
            object.Formats.resize(u8());
            for (TFormatData& f : object.Formats) {
                f.Name = kFormatNames[u8()];
                f.Size = u64();
                f.Hash = u64();
            }
            use(section, object);
        }
    }

private:
    static constexpr std::size_t kFlushSize = 1u << 20;
    static constexpr std::string_view kSectionTags[] = {package::kCommonModulesTag, package::kDirectoriesTag,
                                                        package::kProcessingsTag, package::kSubsystemsTag};
    static constexpr std::string_view kFormatNames[] = {package::kFormatText, package::kFormatUnicodeText,
                                                        package::kFormatMd8Data, package::kFormatMd8ExternalData,
                                                        package::kFormatMd8Info, package::kFormatMngCmdObjects};

    template <std::size_t N>
    static std::size_t Index(const std::string_view (&names)[N], std::string_view name) {
        for (std::size_t i = 0; i < N; ++i)
            if (names[i] == name) return i;
        throw text::TError("An object read ahead has an unknown section or format");
    }
    void PutU64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) buffer_ += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    void Flush() {
        file_.WriteAll(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

    fs::path path_;
    platform::TFile file_;
    std::string buffer_;
};

// PackageData.xml read while image.0 is still being decrypted: a thread of
// its own takes image.0's bytes as they arrive, finds the first entry from
// its local header, and decrypts, inflates, CRC-checks and checks it against
// the layout, spooling the objects. Nothing of it is reported yet: image.0's
// central directory, read once image.0 is whole, must first show that this
// was PackageData.xml as the directory describes it. A read ahead that
// fails or finds anything else is dropped, and the document is read again
// the ordinary way, which then reports what is wrong.
class TDocumentReadAhead {
public:
    TDocumentReadAhead(std::uint64_t imageSize, const fs::path& spoolPath, TPackageXmlReader::TOptions options)
        : bytes_(imageSize), spool_(spoolPath), options_(options), thread_([this] { Run(); }) {}
    ~TDocumentReadAhead() {
        bytes_.End();
        bytes_.Abandon();
        if (thread_.joinable()) thread_.join();
    }
    TDocumentReadAhead(const TDocumentReadAhead&) = delete;
    TDocumentReadAhead& operator=(const TDocumentReadAhead&) = delete;

    void Append(const char* data, std::size_t size) { bytes_.Append(data, size); }

    // Waits for the read ahead. True when it read the entry `xml` of the
    // whole image.0 through without a fault; its objects can then be replayed.
    bool Matches(const zip::TZipEntry& xml) {
        bytes_.End();
        thread_.join();
        thread_ = std::thread();
        if (!entry_) return false;
        const zip::TZipEntry& e = *entry_;
        return xml.LocalHeaderOffset == 0 && xml.DataOffset == e.DataOffset && xml.RawName == e.RawName &&
               xml.Method == e.Method && xml.Flags == e.Flags && xml.DosTime == e.DosTime && xml.Crc == e.Crc &&
               xml.CompressedSize == e.CompressedSize && xml.UncompressedSize == e.UncompressedSize;
    }

    void Replay(IInspectionSink& sink) {
        spool_.Replay([&sink](const std::string& section, const TPackageObject& o) { sink.Object(section, o); });
    }
    TPackageContents& Contents() { return contents_; }

private:
    void Run() {
        try {
            std::optional<zip::TZipEntry> entry = zip::ReadFirstLocalEntry(bytes_);
            if (entry && entry->Name == package::package_names::PackageData) {
                TPackageXmlReader reader(
                    [this](const std::string& section, const TPackageObject& o) { spool_.Add(section, o); }, options_);
                zip::ReadEntryData(bytes_, *entry, package::kImagePassword,
                                   [&reader](const char* data, std::size_t size) { reader.Feed(data, size); });
                contents_ = reader.Finish();
                spool_.Close();
                entry_ = std::move(entry);
            }
        } catch (...) {
            // The ordinary reading finds the fault again and reports it.
        }
        bytes_.Abandon();
    }

    TArrivingBytes bytes_;
    TObjectSpool spool_;
    const TPackageXmlReader::TOptions options_;
    std::optional<zip::TZipEntry> entry_;
    TPackageContents contents_;
    std::thread thread_;
};

}  // namespace

TInspectWork InspectPackage(const fs::path& path, std::string_view key1251, IInspectionSink& sink) {
    const std::string password = package::PackagePassword(key1251);

    zip::TFileSource file(path);
    zip::TZipReader archive(file);
    const std::string imageName = text::Cp1251ToUtf8(package::package_names::Image);
    const zip::TZipEntry* image = archive.Find(imageName);
    if (!image) throw text::TError("The package holds no " + imageName);

    // Every entry is read through, so that every CRC is checked; image.0 is
    // kept in a private file to be opened as an archive in its turn. Its
    // document is read ahead from the same bytes meanwhile, on the other
    // cores, unless its bytes are what the sink wants.
    TScratchDirectory scratch;
    const fs::path imagePath = scratch.Path() / "image.0";
    std::unique_ptr<TDocumentReadAhead> ahead;
    std::vector<TEntryInfo> entries;
    for (const zip::TZipEntry& e : archive.Entries()) {
        entries.push_back(Describe(e));
        if (&e != image) {
            TContentHash hash;
            archive.ReadEntry(e, password, [&hash](const char* data, std::size_t size) { hash.Update(data, size); });
            entries.back().ContentHash = hash.Digest();
            continue;
        }
        if (!sink.WantsXml())
            ahead = std::make_unique<TDocumentReadAhead>(e.UncompressedSize, scratch.Path() / "objects",
                                                         sink.DocumentOptions());
        platform::TFile copy = platform::TFile::Create(imagePath);
        archive.ReadEntry(e, password, [&copy, &ahead](const char* data, std::size_t size) {
            copy.WriteAll(data, size);
            if (ahead) ahead->Append(data, size);
        });
        copy.Close();
    }
    sink.Entries(entries, key1251.empty());

    zip::TFileSource imageFile(imagePath);
    zip::TZipReader inner(imageFile);
    const std::string xmlName(package::package_names::PackageData);
    const zip::TZipEntry* xml = inner.Find(xmlName);
    if (!xml) throw text::TError(imageName + " holds no " + xmlName);
    std::vector<TEntryInfo> imageEntries;
    for (const zip::TZipEntry& e : inner.Entries()) {
        imageEntries.push_back(Describe(e));
        if (&e != xml) inner.ReadEntry(e, package::kImagePassword, Discard);
    }
    sink.ImageEntries(imageEntries);

    if (ahead && ahead->Matches(*xml)) {
        ahead->Replay(sink);
        sink.End(std::move(ahead->Contents()));
        return {true};
    }
    ahead.reset();
    TPackageXmlReader reader(
        [&sink](const std::string& section, const TPackageObject& object) { sink.Object(section, object); },
        sink.DocumentOptions());
    inner.ReadEntry(*xml, package::kImagePassword, [&](const char* data, std::size_t size) {
        reader.Feed(data, size);
        sink.Xml(data, size);
    });
    sink.End(reader.Finish());
    return {false};
}

namespace {

std::string EntriesWord(std::size_t n) { return std::to_string(n) + (n == 1 ? " entry" : " entries"); }

// The section tags in document order.
const std::string_view kSectionTags[] = {package::kCommonModulesTag, package::kDirectoriesTag,
                                         package::kProcessingsTag, package::kSubsystemsTag};

// Walks the four sections in order as objects arrive, so that empty ones
// are announced too.
class TSectionCursor {
public:
    // Calls `open` for each section up to and including `tag` not yet opened.
    template <class F>
    void Reach(std::string_view tag, F open) {
        while (next_ < std::size(kSectionTags) && (next_ == 0 || kSectionTags[next_ - 1] != tag)) open(kSectionTags[next_++]);
    }
    template <class F>
    void Finish(F open) {
        while (next_ < std::size(kSectionTags)) open(kSectionTags[next_++]);
    }
    bool Any() const { return next_ > 0; }

private:
    std::size_t next_ = 0;
};

class TTextPrinter : public IInspectionSink {
public:
    explicit TTextPrinter(std::ostream& out) : out_(out) {}
    void Entries(const std::vector<TEntryInfo>& entries, bool defaultKey) override {
        out_ << "package: " << EntriesWord(entries.size()) << ", opened with "
             << (defaultKey ? "the default package password" : "the key given") << "\n"
             << "  name\tmethod\tpacked\tsize\tmodified\tencryption\tCRC\n";
        List(entries);
    }
    void ImageEntries(const std::vector<TEntryInfo>& entries) override {
        out_ << "image.0: " << EntriesWord(entries.size()) << ", opened with the inner password\n";
        List(entries);
    }
    void Xml(const char*, std::size_t) override {}
    void Object(const std::string& section, const TPackageObject& o) override {
        sections_.Reach(section, [this](std::string_view tag) { out_ << tag << ":\n"; });
        out_ << "  " << text::Cp1251ToUtf8(o.ObjectPath) << "\n";
        for (const TFormatData& f : o.Formats) out_ << "    " << text::Cp1251ToUtf8(f.Name) << "\t" << f.Size << "\n";
    }
    void End(const TPackageContents& c) override {
        sections_.Finish([this](std::string_view tag) { out_ << tag << ":\n"; });
        std::uint64_t objects = 0;
        for (const TPackageSection& s : c.Sections) objects += s.ObjectCount;
        out_ << "PackageData.xml: " << c.Bytes << " bytes, " << objects << (objects == 1 ? " object" : " objects")
             << ", every CRC verified, matches the package layout\n"
             << "  copyright: " << text::Cp1251ToUtf8(c.Copyright) << "\n";
    }

private:
    void List(const std::vector<TEntryInfo>& entries) {
        for (const TEntryInfo& e : entries)
            out_ << "  " << e.Name << "\t" << e.Method << "\t" << e.CompressedSize << "\t" << e.Size << "\t" << e.Time
                 << "\t" << (e.Encrypted ? "encrypted" : "plain") << "\tCRC " << Hex32(e.Crc) << "\n";
    }
    std::ostream& out_;
    TSectionCursor sections_;
};

// JSON written as the inspection goes: the structure by hand, every value
// through nlohmann-json.
class TJsonPrinter : public IInspectionSink {
public:
    explicit TJsonPrinter(std::ostream& out) : out_(out) {}
    void Entries(const std::vector<TEntryInfo>& entries, bool defaultKey) override {
        out_ << "{\n  \"defaultKey\": " << (defaultKey ? "true" : "false") << ",\n  \"entries\": " << List(entries, 2)
             << ",\n";
    }
    void ImageEntries(const std::vector<TEntryInfo>& entries) override {
        out_ << "  \"image\": {\n    \"entries\": " << List(entries, 4) << "\n  },\n  \"packageData\": {\n    \"sections\": [";
    }
    void Xml(const char*, std::size_t) override {}
    void Object(const std::string& section, const TPackageObject& o) override {
        sections_.Reach(section, [this](std::string_view tag) { OpenSection(tag); });
        nlohmann::ordered_json formats = nlohmann::ordered_json::array();
        for (const TFormatData& f : o.Formats) formats.push_back({{"name", text::Cp1251ToUtf8(f.Name)}, {"size", f.Size}});
        const nlohmann::ordered_json object = {{"objectPath", text::Cp1251ToUtf8(o.ObjectPath)}, {"formats", formats}};
        out_ << (firstObject_ ? "\n" : ",\n") << "          " << object.dump();
        firstObject_ = false;
    }
    void End(const TPackageContents& c) override {
        sections_.Finish([this](std::string_view tag) { OpenSection(tag); });
        CloseSection();
        out_ << "\n    ],\n    \"size\": " << c.Bytes << ",\n    \"copyright\": "
             << nlohmann::json(text::Cp1251ToUtf8(c.Copyright)).dump() << "\n  }\n}\n";
    }

private:
    static std::string List(const std::vector<TEntryInfo>& entries, int indent) {
        nlohmann::ordered_json a = nlohmann::ordered_json::array();
        for (const TEntryInfo& e : entries) {
            a.push_back({{"name", e.Name},
                         {"method", e.Method},
                         {"compressedSize", e.CompressedSize},
                         {"size", e.Size},
                         {"modified", e.Time},
                         {"encrypted", e.Encrypted},
                         {"crc", Hex32(e.Crc)}});
        }
        // Indented to sit at its place in the document.
        std::string text = a.dump(2), out;
        for (char c : text) {
            out += c;
            if (c == '\n') out.append(static_cast<std::size_t>(indent), ' ');
        }
        return out;
    }
    void OpenSection(std::string_view tag) {
        CloseSection();
        out_ << (sectionOpen_ || anySection_ ? ",\n" : "\n") << "      {\n        \"name\": \"" << tag
             << "\",\n        \"objects\": [";
        sectionOpen_ = anySection_ = true;
        firstObject_ = true;
    }
    void CloseSection() {
        if (!sectionOpen_) return;
        out_ << (firstObject_ ? "]\n      }" : "\n        ]\n      }");
        sectionOpen_ = false;
    }
    std::ostream& out_;
    TSectionCursor sections_;
    bool sectionOpen_ = false;
    bool anySection_ = false;
    bool firstObject_ = true;
};

class TXmlPrinter : public IInspectionSink {
public:
    explicit TXmlPrinter(std::ostream& out) : out_(out) {}
    void Entries(const std::vector<TEntryInfo>&, bool) override {}
    void ImageEntries(const std::vector<TEntryInfo>&) override {}
    bool WantsXml() const override { return true; }
    void Xml(const char* data, std::size_t size) override { out_.write(data, static_cast<std::streamsize>(size)); }
    void Object(const std::string&, const TPackageObject&) override {}
    void End(const TPackageContents&) override {}

private:
    std::ostream& out_;
};

}  // namespace

std::unique_ptr<IInspectionSink> TextPrinter(std::ostream& out) { return std::make_unique<TTextPrinter>(out); }
std::unique_ptr<IInspectionSink> JsonPrinter(std::ostream& out) { return std::make_unique<TJsonPrinter>(out); }
std::unique_ptr<IInspectionSink> XmlPrinter(std::ostream& out) { return std::make_unique<TXmlPrinter>(out); }

}  // namespace pkgtool
