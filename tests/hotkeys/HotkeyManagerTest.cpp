// The hotkey banks as the preference store holds them, the active-bank rules, and the check
// that empties slots of deleted files but keeps (and flags) those on a drive that is away.

#include "hotkeys/HotkeyManager.h"

#include "library/BookmarkGroup.h"
#include "library/UserSettings.h"
#include "platform/MountTable.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/VolumeMonitor.h"

#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::hotkeys;

namespace {

QVariantList strings(std::initializer_list<const char*> list)
{
    QVariantList out;
    for (const char* s : list)
        out << QString::fromUtf8(s);
    return out;
}

QStringList storedBank(const QVariant& value)
{
    QStringList out;
    for (const QVariant& v : value.toList())
        out << v.toString();
    return out;
}

struct HotkeyManagerTest : ::testing::Test {
    test::ScratchDir dir;
    std::unique_ptr<platform::PreferenceStore> store
        = std::make_unique<platform::PreferenceStore>(dir.path() + "/Preferences.plist");
    platform::ManualClock clock;
    std::vector<platform::MountEntry> mounts { { 1, 0, 8, 1, "/", "/", "ext4", "/dev/sda1", false } };
    platform::VolumeMonitor volumes { [this] { return std::optional(platform::MountTable(mounts)); },
        platform::VolumeMonitor::Watch::none };
    std::set<std::string> onDisk;
    std::optional<std::filesystem::path> resources;
    std::unique_ptr<library::UserSettings> settings;
    // Jobs kept back until the test lets them run, so answers can arrive late.
    bool holdJobs = false;
    std::vector<HotkeyManager::Job> held;

    std::unique_ptr<HotkeyManager> make(bool withSettings = true)
    {
        if (withSettings && !settings)
            settings = std::make_unique<library::UserSettings>(*store);
        HotkeyManager::Options o { .clock = &clock,
            .volumes = &volumes,
            .exists = [this](const std::string& p) { return onDisk.count(p) > 0; },
            .resourceFolder = [this] { return resources; },
            .background = [this](HotkeyManager::Job job) { holdJobs ? held.push_back(job) : job()(); } };
        return std::make_unique<HotkeyManager>(*store, withSettings ? settings.get() : nullptr, std::move(o));
    }
    void mount(const std::string& point)
    {
        mounts.push_back({ int(mounts.size()) + 1, 1, 8, 17, "/", point, "exfat", "/dev/sdb1", false });
        volumes.refresh();
    }
    void unmount(const std::string& point)
    {
        std::erase_if(mounts, [&](const auto& m) { return m.mountPoint == point; });
        volumes.refresh();
    }
    QString collectionID(int index) const { return library::canonicalIdText(*settings->groupID(index)); }
};

TEST_F(HotkeyManagerTest, StoredFormsReadLeniently)
{
    // Only the old single bank: it becomes bank A; saving writes the new key beside it.
    store->setValue("sampleHotkeys", strings({ "/s/a.wav", "", "/s/c.wav" }));
    auto m = make(false);
    EXPECT_EQ(m->mode(), HotkeyMode::global(0));
    EXPECT_EQ(m->slotPaths().mid(0, 4), QStringList({ "/s/a.wav", "", "/s/c.wav", "" }));
    EXPECT_EQ(m->slotFile(1), std::nullopt);
    EXPECT_EQ(m->slotFile(2), QStringLiteral("/s/c.wav"));
    m->assign("/s/d.wav", 3);
    EXPECT_EQ(store->arrayValue("hotkeyGlobalSets")->size(), 5);
    EXPECT_EQ(storedBank(store->arrayValue("hotkeyGlobalSets")->at(0)).mid(0, 4),
        QStringList({ "/s/a.wav", "", "/s/c.wav", "/s/d.wav" }));
    EXPECT_EQ(*store->arrayValue("sampleHotkeys"), strings({ "/s/a.wav", "", "/s/c.wav" }));
    // reloadFromStore never falls back to the old key.
    store->remove("hotkeyGlobalSets");
    m->reloadFromStore();
    EXPECT_EQ(m->slotPaths(), QStringList(9, QString()));

    // Seven banks read the first five; a bank of twelve reads the first nine; an unknown mode is A.
    QVariantList seven;
    for (int b = 0; b < 7; ++b)
        seven << QVariant(strings({ "/x/1.wav", "/x/2.wav", "/x/3.wav", "/x/4.wav", "/x/5.wav", "/x/6.wav",
            "/x/7.wav", "/x/8.wav", "/x/9.wav", "/x/10.wav", "/x/11.wav", "/x/12.wav" }));
    seven[4] = QVariant(strings({ "/e/only.wav" }));
    store->setValue("hotkeyGlobalSets", seven);
    store->setValue("hotkeyMode", QStringLiteral("F"));
    store->setValue("hotkeyChordPitch", qint64(14));
    store->setValue("hotkeyChordMinor", QStringLiteral("yes"));
    store->setValue("hotkeyCollectionSets", QVariantMap { { "X", strings({ "/c/1.wav" }) }, { "Y", 3 } });
    m->reloadFromStore();
    EXPECT_EQ(m->mode(), HotkeyMode::global(0));
    EXPECT_EQ(m->slotPaths().last(), QStringLiteral("/x/9.wav"));
    EXPECT_EQ(m->banks().globalBanks[4][0], "/e/only.wav");
    EXPECT_EQ(m->banks().globalBanks[4][1], "");
    EXPECT_EQ(m->banks().collectionBanks.size(), 1u);
    EXPECT_EQ(m->chordPitchClass(), 2);
    EXPECT_FALSE(m->chordIsMinor());
    m->setMode(HotkeyMode::global(4));
    EXPECT_EQ(*store->stringValue("hotkeyMode"), "E");
    m->setMode(HotkeyMode::global(5));
    EXPECT_EQ(m->mode(), HotkeyMode::global(4));
    m->clearSlot(0);
    EXPECT_EQ(store->arrayValue("hotkeyGlobalSets")->size(), 5);

    // A mistyped set is no set at all.
    store->setValue("hotkeyGlobalSets", QVariantList { strings({ "/a.wav" }), 7 });
    m->reloadFromStore();
    EXPECT_EQ(m->slotPaths(), QStringList(9, QString()));
}

TEST_F(HotkeyManagerTest, CollectionBanksFollowTheSelectionAndChordModeAssignsThere)
{
    auto m = make();
    settings->addGroup("Drums", "");
    ASSERT_EQ(settings->selectedGroup(), 1);
    const QString drums = collectionID(1);
    EXPECT_EQ(m->activeCollectionID(), drums.toStdString());

    // A collection without a bank shows nine empty slots; the first assignment creates it.
    m->setMode(HotkeyMode::collection());
    EXPECT_EQ(*store->stringValue("hotkeyMode"), "collection");
    EXPECT_EQ(m->slotPaths(), QStringList(9, QString()));
    m->assign("/d/kick.wav", 0);
    EXPECT_EQ(storedBank(store->dictValue("hotkeyCollectionSets")->value(drums)).first(), "/d/kick.wav");
    QSignalSpy slotChanges(m.get(), &HotkeyManager::slotsChanged);
    settings->setSelectedGroup(0);
    EXPECT_EQ(slotChanges.count(), 1);
    EXPECT_EQ(m->slotPaths(), QStringList(9, QString()));
    settings->setSelectedGroup(1);
    EXPECT_EQ(m->slotPaths().first(), "/d/kick.wav");

    // From chord mode an assignment goes to the collection's bank and leaves chord mode.
    m->setMode(HotkeyMode::chords());
    EXPECT_EQ(m->slotPaths(), QStringList(9, QString()));
    EXPECT_EQ(m->slotLabel(0), QStringLiteral("1  \u00B7  kick.wav"));
    EXPECT_EQ(m->slotLabel(1), QStringLiteral("2"));
    QSignalSpy mode(m.get(), &HotkeyManager::modeChanged);
    // Five files dropped on slot 7 fill 7, 8 and 9.
    m->assignMany({ "/d/1.wav", "/d/2.wav", "/d/3.wav", "/d/4.wav", "/d/5.wav" }, 6);
    EXPECT_EQ(mode.count(), 1);
    EXPECT_EQ(m->mode(), HotkeyMode::collection());
    EXPECT_EQ(*store->stringValue("hotkeyMode"), "collection");
    EXPECT_EQ(m->slotPaths(),
        QStringList({ "/d/kick.wav", "", "", "", "", "", "/d/1.wav", "/d/2.wav", "/d/3.wav" }));
    m->clearAll();
    EXPECT_EQ(storedBank(store->dictValue("hotkeyCollectionSets")->value(drums)), QStringList(9, QString()));

    // With no collection selected chord mode keeps assignments out, and collection mode has no bank.
    auto lone = make(false);
    const auto storedSets = store->dictValue("hotkeyCollectionSets");
    lone->setMode(HotkeyMode::chords());
    bool completed = false;
    lone->assignMany({ "/d/x.wav" }, 0, [&] { completed = true; });
    EXPECT_TRUE(completed);
    EXPECT_EQ(lone->mode(), HotkeyMode::chords());
    lone->setMode(HotkeyMode::collection());
    lone->assign("/d/x.wav", 0);
    lone->clearSlot(0);
    EXPECT_EQ(lone->slotPaths(), QStringList(9, QString()));
    lone->assign("/d/x.wav", 9);
    EXPECT_EQ(store->dictValue("hotkeyCollectionSets"), storedSets);
}

TEST_F(HotkeyManagerTest, ChordModeFiresOnlyTheDegreesThatHaveFiles)
{
    for (const char* name : { "I - C.mid", "IV - F.mid", "V - G.mid" })
        dir.write(std::string("ChordTriads/Major/C/") + name);
    resources = dir.str();
    auto m = make(false);
    EXPECT_TRUE(m->chordTriads().empty());
    m->setMode(HotkeyMode::chords());
    ASSERT_EQ(m->chordTriads().size(), 7u);
    for (int slot = 0; slot < 9; ++slot)
        EXPECT_EQ(m->slotFile(slot).has_value(), slot == 0 || slot == 3 || slot == 4) << slot;
    EXPECT_TRUE(m->slotFile(4)->endsWith("V - G.mid"));
    // A key without a folder leaves every chord key inert; -1 is B.
    m->setChordKey(-1, false);
    EXPECT_EQ(*store->intValue("hotkeyChordPitch"), 11);
    EXPECT_EQ(*store->boolValue("hotkeyChordMinor"), false);
    EXPECT_TRUE(m->chordTriads().empty());
    EXPECT_FALSE(m->slotFile(0));
}

TEST_F(HotkeyManagerTest, MissingFilesLeaveAndSlotsOnAnUnpluggedDriveStayFlagged)
{
    const std::string drive = "/media/ann/Sample Drive";
    const std::string onDrive = drive + "/Loops/pad.wav";
    const std::string volumesPath = "/Volumes/Beats/kick.wav";
    mount(drive);
    mount("/Volumes/Beats");
    onDisk = { onDrive, volumesPath, "/home/ann/snare.wav" };
    store->setValue("hotkeyGlobalSets",
        QVariantList {
            strings({ onDrive.c_str(), "/home/ann/snare.wav", volumesPath.c_str(), "/home/ann/gone.wav" }),
            strings({ "/home/ann/gone.wav" }) });
    auto m = make(false);
    // The first check waits two seconds after start.
    EXPECT_EQ(m->slotPaths()[3], "/home/ann/gone.wav");
    clock.advance(HotkeyManager::kFirstCheckDelay);
    EXPECT_EQ(m->slotPaths()[3], "");
    EXPECT_EQ(m->banks().globalBanks[1][0], "");
    EXPECT_EQ(storedBank(store->arrayValue("hotkeyGlobalSets")->at(0))[3], "");
    EXPECT_TRUE(m->missingSlotPaths().isEmpty());

    // Unplugged: the slots stay and are flagged, though the files cannot be seen.
    QSignalSpy missing(m.get(), &HotkeyManager::missingSlotPathsChanged);
    unmount(drive);
    unmount("/Volumes/Beats");
    onDisk.erase(onDrive);
    onDisk.erase(volumesPath);
    m->refreshMissing();
    EXPECT_EQ(m->missingSlotPathList(),
        QStringList({ QString::fromStdString(volumesPath), QString::fromStdString(onDrive) }));
    EXPECT_EQ(m->slotPaths()[0], QString::fromStdString(onDrive));
    EXPECT_GE(missing.count(), 1);

    // Back, with one file deleted meanwhile: the next refresh empties that slot only.
    onDisk.insert(volumesPath);
    mount(drive);
    mount("/Volumes/Beats");
    EXPECT_TRUE(m->missingSlotPaths().isEmpty());
    EXPECT_EQ(m->slotPaths()[0], "");
    EXPECT_EQ(m->slotPaths()[2], QString::fromStdString(volumesPath));

    // A check whose answer comes late still only empties slots that hold a gone file, and the
    // library's notifications run it too.
    holdJobs = true;
    onDisk.erase("/home/ann/snare.wav");
    platform::NotificationCenter::shared().post("LibraryFileRemoved");
    ASSERT_EQ(held.size(), 1u);
    m->assign("/home/ann/new.wav", 5);
    held.front()()();
    EXPECT_EQ(m->slotPaths()[1], "");
    EXPECT_EQ(m->slotPaths()[5], "/home/ann/new.wav");
    held.clear();
    platform::NotificationCenter::shared().post("UserSettingsPathsSynced");
    EXPECT_EQ(held.size(), 1u);
}

} // namespace
