// Number keys by their place on the keyboard, whatever they type, and the modifiers each
// hotkey action allows.

#include "hotkeys/KeyboardMap.h"

#include <gtest/gtest.h>

using namespace kivo::hotkeys;

TEST(KeyboardMap, NumberRowAndTByPositionWithTheirModifiers)
{
    // X keycodes 10 to 18 are the main row's 1 to 9 on every layout; 28 is the US T.
    const HotkeyCommand none, tap { HotkeyAction::tapTempo, -1 };
    const std::pair<KeyStroke, HotkeyCommand> cases[] {
        { { 0x26 /* & on AZERTY */, 10 }, { HotkeyAction::fireSlot, 0 } },
        { { .key = '9', .positionCode = 18, .option = true }, { HotkeyAction::assignSlot, 8 } },
        { { .key = '9', .positionCode = 18, .command = true, .option = true }, none },
        { { .key = '5', .positionCode = 14, .control = true }, none },
        // Zero and the keypad's digits (other positions) are no slots; neither is the US 1's text
        // typed at another place.
        { { '0', 19 }, none },
        { { '1', 87 }, none },
        // T where a US keyboard has it, typed as Z on a German one too; Alt+T is nothing.
        { { 'Z', 28 }, tap },
        { { 'T', 52 }, none },
        { { .key = 'T', .positionCode = 28, .option = true }, none },
        // Without positions (a platform that gives none) the key codes decide, keypad digits aside.
        { { '3', 0 }, { HotkeyAction::fireSlot, 2 } },
        { { .key = '3', .keypad = true }, none },
        { { 'T', 0 }, tap },
    };
    for (const auto& [stroke, command] : cases)
        EXPECT_EQ(hotkeyCommand(stroke), command) << stroke.key << " at " << stroke.positionCode;
}
