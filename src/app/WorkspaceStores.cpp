#include "app/WorkspaceStores.h"

#include "hotkeys/HotkeyManager.h"
#include "index/MetadataOverrideStore.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "organise/HiddenFileManager.h"
#include "organise/TagStore.h"

namespace kivo::app {

void WorkspaceStores::reload() const
{
    settings.reloadFromStore();
    syncSettings.reloadFromStore();
    hidden.reload();
    overrides.reloadFromStore();
    tags.reload();
    hotkeys.reloadFromStore();
}

} // namespace kivo::app
