#pragma once
// The last stage of a build: turns the finished package data document into
// the package file. The document's text is packed as PackageData.xml into
// the inner archive image.0 under a fixed password, streamed from the
// document into the archive without a file of its own; image.0, the agreement
// text and the description text are packed into the package file under the
// package key; the key then goes to the clipboard.
//
// Every build works in a private directory of its own under the temporary
// directory and removes it at the end, whether the build succeeded or not.
// The package is written next to its target under a temporary name and put
// in place only when it is complete, so a failed build never destroys the
// previous package. Bringing the main form to the front afterwards is the
// caller's job.
//
// Errors are text::TError (message in Windows-1251).

#include <functional>
#include <string>
#include <string_view>

#include "platform/Clipboard.h"
#include "text/Error.h"
#include "text/Literal.h"
#include "xml/XmlDom.h"
#include "zip/ZipWriter.h"

namespace package {

// The four fields of the main form that the assembly reads, as Windows-1251
// text exactly as the user typed or chose them.
struct TAssemblyInput {
    std::string LicensePath;        // the agreement text; empty: no agreement entry
    std::string PathToDescription;  // the description text; empty: no description entry
    std::string PathToPackageFile;  // the package file to write (any name, any extension)
    std::string SerialKey;          // the package key; empty: the default package password
};

// The password of the inner archive image.0, in every package.
inline constexpr std::string_view kImagePassword = "5D2A9E41-7C3B-4F86-A1D0-93E6B2C87F15";
// The password of the package file when the package key is empty. It never
// reaches the clipboard.
inline constexpr std::string_view kDefaultPackagePassword = "E0B47C29-1A6D-4E53-8F92-6C1D05A3B7E8";

// Entry names, Windows-1251. The installer that opens a package looks its
// entries up by these names, so they never change.
namespace package_names {
inline constexpr std::string_view PackageData = "PackageData.xml";  // the only entry of image.0
inline constexpr std::string_view Agreement = text::Cp1251<"Пользовательское соглашение.txt">;
inline constexpr std::string_view Description = text::Cp1251<"Описание пакета.txt">;
inline constexpr std::string_view Image = "image.0";
}  // namespace package_names

// The password of the package file for a package key: the key itself, or
// kDefaultPackagePassword when it is empty.
std::string PackagePassword(std::string_view serialKey);

// Builds the package file of `doc` at in.PathToPackageFile, replacing an
// existing file only once the new one is complete, then puts in.SerialKey on
// `clipboard` (an empty key puts an empty text), waiting on `clock` while
// another program holds the clipboard. The package holds, in this
// order, the agreement, the description and image.0; an empty agreement or
// description field leaves its entry out.
// Raises, before anything is written, `Cannot open file "%s". %s` for an
// agreement or description that cannot be read, and "Archive does not exist
// - Filename is blank" for an empty package path. Raises `Cannot create file
// "%s". %s` when the temporary directory, the package file or a temporary
// file cannot be written, and the system's error when a file the package
// must hold cannot be found or read. On any of these errors the previous
// package and the clipboard are untouched and no temporary file is left.
// The key goes to the clipboard last, once the new package is complete and
// in place: a clipboard error ("Cannot open clipboard") is raised then, with
// the new package kept, because it is sound and the key is still in its field.
// Before it starts, a build removes the private directories and pending
// packages that builds killed earlier left behind (build_files).
// `random` fills the encryption headers' random bytes of both archives
// (empty: the system's CSPRNG). `stopRequested`, when given, is asked once
// image.0 is written and again just before the new package would replace
// the old one; when it answers true the build raises TBuildStopped and
// leaves the previous package, the clipboard and the disk as they were.
void AssemblePackage(const xml::TXmlDDocument& doc, const TAssemblyInput& in, platform::IClipboard& clipboard,
                     platform::IClock& clock, const zip::TZipWriter::TRandomSource& random = {},
                     const std::function<bool()>& stopRequested = {});

// The first half of AssemblePackage: the package file alone, with the same
// errors, the same stop questions and the same guarantees; the clipboard is
// left alone. For a caller that shows the key itself before it puts it on
// the clipboard.
void WritePackage(const xml::TXmlDDocument& doc, const TAssemblyInput& in,
                  const zip::TZipWriter::TRandomSource& random = {},
                  const std::function<bool()>& stopRequested = {});

// The text of a build the user stopped.
inline constexpr std::string_view kBuildStoppedMessage = text::Cp1251<"Формирование пакета остановлено пользователем">;

// Raised by AssemblePackage when `stopRequested` answered true.
class TBuildStopped : public text::TError {
public:
    TBuildStopped() : text::TError(std::string(kBuildStoppedMessage)) {}
};

}  // namespace package
