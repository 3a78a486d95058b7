#include "hotkeys/KeyboardMap.h"

namespace kivo::hotkeys {

namespace {
// X keycodes are the kernel's input codes plus 8.
constexpr unsigned kXOffset = 8;
constexpr unsigned kKernelDigit1 = 2; // KEY_1 ... KEY_9 are 2 ... 10
// The three letter rows of a US keyboard from their first kernel code.
struct LetterRow {
    unsigned first;
    const char* letters;
};
constexpr LetterRow kLetterRows[] = { { 16, "QWERTYUIOP" }, { 30, "ASDFGHJKL" }, { 44, "ZXCVBNM" } };
} // namespace

std::optional<int> mainRowDigitAt(unsigned positionCode)
{
    if (positionCode < kXOffset + kKernelDigit1 || positionCode > kXOffset + kKernelDigit1 + 8)
        return std::nullopt;
    return int(positionCode - kXOffset - kKernelDigit1) + 1;
}

std::optional<char> usLetterAt(unsigned positionCode)
{
    if (positionCode < kXOffset)
        return std::nullopt;
    const unsigned kernel = positionCode - kXOffset;
    for (const auto& row : kLetterRows) {
        unsigned i = 0;
        for (; row.letters[i]; ++i)
            if (kernel == row.first + i)
                return row.letters[i];
    }
    return std::nullopt;
}

HotkeyCommand hotkeyCommand(const KeyStroke& stroke)
{
    if (stroke.command || stroke.control)
        return {};
    std::optional<int> digit;
    std::optional<char> letter;
    if (stroke.positionCode != 0) {
        digit = mainRowDigitAt(stroke.positionCode);
        letter = usLetterAt(stroke.positionCode);
    } else if (!stroke.keypad && stroke.key >= '1' && stroke.key <= '9') {
        digit = stroke.key - '0';
    } else if (stroke.key >= 'A' && stroke.key <= 'Z') {
        letter = char(stroke.key);
    }
    if (digit)
        return { stroke.option ? HotkeyAction::assignSlot : HotkeyAction::fireSlot, *digit - 1 };
    if (letter == 'T' && !stroke.option)
        return { HotkeyAction::tapTempo, -1 };
    return {};
}

} // namespace kivo::hotkeys
