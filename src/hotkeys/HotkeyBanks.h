#pragma once

// The hotkey banks and their rules, without storage or notification: five global banks "A" to
// "E", one bank per collection, the mode that picks which one the nine slots show, and the
// check that keeps slots honest when files vanish or drives come and go. Pure; HotkeyManager
// persists it and tells the window.

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kivo::hotkeys {

inline constexpr int kSlotCount = 9;
inline constexpr int kGlobalBankCount = 5;

// Nine slots, each a file path or empty.
using Bank = std::array<std::string, kSlotCount>;

struct HotkeyMode {
    enum class Kind { global, collection, chords };
    Kind kind = Kind::global;
    int bank = 0; // global banks only, 0 to 4

    static HotkeyMode global(int bank) { return { Kind::global, bank }; }
    static HotkeyMode collection() { return { Kind::collection, 0 }; }
    static HotkeyMode chords() { return { Kind::chords, 0 }; }
    bool operator==(const HotkeyMode&) const = default;

    // "A" to "E", "collection" or "chords".
    std::string text() const;
    // Absent or unknown text reads as bank "A".
    static HotkeyMode parse(const std::optional<std::string>& text);
};

// The first nine strings; missing ones stay empty.
Bank bankFromStrings(const std::vector<std::string>& strings);

// What a missing-file check found: slots whose files are gone from a connected drive, and
// slots on a drive that is not connected now (kept, shown as missing).
struct MissingCheck {
    std::set<std::string> gone;
    std::set<std::string> onUnmountedDrives;
};
// Checks each path: on removable media whose volume is not in `mountedVolumes` it is missing;
// otherwise it is gone when `exists` says so. `exists` may touch the disk.
MissingCheck checkSlotPaths(const std::set<std::string>& paths, const std::set<std::string>& mountedVolumes,
    const std::function<bool(const std::string&)>& exists);

class HotkeyBanks {
public:
    std::array<Bank, kGlobalBankCount> globalBanks {};
    std::map<std::string, Bank> collectionBanks;
    HotkeyMode mode;
    std::optional<std::string> activeCollectionID;

    // The slots the bar shows: the active bank, or nine empty slots in chord mode and in
    // collection mode without a collection or a bank for it.
    Bank shownSlots() const;
    // The bank the assign menu labels: the active collection's in chord mode, since assigning
    // there switches to it.
    Bank labelSlots() const;

    enum Change { kNoChange = 0, kBanksChanged = 1, kModeChanged = 2 };
    // Slot 9 and above, or no bank to write to, change nothing. From chord mode an assignment
    // switches to the selected collection's bank, and does nothing without a selected collection.
    int assign(const std::string& path, int slot);
    // The first 9 - startSlot paths, one slot each from startSlot on.
    int assignMany(const std::vector<std::string>& paths, int startSlot);
    int clearSlot(int slot);
    int clearAll();
    // Slot files at `from` or below it now lie below `to` (a folder moved or relocated).
    int remapPaths(const std::string& from, const std::string& to);
    // A global bank outside 0 to 4 is refused.
    bool setMode(HotkeyMode mode);

    // Every path held by any bank.
    std::set<std::string> allPaths() const;
    // Empties every slot holding one of `paths`; true when any was.
    bool removePaths(const std::set<std::string>& paths);

private:
    // The bank writes go to; none in chord mode and in collection mode without a collection.
    Bank* activeBank();
};

} // namespace kivo::hotkeys
