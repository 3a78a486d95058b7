#include "platform/PreferenceStore.h"
#include "platform/BinaryPlistCheck.h"
#include "platform/PropertyList.h"
#include "platform/StaleTemporaries.h"
#include "support/BinaryPlistBuilder.h"
#include "support/ReadFile.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QSignalSpy>
#include <QStringList>

#include <sys/stat.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <ctime>
#include <limits>

using kivo::platform::PreferenceStore;

namespace {

QByteArray readAll(const QString& path)
{
    return QByteArray::fromStdString(kivo::test::readFile(path.toStdString()));
}

QVariantMap nestedSample()
{
    QVariantMap inner;
    inner.insert(QStringLiteral("colorHex"), QStringLiteral("EF5356"));
    inner.insert(QStringLiteral("paths"), QVariantList { QByteArray("\x00\x01\xff", 3), QByteArray() });
    inner.insert(QStringLiteral("flags"), QVariantList { true, qint64(-3), 2.5, QStringLiteral("Ü") });
    QVariantMap outer;
    outer.insert(QStringLiteral("group"), inner);
    outer.insert(QStringLiteral("empty"), QVariantMap());
    return outer;
}

// A NUL character inside a string or a key stops the whole program in libplist's decoder; a byte
// over 0x7F in an ASCII string comes back as other text.
enum class Hostile { doubling, cycle, nulInString, nulInKey, nulInUtf16, highByteInAscii };

QByteArray hostile(Hostile shape)
{
    kivo::test::BinaryPlistBuilder b;
    kivo::test::BinaryPlistBuilder::Ref inner = 0;
    if (shape == Hostile::nulInString || shape == Hostile::nulInUtf16) {
        inner = shape == Hostile::nulInString ? b.ascii(std::string("Kick\0Snare", 10))
                                              : b.utf16(std::u16string(u"Kick\0Snare", 10));
    } else if (shape == Hostile::highByteInAscii) {
        inner = b.array({ b.ascii("/Samples/Kick\xA1.wav") });
    } else if (shape == Hostile::nulInKey) {
        inner = b.array({});
        const auto key = b.ascii(std::string("hidden\0Paths", 12));
        return QByteArray::fromStdString(b.bytes(b.dict({ key }, { inner })));
    } else if (shape == Hostile::doubling) {
        inner = b.array({});
        for (int level = 0; level < 60; ++level)
            inner = b.array({ inner, inner });
    } else {
        inner = b.array({ b.next() });
    }
    const auto key = b.ascii("hiddenPaths");
    return QByteArray::fromStdString(b.bytes(b.dict({ key }, { inner })));
}

QVariantList longList()
{
    QVariantList list;
    for (int i = 0; i < 100000; ++i)
        list.append(QStringLiteral("/Samples/Drums/Kit %1/kick.wav").arg(i));
    return list;
}

// Arrays nested so that the value stored under a key sits `depth` levels below the file's root.
QVariantList deepList(int depth)
{
    QVariantList list { QStringLiteral("bottom") };
    for (int level = 2; level < depth; ++level)
        list = QVariantList { list };
    return list;
}

} // namespace

TEST(PreferenceStore, EveryTypeSurvivesAReopenAndTypedReadsRefuseOtherTypes)
{
    kivo::test::ScratchDir dir;
    const QString path = dir.path() + QStringLiteral("/sub/Preferences.plist");
    // A library with 100,000 hidden paths is a real library; nesting as deep as we ever write is fine.
    const QVariantMap values { { "bool", true }, { "int", qint64(-42) },
        { "big", std::numeric_limits<qint64>::min() }, { "max", std::numeric_limits<qint64>::max() },
        { "real", 0.1 }, { "whole real", 3.0 }, { "string", QStringLiteral("Kick – 808 ♯") },
        { "data", QByteArray("\x00zero\x00", 6) },
        { "array", QVariantList { qint64(1), QStringLiteral("two") } }, { "dict", nestedSample() },
        { "long", longList() }, { "deep", deepList(kivo::platform::kMaxPlistDepth) } };
    {
        PreferenceStore store(path);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            EXPECT_TRUE(store.setValue(it.key(), it.value())) << it.key().toStdString();
        EXPECT_TRUE(store.setValue("small int", 7)); // plain int is stored as a 64-bit integer
        EXPECT_TRUE(store.setValue("strings", QStringList { "a", "b" }));
        EXPECT_FALSE(store.setValue("date", QDateTime::currentDateTime()));
        EXPECT_FALSE(store.setValue("nested bad", QVariantList { QVariant::fromValue(QPoint(1, 2)) }));
        EXPECT_FALSE(store.contains("date"));
        EXPECT_TRUE(store.flush());
    }
    PreferenceStore store(path);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        EXPECT_EQ(store.value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_EQ(store.intValue("small int"), 7);
    EXPECT_EQ(store.intValue("max"), std::numeric_limits<qint64>::max()); // not through a double
    EXPECT_FALSE(store.intValue("whole real")); // a real stays a real
    EXPECT_EQ(store.realValue("int"), -42.0); // integers read as real too
    EXPECT_EQ(store.arrayValue("strings"), (QVariantList { QStringLiteral("a"), QStringLiteral("b") }));

    EXPECT_FALSE(store.boolValue("int"));
    EXPECT_FALSE(store.intValue("bool"));
    EXPECT_FALSE(store.stringValue("data"));
    EXPECT_FALSE(store.dataValue("string"));
    EXPECT_FALSE(store.arrayValue("dict"));
    EXPECT_FALSE(store.dictValue("array"));
    EXPECT_FALSE(store.value("missing"));

    store.remove("int");
    EXPECT_FALSE(store.contains("int"));
    store.flush();
    EXPECT_FALSE(PreferenceStore(path).contains("int"));
}

TEST(PreferenceStore, WritesOfOneTurnAreCoalescedAndSignalled)
{
    kivo::test::ScratchDir dir;
    const QString path = dir.path() + QStringLiteral("/Preferences.plist");
    PreferenceStore store(path);
    QSignalSpy changed(&store, &PreferenceStore::valueChanged);
    for (int i = 0; i < 1000; ++i)
        store.setValue(QStringLiteral("k%1").arg(i % 10), qint64(i));
    EXPECT_EQ(changed.count(), 1000);
    // Nothing on disk until the event loop turns.
    EXPECT_FALSE(QFile::exists(path));
    QCoreApplication::processEvents();
    ASSERT_TRUE(QFile::exists(path));
    PreferenceStore reread(path);
    EXPECT_EQ(reread.keys().size(), 10);
    EXPECT_EQ(reread.intValue("k9"), 999);

    // A later burst lands too, and removing a missing key changes nothing.
    const QByteArray before = readAll(path);
    store.remove("no such key");
    QCoreApplication::processEvents();
    EXPECT_EQ(readAll(path), before);
    store.setValue("k0", qint64(-1));
    QCoreApplication::processEvents();
    EXPECT_EQ(PreferenceStore(path).intValue("k0"), -1);
}

TEST(PreferenceStore, DamagedFileIsSetAsideNeverOverwritten)
{
    kivo::test::ScratchDir dir;
    const QString path = dir.path() + QStringLiteral("/Preferences.plist");
    {
        PreferenceStore store(path);
        store.setValue("volume", 0.5);
        store.setValue("name", QStringLiteral("x"));
        store.flush();
    }
    const QByteArray good = readAll(path);
    ASSERT_GT(good.size(), 20);

    const QList<QByteArray> damaged = {
        good.left(good.size() / 2), // truncated mid-file
        QByteArray("not a property list at all"),
        QByteArray(), // zero-length
        good.left(8) + QByteArray(64, '\xff'), // right magic, garbage body
        // 200,000 nested arrays: libplist's decoder would overflow the stack on them at every start.
        QByteArray::fromStdString(kivo::test::nestedArraysPlist("bookmarks", 200000)),
        hostile(Hostile::doubling), // each level refers to the next twice: 2^60 objects once expanded
        hostile(Hostile::cycle),
        hostile(Hostile::nulInString),
        hostile(Hostile::nulInKey),
        hostile(Hostile::nulInUtf16),
        hostile(Hostile::highByteInAscii),
    };
    int n = 0;
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(n++);
        dir.write("Preferences.plist", bytes.toStdString());
        PreferenceStore store(path);
        EXPECT_TRUE(store.keys().isEmpty());
        ASSERT_FALSE(store.setAsidePath().isEmpty());
        EXPECT_EQ(readAll(store.setAsidePath()), bytes);
        EXPECT_FALSE(QFile::exists(path));
        store.setValue("fresh", true);
        EXPECT_TRUE(store.flush());
        EXPECT_EQ(readAll(store.setAsidePath()), bytes); // still there, untouched
        QFile::remove(store.setAsidePath());
    }

    // A well-formed list whose root is not a dictionary is not ours either.
    dir.write(
        "Preferences.plist", kivo::platform::encodeBinaryPlist(QVariantList { qint64(1) })->toStdString());
    PreferenceStore store(path);
    EXPECT_FALSE(store.setAsidePath().isEmpty());
}

TEST(PreferenceStore, CrashBetweenWriteAndRenameLeavesTheOldFileWhole)
{
    kivo::test::ScratchDir dir;
    const QString path = dir.path() + QStringLiteral("/Preferences.plist");
    {
        PreferenceStore store(path);
        store.setValue("generation", qint64(1));
    }
    // What a crash mid-write leaves behind: a half-written temporary next to the real file.
    const QByteArray old = readAll(path);
    dir.write("Preferences.plist.XYZ123", old.left(old.size() - 5).toStdString());
    // Temporaries of earlier crashes go when the store opens; one written just now (above) may
    // belong to a save in progress elsewhere and stays, as does everything not named like ours.
    const std::pair<const char*, bool> earlier[] { { "Preferences.plist.AbC123", false },
        { "Preferences.plist.zz9ZZ9", false }, { "Preferences.plist.AbC12", true },
        { "Preferences.plist.AbC1234", true }, { "Preferences.plist.Ab-123", true },
        { "Other.plist.AbC123", true }, { "Preferences.plist.QWE456", true } };
    QDir(dir.path()).mkdir(QStringLiteral("Preferences.plist.QWE456"));
    const auto longAgo = std::time(nullptr) - kivo::platform::kStaleTemporaryAge.count() - 60;
    for (const auto& [name, kept] : earlier) {
        if (!QFile::exists(dir.path() + "/" + name))
            dir.write(name, "x");
        const utimbuf times { longAgo, longAgo };
        ASSERT_EQ(::utime(QFile::encodeName(dir.path() + "/" + name).constData(), &times), 0);
    }
    {
        PreferenceStore store(path);
        for (const auto& [name, kept] : earlier)
            EXPECT_EQ(QFile::exists(dir.path() + "/" + name), kept) << name;
        EXPECT_TRUE(QFile::exists(path + QStringLiteral(".XYZ123")));
        EXPECT_TRUE(store.setAsidePath().isEmpty());
        EXPECT_EQ(store.intValue("generation"), 1);
        store.setValue("generation", qint64(2));
    }
    EXPECT_EQ(PreferenceStore(path).intValue("generation"), 2);
    // No temporary of its own is left behind by a successful write: the file, the half-written one
    // and the four kept files are all there is.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 6)
        << QDir(dir.path()).entryList().join(",").toStdString();
}

TEST(PreferenceStore, FailedWriteKeepsValuesInMemoryAndRetries)
{
    kivo::test::ScratchDir dir;
    // The store's folder path is taken by a plain file, so nothing can be written.
    const QString blocker = QString::fromStdString(dir.write("blocked", "x"));
    PreferenceStore store(blocker + QStringLiteral("/Preferences.plist"));
    store.setValue("kept", QStringLiteral("yes"));
    EXPECT_FALSE(store.flush());
    EXPECT_EQ(store.stringValue("kept"), QStringLiteral("yes"));
    QFile::remove(blocker);
    EXPECT_TRUE(store.flush());
    EXPECT_EQ(PreferenceStore(blocker + QStringLiteral("/Preferences.plist")).stringValue("kept"),
        QStringLiteral("yes"));
}
