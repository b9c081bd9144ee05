#include "package/PackageAssembly.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "package/BuildFiles.h"
#include "platform/Platform.h"
#include "text/Codepage.h"
#include "text/Error.h"

namespace package {
namespace {

namespace fs = std::filesystem;

// A new directory of its own under the temporary directory for one build,
// removed with everything in it when the build ends, also on an error. A
// fresh directory means no file left by another build (or by another copy of
// the wizard running at the same time) is ever packed.
class TWorkDirectory {
public:
    explicit TWorkDirectory(const fs::path& parent) : path_(build_files::CreateWorkDirectory(parent)) {}
    TWorkDirectory(const TWorkDirectory&) = delete;
    TWorkDirectory& operator=(const TWorkDirectory&) = delete;
    // A file that cannot be removed (held open by a virus scanner, say)
    // stays behind; that must not turn a finished build into an error. The
    // copies may be read-only like their sources; that does not keep them.
    ~TWorkDirectory() { platform::RemoveTree(path_); }

    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// The package while it is being written: a file next to the target under a
// name of its own. MoveTo puts it in place of the target in one rename;
// until then the destructor removes it, so a failed build leaves neither a
// partial package nor a damaged previous one.
class TPendingFile {
public:
    explicit TPendingFile(fs::path path) : path_(std::move(path)) {}
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;
    ~TPendingFile() {
        if (!placed_) {
            std::error_code ignored;
            fs::remove(path_, ignored);
        }
    }

    const fs::path& Path() const { return path_; }

    void MoveTo(const fs::path& target) {
        platform::ReplaceFile(path_, target);
        placed_ = true;
    }

private:
    fs::path path_;
    bool placed_ = false;
};

fs::path NamePath(std::string_view name1251) { return text::PathFrom1251(name1251); }

// An agreement or description text, opened now so that a path that cannot
// be read stops the build before anything is written. An empty field means
// the package has no such entry.
std::optional<platform::TFile> OpenSource(const std::string& path1251) {
    if (path1251.empty()) return std::nullopt;
    return platform::TFile::OpenRead(text::PathFrom1251(path1251));
}

// Copies an opened source into a new file with the source's last-write time
// and attributes, which the entry then carries (its time also gives the
// encryption header's check byte). The copy is made by reading and writing
// rather than by the system's file copy, and a hidden or system bit is not
// passed on: either would make the archive writer skip the copy.
void CopyInto(platform::TFile& source, const fs::path& copy) {
    {
        platform::TFile out = platform::TFile::Create(copy);
        std::vector<char> buffer(64 * 1024);
        while (const std::size_t n = source.Read(buffer.data(), buffer.size())) out.WriteAll(buffer.data(), n);
        out.Close();
    }
    source.Close();
    platform::CopyTimeAndAttributes(source.Path(), copy);
}

// The archive writer skips a name that matches no file without a word. For
// the files this build made itself that would be a package without its
// image.0, agreement or description, reported as written; so each is looked
// up first and its absence is an error.
void RequireFile(const fs::path& dir, std::string_view name1251, bool includeHidden) {
    if (platform::FindFile(dir, text::Cp1251ToUtf16(name1251), includeHidden)) return;
    // Raises the system's own reason when the file is not there at all.
    platform::TFile::OpenRead(dir / NamePath(name1251));
    throw text::TFileError("Cannot open file \"%s\". %s", platform::FullPath1251(dir / NamePath(name1251)),
                           "The file is hidden or a system file");
}

// Creates the archive at the pending path. The user chose the target, not
// the pending name, so a failure (missing folder, no rights) is reported
// with the target's path and the system's reason.
void CreateNextToTarget(zip::TZipWriter& writer, const fs::path& pending, const fs::path& target) {
    try {
        writer.Create(pending);
    } catch (const text::TFileError& e) {
        throw e.WithPath(platform::FullPath1251(target));
    }
}

void UseRandomSource(zip::TZipWriter& writer, const zip::TZipWriter::TRandomSource& random) {
    if (random) writer.SetRandomSource(random);
}

// Hands the document's text to the archive writer as it is produced.
class TEntryStream final : public xml::TStream {
public:
    explicit TEntryStream(zip::TDataSink& sink) : sink_(sink) {}
    std::size_t Write(const void* data, std::size_t size) override {
        sink_.Write(data, size);
        return size;
    }

private:
    zip::TDataSink& sink_;
};

// Writes the inner archive at `path` with the document as its one entry.
// The document's text goes straight into the archive's Deflate stage, which
// compresses it on the other cores while the rest is still being produced;
// it never lies on disk as PackageData.xml, in the clear. The entry looks as
// if the file had been saved at that moment: same name, the time of the
// writing, the attributes of an ordinary file.
void WriteImage(const xml::TXmlDDocument& doc, const fs::path& path, const zip::TZipWriter::TRandomSource& random) {
    zip::TZipWriter image;
    UseRandomSource(image, random);
    image.Create(path);
    image.AddData(package_names::PackageData, [&doc](zip::TDataSink& sink) {
        TEntryStream stream(sink);
        doc.SaveToStream(stream);
    });
    image.SetPassword(std::string(kImagePassword));
    image.WriteArchive();
}

// Writes the package file; all temporary files are gone when it returns,
// whether it returns or raises.
void WritePackageFile(const xml::TXmlDDocument& doc, const TAssemblyInput& in,
                      const zip::TZipWriter::TRandomSource& random, const std::function<bool()>& stopRequested) {
    const auto checkStop = [&stopRequested] {
        if (stopRequested && stopRequested()) throw TBuildStopped();
    };
    std::optional<platform::TFile> agreement = OpenSource(in.LicensePath);
    std::optional<platform::TFile> description = OpenSource(in.PathToDescription);
    if (in.PathToPackageFile.empty()) throw text::TError("Archive does not exist - Filename is blank");
    const fs::path target = text::PathFrom1251(in.PathToPackageFile);
    const fs::path temporary = platform::TempDirectory();

    build_files::RemoveLeftovers(temporary, target.parent_path());
    TWorkDirectory work(temporary);
    const fs::path& dir = work.Path();

    WriteImage(doc, dir / NamePath(package_names::Image), random);
    checkStop();

    if (agreement) CopyInto(*agreement, dir / NamePath(package_names::Agreement));
    if (description) CopyInto(*description, dir / NamePath(package_names::Description));

    TPendingFile package(build_files::PendingPathFor(target));
    {
        zip::TZipWriter writer;
        UseRandomSource(writer, random);
        CreateNextToTarget(writer, package.Path(), target);
        writer.SetBaseDirectory(dir);
        // An empty field made no copy: that entry is left out and the
        // entries after it move up.
        if (agreement) RequireFile(dir, package_names::Agreement, false);
        writer.AddFile(package_names::Agreement, false);
        if (description) RequireFile(dir, package_names::Description, false);
        writer.AddFile(package_names::Description, false);
        RequireFile(dir, package_names::Image, true);
        // Encrypted data: Deflate almost never wins, so the stored entry is
        // written while Deflate only counts beside it.
        writer.AddFile(package_names::Image, true, zip::TZipWriter::TDeflateGuess::DoesNotCompress);
        writer.SetPassword(PackagePassword(in.SerialKey));
        writer.WriteArchive();
    }
    checkStop();
    package.MoveTo(target);
}

}  // namespace

std::string PackagePassword(std::string_view serialKey) {
    return std::string(serialKey.empty() ? kDefaultPackagePassword : serialKey);
}

void WritePackage(const xml::TXmlDDocument& doc, const TAssemblyInput& in,
                  const zip::TZipWriter::TRandomSource& random, const std::function<bool()>& stopRequested) {
    WritePackageFile(doc, in, random, stopRequested);
}

void AssemblePackage(const xml::TXmlDDocument& doc, const TAssemblyInput& in, platform::IClipboard& clipboard,
                     platform::IClock& clock, const zip::TZipWriter::TRandomSource& random,
                     const std::function<bool()>& stopRequested) {
    WritePackage(doc, in, random, stopRequested);
    // The key, not the password: an empty key leaves an empty text, and the
    // default password is never shown to the user.
    platform::PutClipboardText(clipboard, clock, in.SerialKey);
}

}  // namespace package
