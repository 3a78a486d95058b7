#include "library/RootEligibility.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace kivo::library;
using Rejection = RootEligibility::Rejection;
using Kind = Rejection::Kind;

namespace kivo::library {
void PrintTo(const Rejection& r, std::ostream* os)
{
    *os << int(r.kind) << " " << r.name.toStdString();
}
} // namespace kivo::library

namespace {

// A machine with a named system drive and one extra disk; paths are judged as written.
RootEligibility::Environment fakeMachine()
{
    RootEligibility::Environment env;
    env.homePath = "/home/ann";
    env.mountPoints = { "/", "/srv/array" };
    env.volumeName = [](const QString& path) { return path == "/" ? QString("System") : QString(); };
    return env;
}

std::optional<Rejection> refused(Kind kind, const QString& name)
{
    return Rejection { kind, name };
}

} // namespace

TEST(RootEligibility, RefusesDrivesHomeFoldersThisUsersHomeAndSystemFolders)
{
    const RootEligibility eligibility(fakeMachine());
    const auto check = [&](const char* path) { return eligibility.check(path); };

    const std::pair<const char*, std::optional<Rejection>> cases[] {
        // Drives: the root (named after its volume), anything mounted, and the removable-media slots.
        { "/", refused(Kind::volumeRoot, "System") }, { "/srv/array", refused(Kind::volumeRoot, "array") },
        { "/Volumes/Sample Drive", refused(Kind::volumeRoot, "Sample Drive") },
        { "/media/ann/USB", refused(Kind::volumeRoot, "USB") },
        { "/run/media/ann/USB", refused(Kind::volumeRoot, "USB") },
        { "/mnt/nas", refused(Kind::volumeRoot, "nas") }, { "/Volumes/Sample Drive/Loops", std::nullopt },
        { "/media/ann/USB/Kits", std::nullopt }, { "/srv/array/Drums", std::nullopt },
        // Home folders, anybody's; the shared folder beside them and folders below system ones are fine.
        { "/Users/user1", refused(Kind::homeFolder, "user1") },
        { "/home/ann", refused(Kind::homeFolder, "ann") }, { "/home/bob", refused(Kind::homeFolder, "bob") },
        { "/Users/Shared", std::nullopt }, { "/Users/user1/Music", std::nullopt },
        { "/home/ann/Samples", std::nullopt }, { "/usr/share", std::nullopt }, { "/run/user", std::nullopt },
        // Judged after "." and ".." are gone.
        { "/Volumes/Sample Drive/Loops/..", refused(Kind::volumeRoot, "Sample Drive") },
        { "/home/ann/./Samples/../", refused(Kind::homeFolder, "ann") }, { "//Users//Shared/", std::nullopt },
        { "/Users/..", refused(Kind::volumeRoot, "System") }
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(check(path), expected) << path;

    // Everything directly under "/", and the folders that hold removable drives.
    for (const char* path : { "/Users", "/Applications", "/home", "/usr", "/Volumes", "/mnt", "/media",
             "/media/ann", "/run/media", "/run/media/ann" })
        EXPECT_EQ(check(path), refused(Kind::systemFolder, QString(path).section('/', -1))) << path;

    // A home outside /home is still this user's home; a root volume without a label keeps "/".
    auto elsewhere = fakeMachine();
    elsewhere.homePath = "/var/lib/ann";
    elsewhere.volumeName = nullptr;
    const RootEligibility other(elsewhere);
    EXPECT_EQ(other.check("/var/lib/ann"), refused(Kind::homeFolder, "ann"));
    EXPECT_EQ(other.check("/var/lib/ann/Samples"), std::nullopt);
    EXPECT_EQ(other.check("/"), refused(Kind::volumeRoot, "/"));

    const auto screened = eligibility.screen({ "/home/ann/Kits", "/", "/home/ann/Loops", "/Users" });
    EXPECT_EQ(screened.eligible, QStringList({ "/home/ann/Kits", "/home/ann/Loops" }));
    EXPECT_EQ(screened.refused,
        QList<Rejection>({ { Kind::volumeRoot, "System" }, { Kind::systemFolder, "Users" } }));

    const auto env = RootEligibility::Environment::current();
    EXPECT_TRUE(env.mountPoints.count("/"));
    const auto rejection = RootEligibility(env).check(RootEligibility::currentUserHome());
    ASSERT_TRUE(rejection.has_value());
    EXPECT_NE(rejection->kind, Kind::systemFolder);
}

TEST(RootEligibility, FollowsLinksToWhatTheyName)
{
    kivo::test::ScratchDir dir;
    const QString home = QDir(QString::fromStdString(dir.mkdir("home"))).canonicalPath();
    const QString base = QDir(dir.path()).canonicalPath();
    dir.mkdir("home/Samples");
    ASSERT_TRUE(QFile::link(home, base + "/link to home"));
    ASSERT_TRUE(QFile::link("/", base + "/link to root"));
    ASSERT_TRUE(QFile::link(home + "/Samples", base + "/samples link"));

    auto env = RootEligibility::Environment::current();
    env.homePath = home;
    env.volumeName = nullptr;
    const RootEligibility eligibility(env);
    EXPECT_EQ(eligibility.check(base + "/link to home"), refused(Kind::homeFolder, "home"));
    // ".." is taken away before links are followed: this is the scratch folder, not the home.
    EXPECT_EQ(eligibility.check(base + "/samples link/.."), std::nullopt);
    EXPECT_EQ(eligibility.check(base + "/link to root"), refused(Kind::volumeRoot, "/"));
    EXPECT_EQ(eligibility.check(base + "/samples link"), std::nullopt);

    // Where the path stops existing, links are resolved as far as it goes.
    EXPECT_EQ(
        RootEligibility::resolveExistingLinks(base + "/link to home/gone/deeper"), home + "/gone/deeper");
    EXPECT_EQ(RootEligibility::resolveExistingLinks("/no such folder/x"), "/no such folder/x");
    EXPECT_EQ(RootEligibility::resolveExistingLinks(base + "/link to root"), "/");
}

// Names are quoted as they are, however they look; several refusals make a list of their sentences.
TEST(RootEligibility, AlertQuotesOneRefusalOrListsSeveral)
{
    EXPECT_EQ(ineligibleAlert({}), std::nullopt);
    const Rejection drive { Kind::volumeRoot, "%2 100%" };
    const Rejection system { Kind::systemFolder, "usr" };
    EXPECT_TRUE(drive.message().contains(u"“%2 100%”")) << drive.message().toStdString();
    EXPECT_NE(Rejection({ Kind::homeFolder, "usr" }).message(), system.message());
    EXPECT_EQ(ineligibleAlert({ system })->text, system.message());
    EXPECT_EQ(ineligibleAlert({ drive, system })->text,
        QStringLiteral(u"• ") + drive.message() + QStringLiteral(u"\n• ") + system.message());
    EXPECT_NE(ineligibleAlert({ drive, system })->title, ineligibleAlert({ system })->title);
}
