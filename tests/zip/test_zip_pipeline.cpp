// The parallel Deflate pipeline and what the writer builds on it: streams
// that inflate back whatever the thread count, entries written from a
// callback, no plain data in the archive file at any moment, and the ZIP64
// decision at the edges of its fields.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include <zlib.h>

#include "ZipParse.h"
#include "ZipTestUtil.h"
#include "text/Error.h"
#include "zip/DeflatePipeline.h"
#include "zip/ZipRecords.h"
#include "zip/ZipWriter.h"

using namespace ziptest;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

std::uint32_t Crc(const std::string& s) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

struct TPipelineRun {
    std::string Output;
    zip::TDeflateResult Result;
};

// Feeds `data` to a pipeline of `workers` threads in pieces of `piece` bytes.
TPipelineRun RunPipeline(const std::string& data, unsigned workers, std::size_t piece) {
    TPipelineRun run;
    zip::TDeflatePipeline pipeline(
        [&](unsigned char* p, std::size_t n) { run.Output.append(reinterpret_cast<const char*>(p), n); }, workers);
    for (std::size_t at = 0; at < data.size(); at += piece)
        pipeline.Write(data.data() + at, std::min(piece, data.size() - at));
    run.Result = pipeline.Finish();
    return run;
}

// zlib's raw Deflate of `data` in one call at the default level.
std::string SingleCallDeflate(const std::string& data) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

TEST(DeflatePipeline, StreamsInflateBackAndAreTheSameForAnyThreadCount) {
    // Sizes around the 1 MiB block: empty, one byte, exactly one and two
    // blocks, one byte over, and several blocks of mixed text and noise.
    const std::vector<std::string> inputs = {
        "",
        "x",
        XmlLike(kMiB),
        XmlLike(2 * kMiB),
        XmlLike(kMiB + 1),
        XmlLike(2 * kMiB + 300000) + Noise(kMiB + 12345, 4) + XmlLike(700000),
    };
    for (const std::string& data : inputs) {
        SCOPED_TRACE(data.size());
        const TPipelineRun one = RunPipeline(data, 1, 100003);
        EXPECT_EQ(Inflate(one.Output), data);
        EXPECT_EQ(one.Result.Crc, Crc(data));
        EXPECT_EQ(one.Result.Read, data.size());
        EXPECT_EQ(one.Result.Written, one.Output.size());
        for (unsigned workers : {2u, 5u}) {
            for (std::size_t piece : {std::size_t{4096}, 3 * kMiB}) {
                const TPipelineRun many = RunPipeline(data, workers, piece);
                EXPECT_EQ(many.Output, one.Output) << workers << " workers, pieces of " << piece;
                EXPECT_EQ(many.Result.Crc, one.Result.Crc);
                EXPECT_EQ(many.Result.Read, one.Result.Read);
                EXPECT_EQ(many.Result.Written, one.Result.Written);
            }
        }
    }
}

TEST(DeflatePipeline, AnEntryOfOneBlockIsZlibsSingleCallStream) {
    // Small entries must not pay for the blocks: the same bytes as before.
    const std::string data = XmlLike(kMiB - 1);
    EXPECT_EQ(RunPipeline(data, 4, 65536).Output, SingleCallDeflate(data));
}

TEST(DeflatePipeline, BlocksCompressAsWellAsOneStream) {
    // Each block is primed with the 32 KiB before it, so cutting the data
    // into blocks costs only the few bytes that end each block.
    const std::string data = XmlLike(5 * kMiB + 1234);
    const std::size_t blocks = RunPipeline(data, 3, 65536).Output.size();
    const std::size_t single = SingleCallDeflate(data).size();
    EXPECT_LE(blocks, single + single / 1000);
}

TEST(DeflatePipeline, AFailingStageStopsThePipelineWithItsError) {
    const std::string data = XmlLike(6 * kMiB);
    for (unsigned workers : {1u, 3u}) {
        SCOPED_TRACE(workers);
        int calls = 0;
        zip::TDeflatePipeline pipeline(
            [&](unsigned char*, std::size_t) {
                if (++calls == 2) throw text::TError("Stream write error");
            },
            workers);
        try {
            for (std::size_t at = 0; at < data.size(); at += 65536) pipeline.Write(data.data() + at, 65536);
            pipeline.Finish();
            FAIL() << "the output's error must reach the caller";
        } catch (const text::TError& e) {
            EXPECT_STREQ(e.what(), "Stream write error");
        }
        EXPECT_EQ(calls, 2) << "nothing is handed on after a failure";
    }
    // A source that fails leaves a pipeline with blocks in flight; its
    // destructor must stop and join the stages.
    EXPECT_THROW(
        {
            zip::TDeflatePipeline pipeline([](unsigned char*, std::size_t) {}, 3);
            for (std::size_t at = 0; at < 4 * kMiB; at += 65536) pipeline.Write(data.data() + at, 65536);
            throw std::runtime_error("source failed");
        },
        std::runtime_error);
}

namespace {

// Words that Deflate cannot shrink, each telling where it stands: word i is
// an invertible mix of i, so any 16 bytes of them found anywhere can be
// recognised without searching.
class TPositionNoise {
public:
    static std::uint64_t Mix(std::uint64_t x) {
        x *= kK1;
        x ^= x >> 32;
        x *= kK2;
        x ^= x >> 32;
        return x;
    }
    static std::uint64_t Unmix(std::uint64_t x) {
        x ^= x >> 32;
        x *= Inverse(kK2);
        x ^= x >> 32;
        x *= Inverse(kK1);
        return x;
    }
    // The bytes of words [first, first + count).
    static std::string Words(std::uint64_t first, std::size_t count) {
        std::string s(count * 8, '\0');
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t w = Mix(first + i);
            std::memcpy(s.data() + 8 * i, &w, 8);
        }
        return s;
    }
    // Whether `bytes` holds two consecutive words below `limit` at any offset.
    static bool ContainsRun(const std::string& bytes, std::uint64_t limit) {
        for (std::size_t p = 0; p + 16 <= bytes.size(); ++p) {
            std::uint64_t w, next;
            std::memcpy(&w, bytes.data() + p, 8);
            const std::uint64_t i = Unmix(w);
            if (i >= limit) continue;
            std::memcpy(&next, bytes.data() + p + 8, 8);
            if (next == Mix(i + 1)) return true;
        }
        return false;
    }

private:
    static constexpr std::uint64_t kK1 = 0x9E3779B97F4A7C15ull;
    static constexpr std::uint64_t kK2 = 0xBF58476D1CE4E5B9ull;
    static std::uint64_t Inverse(std::uint64_t odd) {
        std::uint64_t inv = odd;  // Newton's iteration doubles the correct bits
        for (int i = 0; i < 6; ++i) inv *= 2 - odd * inv;
        return inv;
    }
};

class ZipDataEntryTest : public TTempDirTest {};

}  // namespace

TEST(ZipTestNoise, RecognisesItsOwnRunsOnly) {
    // The detector of the next test, checked on its own.
    const std::string words = TPositionNoise::Words(1000, 64);
    EXPECT_TRUE(TPositionNoise::ContainsRun("abc" + words.substr(77, 20) + "xyz", 2000));
    EXPECT_FALSE(TPositionNoise::ContainsRun(words.substr(77, 15), 2000));
    EXPECT_FALSE(TPositionNoise::ContainsRun(XmlLike(100000) + Noise(100000, 3), 1u << 30));
    EXPECT_EQ(SingleCallDeflate(words).size() > words.size(), true) << "the words must not compress";
}

TEST_F(ZipDataEntryTest, NoPlainDataReachesTheArchiveFileWhileAnEntryIsWritten) {
    // 8 MiB of noise (Deflate stores it in blocks, byte for byte), then
    // text, so that Deflate wins. After every MiB the source looks at the
    // archive file as another user of the folder could.
    constexpr std::size_t kWords = 8 * kMiB / 8;
    const fs::path archive = Dir / "out.zip";
    std::string content;
    std::size_t largestSeen = 0;
    bool plainSeen = false;
    zip::TZipWriter writer;
    writer.Create(archive);
    writer.SetThreads(2);
    writer.AddData("data.bin", [&](zip::TDataSink& sink) {
        content.clear();
        for (std::size_t w = 0; w < kWords; w += kMiB / 8) {
            const std::string piece = TPositionNoise::Words(w, kMiB / 8);
            sink.Write(piece.data(), piece.size());
            content += piece;
            const std::string onDisk = ReadAll(archive);
            largestSeen = std::max(largestSeen, onDisk.size());
            plainSeen = plainSeen || TPositionNoise::ContainsRun(onDisk, kWords);
        }
        const std::string text = XmlLike(4 * kMiB);
        sink.Write(text.data(), text.size());
        content += text;
    });
    writer.SetPassword("pw");
    writer.WriteArchive();

    EXPECT_FALSE(plainSeen) << "plain data found in the archive file during the write";
    // The pipeline holds at most 2 x 2 + 2 blocks: most of the noise had
    // reached the file while the source still ran.
    EXPECT_GT(largestSeen, kMiB);
    const std::string bytes = ReadAll(archive);
    EXPECT_FALSE(TPositionNoise::ContainsRun(bytes, kWords));
    const TParsedArchive parsed = ParseArchive(bytes, 0, "pw");
    ASSERT_EQ(parsed.Entries.size(), 1u);
    EXPECT_EQ(parsed.Entries[0].Method, 8);
    EXPECT_EQ(parsed.Entries[0].Content, content);
}

TEST_F(ZipDataEntryTest, LooksLikeAFileWrittenNowAndFallsBackToStoring) {
    // A data entry between two files; text deflates, noise is stored (the
    // source runs a second time then). Both must read back whole.
    Write("before.txt", "first");
    Write("after.txt", "last");
    const std::string text = XmlLike(3 * kMiB + 5);
    const std::string noise = Noise(2 * kMiB + 7, 11);
    int noiseRuns = 0;
    const std::uint32_t before = DosStamp(std::time(nullptr));
    zip::TZipWriter writer;
    writer.Create(Dir / "out.zip");
    writer.SetBaseDirectory(Src);
    writer.AddFile("before.txt", false);
    writer.AddData("PackageData.xml", [&](zip::TDataSink& sink) { sink.Write(text.data(), text.size()); });
    writer.AddData("noise.bin", [&](zip::TDataSink& sink) {
        ++noiseRuns;
        for (std::size_t at = 0; at < noise.size(); at += 65536)
            sink.Write(noise.data() + at, std::min<std::size_t>(65536, noise.size() - at));
    });
    writer.AddFile("after.txt", false);
    writer.SetPassword("pw");
    writer.WriteArchive();
    const std::uint32_t after = DosStamp(std::time(nullptr));

    const TParsedArchive parsed = ParseArchive(ReadAll(Dir / "out.zip"), 0, "pw");
    ASSERT_EQ(parsed.Entries.size(), 4u);
    EXPECT_EQ(parsed.Entries[0].Content, "first");
    EXPECT_EQ(parsed.Entries[3].Content, "last");
    const TParsedEntry& xml = parsed.Entries[1];
    EXPECT_EQ(xml.Name, "PackageData.xml");
    EXPECT_EQ(xml.Method, 8);
    EXPECT_EQ(xml.ExternalAttributes, 0x20u);
    EXPECT_EQ(xml.Crc, Crc(text));
    EXPECT_EQ(xml.UncompressedSize, text.size());
    EXPECT_EQ(xml.Content, text);
    const std::uint32_t stamp = (std::uint32_t{xml.DosDate} << 16) | xml.DosTime;
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(static_cast<unsigned char>(xml.EncryptionHeader[11]), xml.DosTime >> 8);

    const TParsedEntry& stored = parsed.Entries[2];
    EXPECT_EQ(stored.Method, 0);
    EXPECT_EQ(noiseRuns, 2);
    EXPECT_EQ(stored.CompressedSize, noise.size() + 12);
    EXPECT_EQ(stored.Crc, Crc(noise));
    EXPECT_EQ(stored.Content, noise);
}

TEST_F(ZipDataEntryTest, DeflateIsKeptOnATieAndStoredWhenLarger) {
    // zlib turns "zzzzz" into 5 bytes and "zzzz" into 6.
    ASSERT_EQ(SingleCallDeflate("zzzzz").size(), 5u);
    ASSERT_EQ(SingleCallDeflate("zzzz").size(), 6u);
    zip::TZipWriter writer;
    writer.Create(Dir / "out.zip");
    writer.AddData("tie", [](zip::TDataSink& sink) { sink.Write("zzzzz", 5); });
    writer.AddData("larger", [](zip::TDataSink& sink) { sink.Write("zzzz", 4); });
    writer.SetPassword("pw");
    writer.WriteArchive();
    const TParsedArchive parsed = ParseArchive(ReadAll(Dir / "out.zip"), 0, "pw");
    ASSERT_EQ(parsed.Entries.size(), 2u);
    EXPECT_EQ(parsed.Entries[0].Method, 8);
    EXPECT_EQ(parsed.Entries[0].CompressedSize, 5u + 12);
    EXPECT_EQ(parsed.Entries[0].Content, "zzzzz");
    EXPECT_EQ(parsed.Entries[1].Method, 0);
    EXPECT_EQ(parsed.Entries[1].CompressedSize, 4u + 12);
    EXPECT_EQ(parsed.Entries[1].Content, "zzzz");
}

TEST_F(ZipDataEntryTest, ArchiveBytesDoNotDependOnTheThreadCount) {
    const std::string content = XmlLike(2 * kMiB + 100) + Noise(kMiB, 5) + XmlLike(kMiB);
    Write("big.xml", content);
    std::vector<std::string> archives;
    for (unsigned threads : {1u, 4u}) {
        zip::TZipWriter writer;
        writer.SetRandomSource([](void* p, std::size_t n) { std::memset(p, 0x5A, n); });
        writer.Create(Dir / "out.zip");
        writer.SetThreads(threads);
        writer.SetBaseDirectory(Src);
        writer.AddFile("big.xml", false);
        writer.SetPassword("pw");
        writer.WriteArchive();
        archives.push_back(ReadAll(Dir / "out.zip"));
    }
    EXPECT_EQ(archives[0], archives[1]);
    const TParsedArchive parsed = ParseArchive(archives[1], 0, "pw");
    ASSERT_EQ(parsed.Entries.size(), 1u);
    EXPECT_EQ(parsed.Entries[0].Content, content);
}

// Data of more than one Deflate block that the pipeline deflates to exactly
// its own size.
std::string TieOverOneBlock() {
    const std::string noise = Noise(kMiB + 300000, 13);
    auto excess = [&](std::size_t zeros) {
        const std::string data = noise + std::string(zeros, '\0');
        return static_cast<long long>(RunPipeline(data, 1, kMiB).Output.size()) - static_cast<long long>(data.size());
    };
    // More zeros shrink the excess by about one byte each.
    std::size_t low = 0, high = 1u << 16;
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (excess(mid) > 0) low = mid + 1;
        else high = mid;
    }
    EXPECT_EQ(excess(low), 0) << "no tie near " << low << " zero bytes";
    return noise + std::string(low, '\0');
}

TEST_F(ZipDataEntryTest, TheDeflateGuessNeverChangesTheArchive) {
    // Noise that Deflate cannot shrink (stored), text that it can
    // (deflated), and the tie and the near miss of zlib's tiny streams; each
    // entry written with either guess, on one thread and on four.
    const std::vector<std::pair<std::string, std::string>> files = {
        {"noise.bin", Noise(2 * kMiB + 777, 11)},
        {"text.xml", XmlLike(3 * kMiB + 5)},
        {"tie", "zzzzz"},
        {"larger", "zzzz"},
        // Past one block, yet Deflate wins: written stored first, then again.
        {"late.xml", Noise(kMiB - 1000, 12) + XmlLike(3 * kMiB)},
        // Past one block, and Deflate exactly as large as the data: noise
        // (a little larger deflated) and as many zero bytes (much smaller) as
        // make up the difference, found here.
        {"tie.bin", TieOverOneBlock()},
    };
    for (const auto& [name, content] : files) Write(name, content);
    using TGuess = zip::TZipWriter::TDeflateGuess;
    for (unsigned threads : {1u, 4u}) {
        std::vector<std::string> archives;
        for (TGuess guess : {TGuess::Compresses, TGuess::DoesNotCompress}) {
            zip::TZipWriter writer;
            writer.SetRandomSource([](void* p, std::size_t n) { std::memset(p, 0x3C, n); });
            writer.Create(Dir / "out.zip");
            writer.SetThreads(threads);
            writer.SetBaseDirectory(Src);
            for (const auto& [name, content] : files) writer.AddFile(name, false, guess);
            writer.SetPassword("pw");
            writer.WriteArchive();
            archives.push_back(ReadAll(Dir / "out.zip"));
        }
        EXPECT_TRUE(archives[0] == archives[1]) << threads << " threads: the guess changed the archive";
        const TParsedArchive parsed = ParseArchive(archives[1], 0, "pw");
        ASSERT_EQ(parsed.Entries.size(), files.size());
        const int methods[] = {0, 8, 8, 0, 8, 8};
        for (std::size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(parsed.Entries[i].Method, methods[i]) << files[i].first;
            EXPECT_TRUE(parsed.Entries[i].Content == files[i].second) << files[i].first;
        }
    }
}

TEST(ZipZip64Decision, SizesCountTheEncryptionHeader) {
    using zip::EntryZip64ForData;
    constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;
    // A stored (incompressible) entry: data as large as the file. Its
    // compressed size is the data plus 12, and fits below 0xFFFFFFFF only up
    // to a file of 0xFFFFFFF2 bytes.
    EXPECT_FALSE(EntryZip64ForData(0xFFFFFFF2, 0xFFFFFFF2, 0).Sizes);
    for (std::uint64_t size = 0xFFFFFFF3; size <= 0xFFFFFFFE; ++size)
        EXPECT_TRUE(EntryZip64ForData(size, size, 0).Sizes) << std::hex << size;
    // The same files deflated to little: nothing needs ZIP64.
    EXPECT_FALSE(EntryZip64ForData(0xFFFFFFFE, 1000, 0).Sizes);
    // Deflate won by a few bytes only.
    EXPECT_FALSE(EntryZip64ForData(0xFFFFFFFE, 0xFFFFFFF2, 0).Sizes);
    EXPECT_TRUE(EntryZip64ForData(0xFFFFFFFE, 0xFFFFFFF3, 0).Sizes);
    // The uncompressed size alone.
    EXPECT_TRUE(EntryZip64ForData(kMax32, 10, 0).Sizes);
    // The offset is its own field, and the sizes stay out of it.
    EXPECT_FALSE(EntryZip64ForData(10, 10, kMax32 - 1).Any());
    const zip::TEntryZip64 far = EntryZip64ForData(10, 10, kMax32);
    EXPECT_TRUE(far.Offset);
    EXPECT_FALSE(far.Sizes);
    // The end records: entry count and the directory's size and offset.
    EXPECT_FALSE(zip::EndZip64(0xFFFE, kMax32 - 1, kMax32 - 1));
    EXPECT_TRUE(zip::EndZip64(0xFFFF, 0, 0));
    EXPECT_TRUE(zip::EndZip64(0, kMax32, 0));
    EXPECT_TRUE(zip::EndZip64(0, 0, kMax32));
}

TEST_F(ZipDataEntryTest, StreamedEntryBeyondFourGiBIsWrittenAgainWithZip64Sizes) {
    // The header of a streamed entry is written before its size is known,
    // on the guess that it needs no ZIP64; 4 GiB of zeros proves the guess
    // wrong, and the entry must be written again with ZIP64 sizes. About a
    // minute of processor time: run only on request.
    if (!std::getenv("WIZARD_SLOW_TESTS")) GTEST_SKIP() << "set WIZARD_SLOW_TESTS=1 to run";
    constexpr std::uint64_t kSize = (4ull << 30) + 1000;
    const std::string zeros(kMiB, '\0');
    int runs = 0;
    zip::TZipWriter writer;
    writer.Create(Dir / "big.zip");
    writer.AddData("zeros.bin", [&](zip::TDataSink& sink) {
        ++runs;
        for (std::uint64_t done = 0; done < kSize;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), kSize - done));
            sink.Write(zeros.data(), n);
            done += n;
        }
    });
    writer.SetPassword("pw");
    writer.WriteArchive();
    EXPECT_EQ(runs, 2);

    uLong crc = crc32(0, nullptr, 0);
    for (std::uint64_t done = 0; done < kSize;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), kSize - done));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(n));
        done += n;
    }
    const std::string bytes = ReadAll(Dir / "big.zip");
    // Local header: version 45, the size fields marked, the ZIP64 field with both sizes.
    EXPECT_EQ(Le(bytes, 4, 2), 45u);
    EXPECT_EQ(Le(bytes, 8, 2), 8u);
    EXPECT_EQ(Le(bytes, 14, 4), crc);
    EXPECT_EQ(Le(bytes, 18, 4), 0xFFFFFFFFu);
    EXPECT_EQ(Le(bytes, 22, 4), 0xFFFFFFFFu);
    ASSERT_EQ(Le(bytes, 26, 2), 9u);   // "zeros.bin"
    ASSERT_EQ(Le(bytes, 28, 2), 20u);  // the ZIP64 field alone
    EXPECT_EQ(Le(bytes, 39, 2), 0x0001u);
    EXPECT_EQ(Le(bytes, 43, 8), kSize);
    const std::uint64_t compressed = Le(bytes, 51, 8);
    // The descriptor after the data: signature, CRC and 8-byte sizes.
    const std::size_t descriptor = static_cast<std::size_t>(59 + compressed);
    ASSERT_LT(descriptor + 24, bytes.size());
    EXPECT_EQ(Le(bytes, descriptor, 4), 0x08074B50u);
    EXPECT_EQ(Le(bytes, descriptor + 4, 4), crc);
    EXPECT_EQ(Le(bytes, descriptor + 8, 8), compressed);
    EXPECT_EQ(Le(bytes, descriptor + 16, 8), kSize);
    // Info-ZIP unzip checks the CRC of the whole 4 GiB.
    const std::string command = "bash -o pipefail -c \"unzip -p -P pw '" + (Dir / "big.zip").string() +
                                "' zeros.bin | wc -c > '" + (Dir / "count").string() + "'\"";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(std::stoull(ReadAll(Dir / "count")), kSize);
}
