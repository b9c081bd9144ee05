// The Designer takes each WM_CHAR code in the input language of the sending
// thread, so the Russian layout must be active before the first character of
// every command, also when the user switched layouts between two commands.
// (Under Wine the layout makes no visible difference, so this is checked
// here, on the ports.)
#include <gtest/gtest.h>

#include <algorithm>

#include "Fakes.h"
#include "text/Codepage.h"

using namespace text::literals;
using fakes::TEvent;

TEST(CaptureLayout, EveryCommandActivatesTheRussianLayoutBeforeItsFirstCharacter) {
    fakes::TCaptureRig rig;
    rig.delay.text = "100";
    struct TCall {
        std::string command;
        std::string path;
        bool typed;  // the call reaches the tree
    };
    const TCall calls[] = {
        {"AddObject", std::string("Справочник.Склады"_cp1251), true},
        {"AddObject", std::string("ОбщийМодуль.Сервис"_cp1251), true},
        {"RemoveObject", std::string("Справочник.Склады"_cp1251), false},
        {"AddObject", std::string("Справочник.Склады.Реквизит.Адрес"_cp1251), true},
    };
    for (const TCall& call : calls) {
        SCOPED_TRACE(call.command + " " + text::Cp1251ToUtf8(call.path));
        rig.designer.layout = "00000409";  // the user switched to English in between
        rig.designer.events.clear();
        rig.capture.ExecuteCommand(call.command, call.path);
        EXPECT_EQ(rig.designer.layout, "00000419");
        ASSERT_FALSE(rig.designer.events.empty());
        EXPECT_EQ(rig.designer.events.front(), (TEvent{TEvent::Layout, 0}));
        const auto& events = rig.designer.events;
        EXPECT_EQ(std::count(events.begin(), events.end(), TEvent{TEvent::Layout, 0}), 1);
        const bool typed = std::any_of(events.begin(), events.end(), [](const TEvent& e) { return e.Kind == TEvent::Char; });
        EXPECT_EQ(typed, call.typed);
    }
}
