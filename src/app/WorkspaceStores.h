#pragma once

// The stores a workspace change makes read the preference store again.

namespace kivo::library {
class UserSettings;
class SyncSettings;
} // namespace kivo::library
namespace kivo::organise {
class HiddenFileManager;
class TagStore;
} // namespace kivo::organise
namespace kivo::index {
class MetadataOverrideStore;
}
namespace kivo::hotkeys {
class HotkeyManager;
}

namespace kivo::app {

struct WorkspaceStores {
    library::UserSettings& settings;
    library::SyncSettings& syncSettings;
    organise::HiddenFileManager& hidden;
    index::MetadataOverrideStore& overrides;
    organise::TagStore& tags;
    hotkeys::HotkeyManager& hotkeys;

    // Settings first (collections, and the roots' folder access), hotkeys last: they follow the
    // selected collection.
    void reload() const;
};

} // namespace kivo::app
