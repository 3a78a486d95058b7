// Number keys by their place on the keyboard, whatever they type, and the modifiers each
// hotkey action allows.

#include "hotkeys/KeyboardMap.h"

#include <gtest/gtest.h>

using namespace kivo::hotkeys;

TEST(KeyboardMap, NumberRowAndTByPositionWithTheirModifiers)
{
    // X keycodes 10 to 18 are the main row's 1 to 9 on every layout; 28 is the US T.
    KeyStroke azertyOne { 0x26 /* & */, 10 };
    EXPECT_EQ(hotkeyCommand(azertyOne), (HotkeyCommand { HotkeyAction::fireSlot, 0 }));
    KeyStroke nine { '9', 18 };
    nine.option = true;
    EXPECT_EQ(hotkeyCommand(nine), (HotkeyCommand { HotkeyAction::assignSlot, 8 }));
    nine.command = true;
    EXPECT_EQ(hotkeyCommand(nine), HotkeyCommand {});
    KeyStroke withControl { '5', 14 };
    withControl.control = true;
    EXPECT_EQ(hotkeyCommand(withControl), HotkeyCommand {});
    // Zero and the keypad's digits (other positions) are no slots; neither is the US 1's text
    // typed at another place.
    EXPECT_EQ(hotkeyCommand({ '0', 19 }), HotkeyCommand {});
    EXPECT_EQ(hotkeyCommand({ '1', 87 }), HotkeyCommand {});
    // T where a US keyboard has it, typed as Z on a German one too; Alt+T is nothing.
    EXPECT_EQ(hotkeyCommand({ 'Z', 28 }), (HotkeyCommand { HotkeyAction::tapTempo, -1 }));
    EXPECT_EQ(hotkeyCommand({ 'T', 52 }), HotkeyCommand {});
    KeyStroke altT { 'T', 28 };
    altT.option = true;
    EXPECT_EQ(hotkeyCommand(altT), HotkeyCommand {});

    // Without positions (a platform that gives none) the key codes decide, keypad digits aside.
    EXPECT_EQ(hotkeyCommand({ '3', 0 }), (HotkeyCommand { HotkeyAction::fireSlot, 2 }));
    KeyStroke keypad { '3', 0 };
    keypad.keypad = true;
    EXPECT_EQ(hotkeyCommand(keypad), HotkeyCommand {});
    EXPECT_EQ(hotkeyCommand({ 'T', 0 }), (HotkeyCommand { HotkeyAction::tapTempo, -1 }));
}
