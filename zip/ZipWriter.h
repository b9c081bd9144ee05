#pragma once
// Writes a new ZIP archive (PKWARE application note) whose entries are all
// encrypted with the traditional PKWARE cipher under one password. Entries
// are files of one base directory or data written by a callback, deflated or
// stored, streamed one at a time to the archive file and encrypted before
// they reach it: no byte of an entry's data is ever on disk in the clear.
//
//   zip::TZipWriter writer;
//   writer.Create(tmp / "image.0");
//   writer.SetBaseDirectory(tmp);
//   writer.AddFile("PackageData.xml", false);
//   writer.SetPassword(password1251);
//   writer.WriteArchive();
//
// Errors are text::TError. One writer is used by one thread for one archive;
// while it writes a large entry it deflates on all cores (DeflatePipeline.h)
// and has joined those threads again when WriteArchive returns.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "DataSink.h"

namespace zip {

class TZipWriter {
public:
    // Fills `size` bytes at `data`; throws text::TError when it cannot.
    using TRandomSource = std::function<void(void* data, std::size_t size)>;
    // Writes an entry's whole data into the sink. May be called more than
    // once (when the entry is stored after Deflate lost, or rewritten with
    // ZIP64 sizes) and must give the same bytes every time.
    using TEntrySource = std::function<void(TDataSink& sink)>;

    TZipWriter();
    ~TZipWriter();
    TZipWriter(const TZipWriter&) = delete;
    TZipWriter& operator=(const TZipWriter&) = delete;

    // Creates the archive file at once, empty, replacing an existing file.
    // An empty path creates nothing and leaves the writer without an archive.
    // Throws `Cannot create file "%s". %s`.
    void Create(const std::filesystem::path& archivePath);

    // The directory in which AddFile looks names up (empty: the current one).
    void SetBaseDirectory(const std::filesystem::path& directory);

    // What the caller expects of an entry's Deflate attempt. It decides only
    // how the attempt is made, never the archive's bytes: an entry is stored
    // exactly when Deflate does not make it smaller, whatever the guess.
    enum class TDeflateGuess {
        // Deflate, encrypt and write at once; cut back and store if Deflate lost.
        Compresses,
        // Already compressed or encrypted data: one read of the data feeds a
        // Deflate that only counts and, beside it, the stored entry; only if
        // Deflate wins after all is the entry cut back and deflated. Applies
        // to files of more than one Deflate block (kDeflateBlockSize); a
        // smaller one is written as with Compresses.
        DoesNotCompress,
    };

    // Looks `name1251` (Windows-1251) up in the base directory, ignoring case,
    // skipping system files always and hidden files unless `includeHidden`,
    // and appends an entry named as the file is named on disk, taking its
    // last-write time and attributes now. A name that matches nothing adds
    // nothing. Throws "Archive does not exist - Filename is blank" when the
    // writer has no archive.
    void AddFile(std::string_view name1251, bool includeHidden, TDeflateGuess guess = TDeflateGuess::Compresses);

    // Appends an entry named `name1251` (Windows-1251) whose data `source`
    // writes when the archive is written, without a file on disk. The entry
    // looks like a file written at that moment: its time is the moment the
    // entry is written, its attributes those of an ordinary file (archive).
    // Throws like AddFile when the writer has no archive.
    void AddData(std::string_view name1251, TEntrySource source);

    // The password of every entry, as Windows-1251 bytes.
    void SetPassword(std::string password1251);

    // Writes every entry, the central directory and its end record, then
    // closes the file; with no entries the file stays 0 bytes. Afterwards the
    // writer has no archive. On an error the file is cut back to 0 bytes.
    void WriteArchive();

    // Replaces the source of the encryption headers' random bytes (default:
    // platform::FillRandom, the system's CSPRNG). For tests.
    void SetRandomSource(TRandomSource source);

    // The number of threads that deflate a large entry (0, the default: one
    // per core; 1: everything on the calling thread). The archive's bytes do
    // not depend on it.
    void SetThreads(unsigned threads);

    // Starts the archive `offset` bytes into the file, leaving a hole before
    // it; offsets stay absolute from the start of the file. Call before
    // AddFile. For tests of archives that lie beyond 4 GiB.
    void SetStartOffset(std::uint64_t offset);

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace zip
