#include <gtest/gtest.h>

#include <memory>

#include "Fakes.h"
#include "designer/ClipboardItems.h"
#include "package/PackageDocument.h"
#include "text/Error.h"

TEST(ClipboardItem, TextEndsBeforeTheFirstZeroByteAndNeverPassesTheBlock) {
    EXPECT_EQ(designer::ClipboardItemText("ab\0cd", 5), "ab");
    EXPECT_EQ(designer::ClipboardItemText("\0x", 2), "");
    EXPECT_EQ(designer::ClipboardItemText("", 0), "");
    // A block without a zero byte: exactly its size, on the heap, so a read
    // past it is caught by the address sanitizer.
    std::unique_ptr<char[]> block(new char[3]{'a', 'b', 'c'});
    EXPECT_EQ(designer::ClipboardItemText(block.get(), 3), "abc");
    // UTF-16 text in Latin letters stops after its first letter.
    EXPECT_EQ(designer::ClipboardItemText("H\0i\0\0\0", 6), "H");
}

TEST(ClipboardItem, ItemsFollowTheListAndStopAtTheFirstMissingFormat) {
    fakes::TFakeClock clock;
    fakes::TFakeClipboard clipboard(clock);
    clipboard.Put({{"CF_TEXT", std::string("a<b\0junk", 8)},
                   {"CF_UNICODETEXT", std::string("\x21\x04\x00\x00", 4)},
                   {"1C:MD8 External Data", "e"},
                   {"1C:MD8 Info", "i"}});
    package::TPackageDocument package;
    package::SetUpPackageDocument(package);
    xml::TXmlDElement* object = package::AddChildElement("AddObject", package.Directories);

    const std::vector<std::string> formats = {"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data",
                                              "1C:MD8 Info"};
    EXPECT_FALSE(designer::AddClipboardItems(clipboard, clock, object, formats));
    EXPECT_EQ(object->GetXml(),
              "<AddObject><Item FormatName=\"CF_TEXT\">a&lt;b</Item>"
              "<Item FormatName=\"CF_UNICODETEXT\">\x21\x04</Item></AddObject>");
    EXPECT_EQ(clipboard.reads, (std::vector<std::string>{"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data"}));
    EXPECT_FALSE(clipboard.isOpen);

    xml::TXmlDElement* other = package::AddChildElement("AddObject", package.Directories);
    EXPECT_TRUE(designer::AddClipboardItems(clipboard, clock, other, {}));
    EXPECT_FALSE(other->HasChildNodes());
    // A zero byte first gives an item with an empty text.
    clipboard.Put({{"1C:MD8 Data", std::string("\0z", 2)}});
    EXPECT_TRUE(designer::AddClipboardItem(clipboard, clock, "1C:MD8 Data", other));
    EXPECT_EQ(other->GetXml(), "<AddObject><Item FormatName=\"1C:MD8 Data\"></Item></AddObject>");
}

TEST(ClipboardItem, BusyClipboardIsTriedAgainForAboutASecondThenReported) {
    fakes::TFakeClock clock;
    fakes::TFakeClipboard clipboard(clock);
    clipboard.Put({{"CF_TEXT", "t"}});
    package::TPackageDocument package;
    package::SetUpPackageDocument(package);

    clipboard.failOpens = 5;
    const std::uint64_t start = clock.now;
    EXPECT_TRUE(designer::AddClipboardItem(clipboard, clock, "CF_TEXT", package.Root));
    EXPECT_EQ(clipboard.openAttempts, 6);
    EXPECT_LT(clock.now - start, 100u);

    clipboard.failOpens = 1'000'000;
    const std::uint64_t busyStart = clock.now;
    try {
        designer::AddClipboardItem(clipboard, clock, "CF_TEXT", package.Subsystems);
        FAIL() << "a clipboard that never opens must raise an error";
    } catch (const text::TError& e) {
        EXPECT_STREQ(e.what(), "Cannot open clipboard");
    }
    EXPECT_GE(clock.now - busyStart, 1000u);
    EXPECT_LT(clock.now - busyStart, 1100u);
    EXPECT_FALSE(package.Subsystems->HasChildNodes());
    EXPECT_FALSE(clipboard.isOpen);
}
