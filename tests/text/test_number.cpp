#include <gtest/gtest.h>

#include "text/Error.h"
#include "text/Number.h"

namespace {

std::string ErrorOf(std::string_view s) {
    try {
        text::StrToInt(s);
    } catch (const text::TError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(StrToInt, AcceptsDecimalAndHexWithLeadingBlanksAndSign) {
    EXPECT_EQ(text::StrToInt("20"), 20);
    EXPECT_EQ(text::StrToInt("   +41"), 41);
    EXPECT_EQ(text::StrToInt("-7"), -7);
    EXPECT_EQ(text::StrToInt("007"), 7);
    EXPECT_EQ(text::StrToInt("$1F"), 31);
    EXPECT_EQ(text::StrToInt("x1f"), 31);
    EXPECT_EQ(text::StrToInt("X10"), 16);
    EXPECT_EQ(text::StrToInt("0x10"), 16);
    EXPECT_EQ(text::StrToInt("0X10"), 16);
    EXPECT_EQ(text::StrToInt("-$10"), -16);
    EXPECT_EQ(text::StrToInt("0"), 0);
}

TEST(StrToInt, CoversExactlyThe32BitRange) {
    EXPECT_EQ(text::StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(text::StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(text::StrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(text::StrToInt("$80000000"), -2147483647 - 1);
    EXPECT_EQ(ErrorOf("2147483648"), "'2147483648' is not a valid integer value");
    EXPECT_EQ(ErrorOf("-2147483649"), "'-2147483649' is not a valid integer value");
    EXPECT_EQ(ErrorOf("$100000000"), "'$100000000' is not a valid integer value");
    EXPECT_EQ(ErrorOf("99999999999999999999999"), "'99999999999999999999999' is not a valid integer value");
}

TEST(StrToInt, RejectsEverythingElseNamingTheWholeText) {
    for (std::string_view bad : {"", " ", "+", "-", "$", "0x", "12 ", "1 2", "\t5", "1e3", "0x1G", "--1", "12a", "1,5"})
        EXPECT_EQ(ErrorOf(bad), "'" + std::string(bad) + "' is not a valid integer value") << bad;
}
