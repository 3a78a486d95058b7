#pragma once

// The browser's hotkey keys read by the key's place on the keyboard, not by the character it
// types: the main row's 1 to 9 fire and assign slots on every layout (an AZERTY row that types
// "&é\"'(" included), and T taps the tempo where a US keyboard has its T. Pure.

#include <optional>

namespace kivo::hotkeys {

struct KeyStroke {
    int key = 0; // the toolkit's key code; digits and letters are their upper-case ASCII codes
    // The physical key as the X keyboard extension numbers it (the kernel's code + 8); 0 when
    // the platform does not say, and the key code is read instead.
    unsigned positionCode = 0;
    bool command = false; // Ctrl
    bool option = false; // Alt
    bool control = false; // Meta
    bool keypad = false;
};

enum class HotkeyAction { none, fireSlot, assignSlot, tapTempo };

struct HotkeyCommand {
    HotkeyAction action = HotkeyAction::none;
    int slot = -1; // 0 to 8 for the slot actions
    bool operator==(const HotkeyCommand&) const = default;
};

// 1 to 9 fire slots 0 to 8 with none of Command, Option, Control held; Option + 1 to 9 assigns
// without Command or Control; T taps with none of them. Shift does not matter.
HotkeyCommand hotkeyCommand(const KeyStroke& stroke);

// The main-row digit 1 to 9 at a key position, if that is where one is.
std::optional<int> mainRowDigitAt(unsigned positionCode);
// The letter a US layout has at a key position ('A' to 'Z'), if any.
std::optional<char> usLetterAt(unsigned positionCode);

} // namespace kivo::hotkeys
