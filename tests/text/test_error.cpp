#include <gtest/gtest.h>

#include "text/Error.h"
#include "text/Literal.h"

TEST(FileError, KeepsPathAndReasonAsDataAndRenamesWithoutReparsing) {
    const text::TFileError e("Cannot create file \"%s\". %s", "/tmp/x.1a2b.tmp", "No space left on device");
    EXPECT_STREQ(e.what(), "Cannot create file \"/tmp/x.1a2b.tmp\". No space left on device");
    EXPECT_EQ(e.Path(), "/tmp/x.1a2b.tmp");
    EXPECT_EQ(e.Reason(), "No space left on device");

    // A reason that itself holds a quoted path and "%s" is carried over as it is.
    const text::TFileError odd("Cannot open file \"%s\". %s", "a", "bad \"a\". %s");
    const text::TFileError renamed = odd.WithPath("C:\\Пакет.1c82pkg");
    EXPECT_STREQ(renamed.what(), "Cannot open file \"C:\\Пакет.1c82pkg\". bad \"a\". %s");
    EXPECT_EQ(renamed.Pattern(), "Cannot open file \"%s\". %s");
}

TEST(Literal, NamedFormGivesTheSameBytesAsTheLiteral) {
    using namespace text::literals;
    constexpr std::string_view named = text::Cp1251<"Склад ё">;
    EXPECT_EQ(named, std::string_view("\xD1\xEA\xEB\xE0\xE4\x20\xB8"));
    EXPECT_EQ(named, "Склад ё"_cp1251);
}
