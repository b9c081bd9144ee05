#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include "Fakes.h"
#include "tests/package/ReportTestUtil.h"
#include "text/Codepage.h"
#include "text/Error.h"

using namespace text::literals;
using fakes::TEvent;

namespace {

const std::string kAddObject = "AddObject";

// A literal's bytes as a string. (Declarations initialised straight from a
// _cp1251 literal crash clang 14's front end; a call does not.)
std::string Bytes(std::string_view bytes) { return std::string(bytes); }

// What the tree receives to reach the top: ten VK_LEFT, one VK_RIGHT.
std::vector<TEvent> TreeToTop() {
    std::vector<TEvent> events(10, TEvent{TEvent::KeyDown, 37});
    events.push_back({TEvent::KeyDown, 39});
    return events;
}

// WM_CHAR of every byte of one tree level's name, then VK_RIGHT unless last.
void TypeLevel(std::vector<TEvent>& events, std::string_view name1251, bool last = false) {
    for (char c : name1251) events.push_back({TEvent::Char, static_cast<unsigned char>(c)});
    if (!last) events.push_back({TEvent::KeyDown, 39});
}

void CtrlInsert(std::vector<TEvent>& events) {
    events.push_back({TEvent::KeyPress, 17});
    events.push_back({TEvent::KeyPress, 45});
    events.push_back({TEvent::KeyRelease, 45});
    events.push_back({TEvent::KeyRelease, 17});
}

std::string LogLine(std::string_view path, bool ok) {
    return std::string("Захват объекта для добавления ("_cp1251) + std::string(path) +
           std::string(ok ? ") - УСПЕХ"_cp1251 : ") - ОШИБКА"_cp1251);
}

std::vector<std::string> ItemFormats(const xml::TXmlDNode* object) {
    std::vector<std::string> names;
    for (const xml::TXmlDNode* item = object->FirstChild(); item; item = item->NextSibling())
        names.push_back(item->Attributes()->FindNamedItem("FormatName")->GetNodeValue());
    return names;
}

std::string ObjectPathOf(const xml::TXmlDNode* object) {
    return object->Attributes()->FindNamedItem("ObjectPath")->GetNodeValue();
}

const std::vector<std::string> kFiveFormats = {"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data",
                                               "1C:MD8 Info"};

}  // namespace

TEST(ObjectCapture, TypesTheTreePathAndStoresTheFormatsOfEachKind) {
    struct TCase {
        std::string_view path;
        std::array<std::string_view, 4> levels;  // the tree path's levels, typed one by one; empty: none
        xml::TXmlDElement* package::TPackageDocument::*section;
        bool sixthFormat;
    };
    const TCase cases[] = {
        {"Справочник.Склады"_cp1251, {"Справочники"_cp1251, "Склады"_cp1251}, &package::TPackageDocument::Directories, true},
        {"Справочник.Склады.Реквизит.Адрес"_cp1251,
         {"Справочники"_cp1251, "Склады"_cp1251, "Реквизит"_cp1251, "Адрес"_cp1251},
         &package::TPackageDocument::Directories, false},
        {"ОбщийМодуль.Сервис"_cp1251, {"Общие"_cp1251, "Общие модули"_cp1251, "Сервис"_cp1251},
         &package::TPackageDocument::CommonModules, true},
        {"Подсистема.Склад"_cp1251, {"Общие"_cp1251, "Подсистемы"_cp1251, "Склад"_cp1251},
         &package::TPackageDocument::Subsystems, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(text::Cp1251ToUtf8(c.path));
        fakes::TCaptureRig rig;
        EXPECT_TRUE(rig.capture.ExecuteCommand(kAddObject, std::string(c.path)));

        std::vector<TEvent> expected = {{TEvent::Layout, 0}};
        for (const TEvent& e : TreeToTop()) expected.push_back(e);
        std::string treePath;
        const std::size_t count = std::count_if(c.levels.begin(), c.levels.end(), [](auto l) { return !l.empty(); });
        for (std::size_t i = 0; i < count; ++i) {
            TypeLevel(expected, c.levels[i], i + 1 == count);
            treePath += (i ? "." : "") + std::string(c.levels[i]);
        }
        CtrlInsert(expected);
        EXPECT_EQ(rig.designer.events, expected);
        EXPECT_EQ(rig.designer.layout, "00000419");

        xml::TXmlDElement* section = rig.package.*(c.section);
        ASSERT_EQ(section->ChildNodes()->Count(), 1);
        const xml::TXmlDNode* object = section->FirstChild();
        EXPECT_EQ(object->NodeName(), "AddObject");
        EXPECT_EQ(ObjectPathOf(object), treePath);
        std::vector<std::string> formats = kFiveFormats;
        if (c.sixthFormat) formats.push_back("1C:V8MngCmdObjectsDataFormat");
        EXPECT_EQ(ItemFormats(object), formats);
        // Each item holds its own format's data up to the zero byte.
        EXPECT_EQ(object->LastChild()->GetText(), formats.back() + "|" + treePath);
        EXPECT_EQ(rig.log.lines, std::vector<std::string>{LogLine(c.path, true)});
    }
}

TEST(ObjectCapture, SendsCyrillicAsWindows1251CodesAndTheBlankAs32) {
    fakes::TCaptureRig rig;
    rig.capture.ExecuteCommand(kAddObject, std::string("ОбщийМодуль.Сервис"_cp1251));
    std::vector<int> chars;
    for (const TEvent& e : rig.designer.events)
        if (e.Kind == TEvent::Char) chars.push_back(e.Value);
    // "Общие", "Общие модули", "Сервис": О = 0xCE, б = 0xE1, blank = 32, С = 0xD1.
    ASSERT_EQ(chars.size(), 5u + 12u + 6u);
    EXPECT_EQ(chars[0], 0xCE);
    EXPECT_EQ(chars[1], 0xE1);
    EXPECT_EQ(chars[10], 32);
    EXPECT_EQ(chars[17], 0xD1);
}

TEST(ObjectCapture, MissingFormatKeepsTheEarlierItemsAndFails) {
    fakes::TCaptureRig rig;
    rig.designer.dropFormats = {"1C:MD8 External Data"};
    const std::string path = Bytes("Справочник.Склады"_cp1251);
    EXPECT_FALSE(rig.capture.ExecuteCommand(kAddObject, path));

    const xml::TXmlDNode* object = rig.package.Directories->FirstChild();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(ObjectPathOf(object), "Справочники.Склады"_cp1251);
    EXPECT_EQ(ItemFormats(object), (std::vector<std::string>{"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data"}));
    EXPECT_EQ(rig.clipboard.reads.back(), "1C:MD8 External Data");  // "1C:MD8 Info" is never read
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{LogLine(path, false)});
    EXPECT_FALSE(rig.clipboard.isOpen);
}

TEST(ObjectCapture, PathOfNoKnownKindFailsWithoutTouchingTheTreeOrTheDocument) {
    fakes::TCaptureRig rig;
    const std::string before = rig.package.Document->GetXml();
    const std::string path = Bytes("Документ.Заказ"_cp1251);
    // The message names the object and what a package carries; no delay is blamed.
    try {
        rig.capture.ExecuteCommand(kAddObject, path);
        ADD_FAILURE() << "an object of a kind the package cannot carry must raise an error";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Объект Документ.Заказ не может войти в пакет: пакет переносит только подсистемы, общие модули, "
                  "справочники и обработки (и их части).\r\n"
                  "Исключите этот объект из отчета о сравнении и повторите попытку"_cp1251);
    }
    EXPECT_EQ(rig.designer.events, (std::vector<TEvent>{{TEvent::Layout, 0}}));
    EXPECT_EQ(rig.package.Document->GetXml(), before);
    EXPECT_EQ(rig.log.lines, std::vector<std::string>{LogLine(path, false)});
}

TEST(ObjectCapture, OtherCommandOrBadDelayOnlyActivatesTheLayout) {
    fakes::TCaptureRig rig;
    const std::string before = rig.package.Document->GetXml();
    const std::string path = Bytes("Справочник.Склады"_cp1251);
    EXPECT_FALSE(rig.capture.ExecuteCommand("addobject", path));
    EXPECT_FALSE(rig.capture.ExecuteCommand("RemoveObject", path));
    EXPECT_EQ(rig.designer.events, (std::vector<TEvent>{{TEvent::Layout, 0}, {TEvent::Layout, 0}}));

    rig.delay.text = "2O";
    try {
        rig.capture.ExecuteCommand(kAddObject, path);
        FAIL() << "a bad delay text must raise an error";
    } catch (const text::TError& e) {
        EXPECT_STREQ(e.what(), "'2O' is not a valid integer value");
    }
    EXPECT_EQ(rig.designer.events.size(), 3u);
    EXPECT_EQ(rig.designer.events.back(), (TEvent{TEvent::Layout, 0}));
    EXPECT_EQ(rig.package.Document->GetXml(), before);
    EXPECT_TRUE(rig.log.lines.empty());
}

TEST(ObjectCapture, CopyThatHasNotArrivedWithinTheDelayFailsInsteadOfStoringOldData) {
    fakes::TCaptureRig rig;
    ASSERT_TRUE(rig.capture.ExecuteCommand(kAddObject, std::string("Справочник.Склады"_cp1251)));

    // The clipboard still holds all formats of Склады when the delay ends.
    rig.designer.latencyMs = 50;
    const std::string path = Bytes("Справочник.Товары"_cp1251);
    const std::uint64_t start = rig.clock.now;
    EXPECT_FALSE(rig.capture.ExecuteCommand(kAddObject, path));
    EXPECT_GE(rig.clock.now - start, 20u);
    EXPECT_LE(rig.clock.now - start, 22u);

    const xml::TXmlDNode* object = rig.package.Directories->LastChild();
    EXPECT_EQ(ObjectPathOf(object), "Справочники.Товары"_cp1251);
    EXPECT_FALSE(object->HasChildNodes());
    EXPECT_EQ(rig.log.lines.back(), LogLine(path, false));

}

TEST(ObjectCapture, ClipboardHeldWhenTheDelayEndsGetsTheUsualOpenRetry) {
    fakes::TCaptureRig rig;
    // The copy is there in time, but a clipboard manager holds the clipboard
    // for a moment when the delay ends: the capture still succeeds.
    rig.designer.latencyMs = 5;
    rig.designer.holdMs = 300;
    const std::string path = Bytes("Подсистема.Склад"_cp1251);
    EXPECT_TRUE(rig.capture.ExecuteCommand(kAddObject, path));
    EXPECT_EQ(ItemFormats(rig.package.Subsystems->LastChild()), kFiveFormats);
    EXPECT_EQ(rig.log.lines.back(), LogLine(path, true));

    // A clipboard that never comes free: "Cannot open clipboard", no log line.
    rig.designer.holdMs = 60'000;
    try {
        rig.capture.ExecuteCommand(kAddObject, path);
        FAIL() << "a clipboard held for ever must raise an error";
    } catch (const text::TError& e) {
        EXPECT_STREQ(e.what(), "Cannot open clipboard");
    }
    EXPECT_EQ(rig.log.lines.size(), 1u);
    EXPECT_FALSE(rig.clipboard.isOpen);
}

TEST(ObjectCapture, CoarseClockNeverEndsTheWaitBeforeTheDelayHasPassed) {
    // A clock that moves in 16 ms steps and a Sleep(1) that lasts up to the
    // next step, started at every point within a step.
    struct TCase {
        const char* delay;
        std::uint64_t latencyMs;
    };
    for (const TCase c : {TCase{"10", 5}, TCase{"20", 18}, TCase{"20", 19}}) {
        for (std::uint64_t phase = 0; phase < 16; ++phase) {
            SCOPED_TRACE(std::string(c.delay) + " ms, latency " + std::to_string(c.latencyMs) + ", phase " +
                         std::to_string(phase));
            fakes::TCaptureRig rig;
            rig.clock.stepMs = 16;
            rig.clock.now = 16 * 1000 + phase;
            rig.delay.text = c.delay;
            rig.designer.latencyMs = c.latencyMs;
            EXPECT_TRUE(rig.capture.ExecuteCommand(kAddObject, Bytes("Подсистема.Склад"_cp1251)));

            // A copy that never comes is declared missing only after the
            // whole delay in real time.
            rig.designer.latencyMs = 100'000;
            const std::uint64_t start = rig.clock.now;
            EXPECT_FALSE(rig.capture.ExecuteCommand(kAddObject, Bytes("Подсистема.Склад2"_cp1251)));
            EXPECT_GE(rig.clock.now - start, std::stoul(c.delay));
        }
    }
}

TEST(ObjectCapture, InstantCopyAndFormatsPostedOneAtATimeAreBothCaught) {
    // A Designer with no latency at all: the copy is already there when the
    // keystroke returns.
    fakes::TCaptureRig rig;
    rig.designer.latencyMs = 0;
    EXPECT_TRUE(rig.capture.ExecuteCommand(kAddObject, Bytes("Подсистема.Склад"_cp1251)));
    EXPECT_EQ(ItemFormats(rig.package.Subsystems->LastChild()), kFiveFormats);

    // The formats arrive one by one, each changing the clipboard: the first
    // change is not yet the copy.
    rig.designer.latencyMs = 2;
    rig.designer.formatGapMs = 2;
    EXPECT_TRUE(rig.capture.ExecuteCommand(kAddObject, Bytes("Справочник.Склады"_cp1251)));
    std::vector<std::string> six = kFiveFormats;
    six.push_back("1C:V8MngCmdObjectsDataFormat");
    EXPECT_EQ(ItemFormats(rig.package.Directories->LastChild()), six);
}

TEST(ObjectCapture, QuickDesignerCostsLessThanTheDelayAndAHeldClipboardIsWaitedFor) {
    fakes::TCaptureRig rig;
    rig.delay.text = "500";
    rig.designer.latencyMs = 3;
    std::uint64_t start = rig.clock.now;
    EXPECT_TRUE(rig.capture.ExecuteCommand(kAddObject, std::string("Подсистема.Склад"_cp1251)));
    EXPECT_GE(rig.clock.now - start, 3u);
    EXPECT_LT(rig.clock.now - start, 10u);

    // Without a sequence number to watch, the whole delay is waited.
    rig.clipboard.untracked = true;
    start = rig.clock.now;
    EXPECT_TRUE(rig.capture.ExecuteCommand(kAddObject, Bytes("Подсистема.Склад1"_cp1251)));
    EXPECT_GE(rig.clock.now - start, 500u);
    EXPECT_LE(rig.clock.now - start, 502u);
    rig.clipboard.untracked = false;

    // The Designer keeps the clipboard open while it puts the formats there.
    rig.designer.holdMs = 40;
    start = rig.clock.now;
    EXPECT_TRUE(rig.capture.ExecuteCommand(kAddObject, std::string("Подсистема.Склад2"_cp1251)));
    EXPECT_GE(rig.clock.now - start, 43u);
    EXPECT_LT(rig.clock.now - start, 50u);
    EXPECT_EQ(ItemFormats(rig.package.Subsystems->LastChild()), kFiveFormats);
    EXPECT_EQ(rig.package.Subsystems->LastChild()->FirstChild()->GetText(),
              "CF_TEXT|" + std::string("Общие.Подсистемы.Склад2"_cp1251));
}

TEST(ObjectCapture, BuildRenewsTheDocumentBeforeOpeningTheReport) {
    fakes::TCaptureRig rig;
    ASSERT_TRUE(rig.capture.ExecuteCommand(kAddObject, Bytes("Подсистема.Склад"_cp1251)));
    const designer::TCapturePorts ports{rig.designer, rig.designer, rig.clock, rig.clipboard, rig.delay, rig.log};
    try {
        designer::CaptureReportObjects(rig.package, "", ports);
        FAIL() << "a missing report must raise an error";
    } catch (const text::TError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    EXPECT_FALSE(rig.package.Subsystems->HasChildNodes());
    EXPECT_EQ(rig.package.Root->ChildNodes()->Count(), 4);
}

TEST(CaptureReportObjects, WorkedExampleBuildsTheWholeDocument) {
    fakes::TCaptureRig rig;
    const std::filesystem::path report = std::filesystem::path(::testing::TempDir()) / "worked_example.txt";
    std::ofstream(report, std::ios::binary) << text::Utf8ToCp1251(reporttest::kWorkedExample);
    // A document of an earlier build is replaced, not added to.
    package::AddChildElement("AddObject", rig.package.Subsystems);
    const package::TWalkResult result = designer::CaptureReportObjects(rig.package, text::PathTo1251(report),
                                                                       {rig.designer, rig.designer, rig.clock,
                                                                        rig.clipboard, rig.delay, rig.log});
    ASSERT_TRUE(result.Completed);
    EXPECT_EQ(result.Captured, 4);

    const auto item = [](std::string_view format, std::string_view treePath) {
        return "<Item FormatName=\"" + std::string(format) + "\">" + std::string(format) + "|" +
               text::Utf8ToCp1251(treePath) + "</Item>";
    };
    const auto object = [&item](std::string_view treePath, bool sixth) {
        std::string xml = "<AddObject ObjectPath=\"" + text::Utf8ToCp1251(treePath) + "\">";
        for (std::string_view f : package::kCommonFormats) xml += item(f, treePath);
        if (sixth) xml += item("1C:V8MngCmdObjectsDataFormat", treePath);
        return xml + "</AddObject>";
    };
    const std::string expected =
        "<1C8InstallationPackage copyright=\"" + std::string(package::kCopyrightText) + "\">" +
        "<CommonModules>" + object("Общие.Общие модули.Сервис", true) + "</CommonModules>" +
        "<Directories>" + object("Справочники.Склады", true) + "</Directories>" +
        "<Processings>" + object("Обработки.Загрузка.Форма.Основная", true) + "</Processings>" +
        "<Subsystems>" + object("Общие.Подсистемы.Склад", false) + "</Subsystems>" +
        "</1C8InstallationPackage>";
    EXPECT_EQ(rig.package.Document->GetXml(), expected);
    ASSERT_EQ(rig.log.lines.size(), 4u);
    EXPECT_EQ(rig.log.lines[2], text::Utf8ToCp1251("Захват объекта для добавления (ОбщийМодуль.Сервис) - УСПЕХ"));
}

namespace {

// The data of each Item of `object`, in order.
std::vector<std::string> ItemTexts(const xml::TXmlDNode* object) {
    std::vector<std::string> texts;
    for (const xml::TXmlDNode* item = object->FirstChild(); item; item = item->NextSibling())
        texts.push_back(item->GetText());
    return texts;
}

// Another program's copy of the same formats, each "other|<format>".
fakes::TContents OtherCopy() {
    fakes::TContents contents;
    for (const char* f : {"CF_TEXT", "CF_UNICODETEXT", "1C:MD8 Data", "1C:MD8 External Data", "1C:MD8 Info",
                          "1C:V8MngCmdObjectsDataFormat"})
        contents[f] = std::string("other|") + f;
    return contents;
}

}  // namespace

TEST(ObjectCapture, EveryFormatIsReadInOneOpeningOfOneCopy) {
    const std::string path = Bytes("Справочник.Склады"_cp1251);
    const std::string tree = Bytes("Справочники.Склады"_cp1251);
    const std::vector<std::string> designerCopy = {
        "CF_TEXT|" + tree, "CF_UNICODETEXT|" + tree, "1C:MD8 Data|" + tree, "1C:MD8 External Data|" + tree,
        "1C:MD8 Info|" + tree, "1C:V8MngCmdObjectsDataFormat|" + tree};
    const std::vector<std::string> otherCopy = {"other|CF_TEXT", "other|CF_UNICODETEXT", "other|1C:MD8 Data",
                                                "other|1C:MD8 External Data", "other|1C:MD8 Info",
                                                "other|1C:V8MngCmdObjectsDataFormat"};

    // A program that takes the clipboard as soon as the capture lets go of it
    // once: with an opening per format, the later formats were its copy.
    fakes::TCaptureRig rig;
    rig.clipboard.replaceAfterClose = 1;
    rig.clipboard.replacement = OtherCopy();
    ASSERT_TRUE(rig.capture.ExecuteCommand(kAddObject, path));
    EXPECT_EQ(ItemTexts(rig.package.Directories->FirstChild()), designerCopy);
    EXPECT_EQ(rig.clipboard.openAttempts, 1);
    EXPECT_EQ(rig.clipboard.ownerQuestions, 1) << "the owner is asked once, before the read";

    // A copy replaced between the look that found it whole and the opening:
    // the new one is looked at again and read whole, never a mix of both.
    fakes::TCaptureRig replaced;
    replaced.clipboard.replaceBeforeOpen = 1;
    replaced.clipboard.replacement = OtherCopy();
    ASSERT_TRUE(replaced.capture.ExecuteCommand(kAddObject, path));
    EXPECT_EQ(ItemTexts(replaced.package.Directories->FirstChild()), otherCopy);
    EXPECT_EQ(replaced.clipboard.openAttempts, 2);

    // Replaced by a copy that is never whole: the delay ends with a message
    // that says the clipboard changed, not that the delay was short.
    fakes::TCaptureRig partial;
    partial.clipboard.replaceBeforeOpen = 1;
    partial.clipboard.replacement = {{"CF_TEXT", "other"}};
    try {
        partial.capture.ExecuteCommand(kAddObject, path);
        ADD_FAILURE() << "a clipboard replaced while it was read must raise an error";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Буфер обмена изменился во время чтения объекта Справочник.Склады: его данные могли смешаться "
                  "с другой копией. Пакет не сформирован.\r\nЗакройте программы, которые работают с буфером "
                  "обмена (менеджеры буфера обмена, удаленный рабочий стол), и повторите попытку"_cp1251);
    }
    EXPECT_EQ(partial.log.lines, std::vector<std::string>{LogLine(path, false)});
    EXPECT_FALSE(partial.clipboard.isOpen);

    // A new copy by the same owner (the sequence number alone tells it).
    fakes::TCaptureRig sameOwner;
    sameOwner.clipboard.replaceBeforeOpen = 1;
    sameOwner.clipboard.replacement = {{"CF_TEXT", "again"}};
    sameOwner.clipboard.replacementOwner = platform::fakes::TFakeClipboard::kDesignerWindow;
    EXPECT_THROW(sameOwner.capture.ExecuteCommand(kAddObject, path), text::TError);
    EXPECT_EQ(sameOwner.package.Directories->FirstChild()->FirstChild(), nullptr) << "no item of either copy is stored";
}

TEST(ObjectCapture, OwnerThatDoesNotAnswerIsNotRespondingNotAShortDelay) {
    const std::string path = Bytes("Подсистема.Склад"_cp1251);
    // Slow but alive: silent for 2 s of a 3 s bound, then the copy is read.
    fakes::TCaptureRig slow;
    slow.clipboard.ownerSilentUntil = slow.clock.now + 2000;
    designer::TCapturePorts ports{slow.designer, slow.designer, slow.clock, slow.clipboard, slow.delay, slow.log,
                                  nullptr, {3000, {}}};
    designer::TObjectCapture slowCapture(slow.package, ports);
    EXPECT_TRUE(slowCapture.ExecuteCommand(kAddObject, path));
    EXPECT_GE(slow.clock.now, slow.clipboard.ownerSilentUntil);

    // Silent beyond the bound: the Designer does not respond; nothing is read.
    fakes::TCaptureRig hung;
    hung.clipboard.ownerSilentUntil = hung.clock.now + 60000;
    const std::uint64_t start = hung.clock.now;
    designer::TCapturePorts hungPorts{hung.designer, hung.designer, hung.clock, hung.clipboard, hung.delay, hung.log,
                                      nullptr, {3000, {}}};
    designer::TObjectCapture hungCapture(hung.package, hungPorts);
    try {
        hungCapture.ExecuteCommand(kAddObject, path);
        ADD_FAILURE() << "an owner that never answers must raise an error";
    } catch (const text::TError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Конфигуратор не отвечает. Пакет не сформирован, прежний файл пакета не изменен.\r\n"
                  "Дождитесь, когда Конфигуратор освободится, и повторите попытку"_cp1251);
    }
    EXPECT_TRUE(hung.clipboard.reads.empty());
    EXPECT_LE(hung.clock.now - start, 3000u + 20 + 400) << "the bound, the delay and one more wait at most";
}
