#include "hotkeys/HotkeyBanks.h"

#include "index/PathKeyed.h"

#include "platform/MountTable.h"

namespace kivo::hotkeys {

namespace {
constexpr const char* kCollectionText = "collection";
constexpr const char* kChordsText = "chords";
} // namespace

std::string HotkeyMode::text() const
{
    switch (kind) {
    case Kind::collection:
        return kCollectionText;
    case Kind::chords:
        return kChordsText;
    case Kind::global:
        break;
    }
    return std::string(1, char('A' + bank));
}

HotkeyMode HotkeyMode::parse(const std::optional<std::string>& text)
{
    if (!text)
        return global(0);
    if (*text == kCollectionText)
        return collection();
    if (*text == kChordsText)
        return chords();
    if (text->size() == 1 && (*text)[0] >= 'A' && (*text)[0] < 'A' + kGlobalBankCount)
        return global((*text)[0] - 'A');
    return global(0);
}

Bank bankFromStrings(const std::vector<std::string>& strings)
{
    Bank bank;
    for (std::size_t i = 0; i < strings.size() && i < bank.size(); ++i)
        bank[i] = strings[i];
    return bank;
}

MissingCheck checkSlotPaths(const std::set<std::string>& paths, const std::set<std::string>& mountedVolumes,
    const std::function<bool(const std::string&)>& exists)
{
    MissingCheck out;
    for (const std::string& path : paths) {
        if (const auto volume = platform::removableVolumeOf(path); volume && !mountedVolumes.count(*volume))
            out.onUnmountedDrives.insert(path);
        else if (!exists(path))
            out.gone.insert(path);
    }
    return out;
}

Bank HotkeyBanks::shownSlots() const
{
    switch (mode.kind) {
    case HotkeyMode::Kind::global:
        return globalBanks[std::size_t(mode.bank)];
    case HotkeyMode::Kind::collection:
        return labelSlots();
    case HotkeyMode::Kind::chords:
        break;
    }
    return {};
}

Bank HotkeyBanks::labelSlots() const
{
    if (mode.kind == HotkeyMode::Kind::global)
        return globalBanks[std::size_t(mode.bank)];
    if (!activeCollectionID)
        return {};
    const auto it = collectionBanks.find(*activeCollectionID);
    return it == collectionBanks.end() ? Bank {} : it->second;
}

Bank* HotkeyBanks::activeBank()
{
    switch (mode.kind) {
    case HotkeyMode::Kind::global:
        return &globalBanks[std::size_t(mode.bank)];
    case HotkeyMode::Kind::collection:
        return activeCollectionID ? &collectionBanks[*activeCollectionID] : nullptr;
    case HotkeyMode::Kind::chords:
        break;
    }
    return nullptr;
}

int HotkeyBanks::assign(const std::string& path, int slot)
{
    if (slot < 0 || slot >= kSlotCount)
        return kNoChange;
    int change = kNoChange;
    if (mode.kind == HotkeyMode::Kind::chords) {
        if (!activeCollectionID)
            return kNoChange;
        mode = HotkeyMode::collection();
        change |= kModeChanged;
    }
    Bank* bank = activeBank();
    if (!bank)
        return change;
    (*bank)[std::size_t(slot)] = path;
    return change | kBanksChanged;
}

int HotkeyBanks::assignMany(const std::vector<std::string>& paths, int startSlot)
{
    if (startSlot < 0)
        return kNoChange;
    int change = kNoChange;
    for (std::size_t k = 0; k < paths.size() && startSlot + int(k) < kSlotCount; ++k)
        change |= assign(paths[k], startSlot + int(k));
    return change;
}

int HotkeyBanks::clearSlot(int slot)
{
    Bank* bank = slot >= 0 && slot < kSlotCount ? activeBank() : nullptr;
    if (!bank)
        return kNoChange;
    (*bank)[std::size_t(slot)].clear();
    return kBanksChanged;
}

int HotkeyBanks::clearAll()
{
    Bank* bank = activeBank();
    if (!bank)
        return kNoChange;
    bank->fill({});
    return kBanksChanged;
}

bool HotkeyBanks::setMode(HotkeyMode next)
{
    if (next.kind == HotkeyMode::Kind::global && (next.bank < 0 || next.bank >= kGlobalBankCount))
        return false;
    if (next.kind != HotkeyMode::Kind::global)
        next.bank = 0;
    mode = next;
    return true;
}

std::set<std::string> HotkeyBanks::allPaths() const
{
    std::set<std::string> out;
    auto add = [&out](const Bank& bank) {
        for (const auto& p : bank)
            if (!p.empty())
                out.insert(p);
    };
    for (const auto& bank : globalBanks)
        add(bank);
    for (const auto& [id, bank] : collectionBanks)
        add(bank);
    return out;
}

bool HotkeyBanks::removePaths(const std::set<std::string>& paths)
{
    bool changed = false;
    auto clean = [&](Bank& bank) {
        for (auto& p : bank)
            if (!p.empty() && paths.count(p)) {
                p.clear();
                changed = true;
            }
    };
    for (auto& bank : globalBanks)
        clean(bank);
    for (auto& [id, bank] : collectionBanks)
        clean(bank);
    return changed;
}

int HotkeyBanks::remapPaths(const std::string& from, const std::string& to)
{
    bool changed = false;
    std::string rewritten;
    auto remapBank = [&](Bank& bank) {
        for (std::string& path : bank) {
            if (!path.empty() && index::remapPath(path, from, to, rewritten)) {
                path = rewritten;
                changed = true;
            }
        }
    };
    for (Bank& bank : globalBanks)
        remapBank(bank);
    for (auto& [id, bank] : collectionBanks)
        remapBank(bank);
    return changed ? kBanksChanged : kNoChange;
}

} // namespace kivo::hotkeys
