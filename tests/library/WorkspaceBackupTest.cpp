#include "library/WorkspaceBackup.h"

#include "platform/PreferenceStore.h"
#include "platform/PropertyList.h"

#include "library/SettingsStore.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kivo;
using namespace kivo::library;

namespace {

// A value of the type its store reads for every managed key, plus the keys a backup never carries.
void fillEveryKey(platform::PreferenceStore& store)
{
    for (const char* key : { "midiCatchNotes", "separateMIDIFiles", "sortByBPM", "sortRomanNumerals",
             "skipNestedSubfolders", "hideFileExtensions", "autoPauseWhenUnfocused", "UseCacheFirstLaunch",
             "CheckDriveState", "DetectMissingItems", "NotifyPathUpdates", "hotkeyChordMinor" })
        store.setValue(key, false);
    for (const char* key : { "selectedTheme", "midiOctaveShift", "midiInstrument", "keySpelling",
             "selectedGroup", "selectedPathIndex", "MaxCacheSize", "hotkeyChordPitch" })
        store.setValue(key, qint64(-3));
    store.setValue("volume", 0.37);
    store.setValue("hotkeyMode", QString("chords"));
    store.setValue("bookmarks", QByteArray("\x00\x01\xff bookmark bytes", 19));
    for (const char* key : { "FileBPMCleared", "FileKeyCleared", "HiddenFilePaths", "HiddenCollectionIDs",
             "SkippedFolderPaths", "NestedSkipExemptPaths" })
        store.setValue(key, QVariantList { QString("/s/") + key, QString("/s/ü/é") });
    store.setValue("SampleTags", QVariantList { QVariantMap { { "id", "T1" }, { "name", "Dark" } } });
    store.setValue("hotkeyGlobalSets", QVariantList { QVariantList { "/a.wav", "" } });
    store.setValue("sampleHotkeys", QVariantList { "/old.wav" });
    for (const char* key : { "FileBPMOverrides", "FileKeyOverrides", "FileTagAssignments",
             "FileTagExclusions", "hotkeyCollectionSets" })
        store.setValue(key, QVariantMap { { "/s/a.wav", QVariantList { 1, 2.5, "x" } } });
    store.setValue("KIVOCacheData", QByteArray("old"));
    store.setValue("KIVOCacheLastUpdate", 12.0);
    store.setValue("WorkspaceRegistry", QByteArray("[]"));
}

const PathExists kNothingMissing = [](const QString&) { return true; };

using WorkspaceBackup = test::SettingsStoreFixture;

} // namespace

TEST_F(WorkspaceBackup, RoundTripsEveryManagedKeyWithItsTypeOntoAFreshStore)
{
    platform::PreferenceStore& source = *store;
    fillEveryKey(source);
    ASSERT_EQ(backupValues(source).size(), 37);
    const auto bytes = snapshot(source, kNothingMissing);
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(bytes->startsWith("bplist"));
    // The marker is there, the legacy and registry keys are not.
    const QVariantMap root = platform::decodeBinaryPlist(*bytes)->toMap();
    EXPECT_EQ(root.value("__kivoBackupFormat").toString(), "KIVO.AppBackup.v1");
    EXPECT_EQ(root.size(), 38);
    EXPECT_FALSE(root.contains("KIVOCacheData"));
    EXPECT_FALSE(root.contains("WorkspaceRegistry"));

    {
        platform::PreferenceStore fresh(dir.path() + "/B.plist");
        fresh.setValue("WorkspaceRegistry", QByteArray("keep"));
        fresh.setValue("KIVOCacheLastUpdate", 3.0);
        ASSERT_TRUE(applyBackup(fresh, *bytes));
        EXPECT_EQ(backupValues(fresh), backupValues(source));
        EXPECT_FALSE(fresh.contains("KIVOCacheLastUpdate"));
        EXPECT_EQ(fresh.dataValue("WorkspaceRegistry"), QByteArray("keep"));
    }
    // Flushed: the file itself holds the applied values, types included.
    platform::PreferenceStore reopened(dir.path() + "/B.plist");
    EXPECT_EQ(backupValues(reopened), backupValues(source));
    EXPECT_EQ(reopened.intValue("selectedPathIndex"), -3);
    EXPECT_EQ(reopened.realValue("volume"), 0.37);

    // A backup lacking keys deletes them; clearing deletes every managed and legacy key.
    platform::PreferenceStore partial(dir.path() + "/C.plist");
    partial.setValue("sortByBPM", true);
    const auto small = snapshot(partial, kNothingMissing);
    ASSERT_TRUE(applyBackup(reopened, *small));
    EXPECT_EQ(backupValues(reopened), QVariantMap({ { "sortByBPM", true } }));
    fillEveryKey(reopened);
    clearManagedKeys(reopened);
    EXPECT_EQ(reopened.keys(), QStringList { "WorkspaceRegistry" });
}

TEST_F(WorkspaceBackup, ReadsTheXmlForm)
{
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>__kivoBackupFormat</key><string>KIVO.AppBackup.v1</string>
  <key>volume</key><real>0.25</real>
  <key>sortByBPM</key><false/>
  <key>selectedGroup</key><integer>-2</integer>
  <key>bookmarks</key><data>
    AAEC/w==
  </data>
  <key>HiddenFilePaths</key><array><string>/s/a &amp; b.wav</string></array>
  <key>FileBPMOverrides</key><dict><key>/s/a.wav</key><real>120</real></dict>
  <key>unknownKey</key><string>dropped</string>
</dict>
</plist>
)";
    const auto values = parseBackup(xml);
    ASSERT_TRUE(values);
    EXPECT_EQ(*values,
        QVariantMap({ { "volume", 0.25 }, { "sortByBPM", false }, { "selectedGroup", qint64(-2) },
            { "bookmarks", QByteArray("\x00\x01\x02\xff", 4) },
            { "HiddenFilePaths", QVariantList { "/s/a & b.wav" } },
            { "FileBPMOverrides", QVariantMap { { "/s/a.wav", 120.0 } } } }));
}

TEST_F(WorkspaceBackup, DropsClearedMarksOfDeletedFilesWhoseFolderRemains)
{
    const QString kept = QString::fromStdString(dir.write("Loops/kept.wav"));
    const QString deleted = dir.path() + "/Loops/deleted.wav";
    const QString driveGone = "/Volumes/Gone/x.wav";
    const QVariantList paths { kept, deleted, driveGone, "/top.wav", "relative" };
    store->setValue("FileBPMCleared", paths);
    store->setValue("FileKeyCleared", QVariantList { deleted });
    store->setValue("HiddenFilePaths", QVariantList { deleted });
    const auto values = parseBackup(*snapshot(*store));
    ASSERT_TRUE(values);
    // "/top.wav" has the root as folder: too short a folder to judge by, kept.
    EXPECT_EQ(
        values->value("FileBPMCleared").toList(), (QVariantList { kept, driveGone, "/top.wav", "relative" }));
    EXPECT_EQ(values->value("FileKeyCleared").toList(), QVariantList {});
    EXPECT_EQ(values->value("HiddenFilePaths").toList(), QVariantList { deleted });
    // The live store keeps its marks: only the backup leaves them out.
    EXPECT_EQ(store->arrayValue("FileBPMCleared"), paths);
}

TEST_F(WorkspaceBackup, RefusesWhatIsNotABackupAndChangesNothing)
{
    fillEveryKey(*store);
    const QVariantMap before = store->snapshot();
    const auto encode = [](const QVariant& root) { return *platform::encodeBinaryPlist(root); };
    const QVariantMap marker { { "__kivoBackupFormat", "KIVO.AppBackup.v1" } };
    const auto with = [&](const char* key, const QVariant& value) {
        QVariantMap m = marker;
        m.insert(key, value);
        return encode(m);
    };
    const QList<QByteArray> refused {
        QByteArray(),
        QByteArray("not a property list at all"),
        QByteArray("bplist00 truncated"),
        encode(QVariantList { marker }), // root is an array
        encode(QVariantMap { { "__kivoBackupFormat", "KIVO.AppBackup.v2" } }),
        encode(QVariantMap { { "__kivoBackupFormat", QByteArray("KIVO.AppBackup.v1") } }),
        encode(QVariantMap { { "volume", 0.5 } }), // no marker
        with("volume", "loud"),
        with("volume", std::nan("")),
        with("sortByBPM", qint64(1)),
        with("selectedGroup", 1.5),
        with("bookmarks", QVariantList {}),
        with("HiddenFilePaths", QVariantList { "/a", qint64(3) }),
        with("FileTagAssignments", QVariantList {}),
        with("hotkeyMode", false),
        "<plist version=\"1.0\"><array><string>x</string></array></plist>",
        "<plist version=\"1.0\"><dict><key>__kivoBackupFormat</key><string>KIVO.AppBackup.v1</string>"
        "<key>volume</key></dict></plist>", // a key without a value
        "<plist version=\"1.0\"><dict><key>__kivoBackupFormat</key><string>KIVO.AppBackup.v1</string>",
        "<plist version=\"1.0\"><dict><key>__kivoBackupFormat</key><string>KIVO.AppBackup.v1</string>"
        "<key>bookmarks</key><data>@@@</data></dict></plist>",
    };
    for (const QByteArray& bytes : refused) {
        EXPECT_FALSE(isValidBackup(bytes)) << bytes.left(120).toStdString();
        EXPECT_FALSE(applyBackup(*store, bytes));
        EXPECT_EQ(store->snapshot(), before);
    }
    // Nesting far deeper than any backup, in either form, is refused without recursion.
    QByteArray deep
        = "<plist><dict><key>__kivoBackupFormat</key><string>KIVO.AppBackup.v1</string><key>SampleTags</key>";
    for (int i = 0; i < 200000; ++i)
        deep += "<array>";
    EXPECT_FALSE(isValidBackup(deep));
}
