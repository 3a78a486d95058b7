#include "index/MetadataOverrideStore.h"

#include "platform/PreferenceStore.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace kivo::index;
using kivo::platform::PreferenceStore;

namespace {

struct OverrideStoreTest : ::testing::Test {
    kivo::test::ScratchDir dir;
    QString file = dir.path() + "/Preferences.plist";
    std::unique_ptr<PreferenceStore> prefs = std::make_unique<PreferenceStore>(file);

    // The values as a fresh program run reads them from disk.
    MetadataOverrides reread()
    {
        prefs->flush();
        PreferenceStore again(file);
        return *MetadataOverrideStore(again).snapshot();
    }
};

} // namespace

TEST_F(OverrideStoreTest, ValuesMarksAndAutomaticPersistAtOnce)
{
    MetadataOverrideStore store(*prefs);
    QSignalSpy bpmChanged(&store, &MetadataOverrideStore::bpmOverridesChanged);
    QSignalSpy clearedChanged(&store, &MetadataOverrideStore::clearedBPMPathsChanged);
    QSignalSpy keysChanged(&store, &MetadataOverrideStore::keyOverridesChanged);
    const auto before = store.snapshot();

    store.setBPM(90, { "/Loops", "/Loops/a.wav" });
    store.setKey("C#m", { "/Loops" });
    store.clearBPM({ "/Loops/a.wav" });
    store.clearKey({ "/Loops/b.wav" });
    EXPECT_EQ(bpmChanged.count(), 2);
    EXPECT_EQ(clearedChanged.count(), 1);
    EXPECT_EQ(keysChanged.count(), 1);
    // A snapshot taken earlier never sees later edits.
    EXPECT_TRUE(before->empty());

    MetadataOverrides expected;
    expected.bpmOverrides = { { "/Loops", 90 } };
    expected.keyOverrides = { { "/Loops", "C#m" } };
    expected.clearedBPMPaths = { "/Loops/a.wav" };
    expected.clearedKeyPaths = { "/Loops/b.wav" };
    EXPECT_EQ(*store.snapshot(), expected);
    EXPECT_EQ(reread(), expected);

    // None returns to automatic without lifting a mark; a value lifts it.
    store.setBPM(std::nullopt, { "/Loops/a.wav", "/Loops" });
    EXPECT_TRUE(store.bpmOverrides().empty());
    EXPECT_TRUE(store.clearedBPMPaths().contains("/Loops/a.wav"));
    store.setBPM(95, { "/Loops/a.wav" });
    EXPECT_TRUE(store.clearedBPMPaths().empty());
    store.setKey("Eb", { "/Loops/b.wav" });
    EXPECT_TRUE(store.clearedKeyPaths().empty());
    expected.bpmOverrides = { { "/Loops/a.wav", 95 } };
    expected.clearedBPMPaths.clear();
    expected.keyOverrides["/Loops/b.wav"] = "Eb";
    expected.clearedKeyPaths.clear();
    EXPECT_EQ(reread(), expected);
    // Automatic drops both the value and the mark.
    store.clearKey({ "/Loops" });
    store.resetKey({ "/Loops", "/Loops/b.wav" });
    EXPECT_TRUE(store.keyOverrides().empty());
    EXPECT_TRUE(store.clearedKeyPaths().empty());

    // A workspace switch puts other values in the store.
    prefs->setValue(kFileBPMOverridesKey, QVariantMap { { "/Other", qint64(70) } });
    store.reloadFromStore();
    EXPECT_EQ(store.bpmOverrides().at("/Other"), 70);
    EXPECT_EQ(store.bpmOverrides().size(), 1u);
}

TEST_F(OverrideStoreTest, RemapMovesAFolderAndWhatIsBelowItOnly)
{
    MetadataOverrideStore store(*prefs);
    store.setBPM(100, { "/A/x.wav", "/AB/y.wav", "/A", "/B/x.wav" });
    store.clearKey({ "/A/Sub" });
    store.setKey("Am", { "/A/Sub/z.wav" });
    store.remapPaths("/A", "/B");
    EXPECT_EQ(store.bpmOverrides(),
        (PathKeyedMap<std::int64_t> { { "/B/x.wav", 100 }, { "/AB/y.wav", 100 }, { "/B", 100 } }));
    EXPECT_EQ(store.clearedKeyPaths(), (PathKeyedSet { "/B/Sub" }));
    EXPECT_EQ(store.keyOverrides().at("/B/Sub/z.wav"), "Am");
    EXPECT_EQ(reread(), *store.snapshot());

    // Two paths meeting at one: the moved override is kept, and a moved override lifts a mark there.
    store.setBPM(60, { "/C/x.wav" });
    store.clearBPM({ "/D/y.wav" });
    store.setBPM(61, { "/C/y.wav" });
    store.remapPaths("/C", "/B");
    EXPECT_EQ(store.bpmOverrides().at("/B/x.wav"), 60);
    store.remapPaths("/B/x.wav", "/D/y.wav");
    EXPECT_EQ(store.bpmOverrides().at("/D/y.wav"), 60);
    EXPECT_FALSE(store.clearedBPMPaths().contains("/D/y.wav"));
}

TEST_F(OverrideStoreTest, MistypedEntriesAreDroppedOneByOne)
{
    prefs->setValue(kFileBPMOverridesKey,
        QVariantMap {
            { "/a.wav", qint64(120) }, { "/b.wav", "fast" }, { "/c.wav", 98.5 }, { "/d.wav", true } });
    prefs->setValue(kFileKeyOverridesKey, QVariantMap { { "/a.wav", "Am" }, { "/b.wav", qint64(3) } });
    prefs->setValue(kFileBPMClearedKey, QVariantList { "/e.wav", qint64(4), QVariantList {} });
    prefs->setValue(kFileKeyClearedKey, "not a list");
    MetadataOverrideStore store(*prefs);
    EXPECT_EQ(store.bpmOverrides(), (PathKeyedMap<std::int64_t> { { "/a.wav", 120 } }));
    EXPECT_EQ(store.keyOverrides(), (PathKeyedMap<std::string> { { "/a.wav", "Am" } }));
    EXPECT_EQ(store.clearedBPMPaths(), (PathKeyedSet { "/e.wav" }));
    EXPECT_TRUE(store.clearedKeyPaths().empty());
    // Loading writes nothing back.
    EXPECT_EQ(prefs->stringValue(kFileKeyClearedKey), "not a list");
}
