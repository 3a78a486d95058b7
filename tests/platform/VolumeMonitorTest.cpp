#include "platform/VolumeMonitor.h"
#include "platform/MountTable.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

using namespace kivo::platform;

namespace {

// A desktop's table: optional fields of every count, escaped names, a bind mount, an automount
// trigger with the real mount stacked on it, and the kernel's own file systems.
const char* const kDesktop = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
                             "23 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
                             "24 22 0:22 / /sys rw,nosuid shared:7 - sysfs sysfs rw\n"
                             "25 22 0:23 / /run rw,nosuid,nodev - tmpfs tmpfs rw,mode=755\n"
                             "40 25 8:17 / /run/media/ann/Sample\\040Drive rw,nosuid shared:200 master:3 - "
                             "exfat /dev/sdb1 rw,uid=1000\n"
                             "41 22 8:33 / /Volumes/Tab\\011Back\\134slash ro,relatime - vfat /dev/sdc1 ro\n"
                             "42 22 8:1 /home/ann/kits /mnt/kits rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                             "43 22 0:50 / /mnt/nas rw,relatime shared:30 - autofs systemd-1 rw,fd=48\n"
                             "44 43 0:51 / /mnt/nas rw,relatime shared:31 - nfs4 server:/export\\040all rw";

std::set<std::string> points(std::initializer_list<const char*> list)
{
    return std::set<std::string>(list.begin(), list.end());
}

} // namespace

TEST(MountTable, ParsesMountInfoWithEscapesOptionalFieldsAndStackedMountsSkippingMalformedLines)
{
    const MountTable table = MountTable::parse(kDesktop);
    ASSERT_EQ(table.entries().size(), 9u);

    EXPECT_EQ(table.entries()[4],
        (MountEntry { 40, 25, 8, 17, "/", "/run/media/ann/Sample Drive", "exfat", "/dev/sdb1", false }));
    EXPECT_EQ(table.entries()[5],
        (MountEntry { 41, 22, 8, 33, "/", "/Volumes/Tab\tBack\\slash", "vfat", "/dev/sdc1", true }));
    EXPECT_EQ(table.entries()[6].root, "/home/ann/kits");
    EXPECT_EQ(table.entries()[8].source, "server:/export all");

    // Kernel file systems and a bare automount trigger are no volumes; what is stacked on the
    // trigger is.
    EXPECT_EQ(table.mountPoints(),
        points({ "/", "/run", "/run/media/ann/Sample Drive", "/Volumes/Tab\tBack\\slash", "/mnt/kits",
            "/mnt/nas" }));
    EXPECT_EQ(table.volumeRoots(),
        points({ "/", "/run", "/run/media/ann/Sample Drive", "/Volumes/Tab\tBack\\slash", "/mnt/nas" }));
    EXPECT_TRUE(table.isMountPoint("/mnt/nas"));
    EXPECT_EQ(table.entryAt("/mnt/nas")->fileSystemType, "nfs4");
    EXPECT_FALSE(table.isMountPoint("/proc"));
    EXPECT_FALSE(table.isMountPoint("/run/media/ann"));
    EXPECT_EQ(table.entryAt("/nowhere"), nullptr);

    const MountTable triggerOnly = MountTable::parse("43 22 0:50 / /mnt/nas rw - autofs systemd-1 rw\n");
    EXPECT_FALSE(triggerOnly.isMountPoint("/mnt/nas"));
    EXPECT_TRUE(triggerOnly.mountPoints().empty());

    const MountTable malformed = MountTable::parse("garbage\n"
                                                   "\n"
                                                   "50 22 8:1 / relative rw - ext4 /dev/x rw\n"
                                                   "51 22 8:1 / /no/separator rw shared:1 ext4 /dev/x rw\n"
                                                   "x 22 8:1 / /bad/id rw - ext4 /dev/x rw\n"
                                                   "52 22 81 / /bad/device rw - ext4 /dev/x rw\n"
                                                   "53 22 8:1 / /short - ext4\n"
                                                   "54 22 8:1 / /missing/source rw - ext4\n"
                                                   "55 22 8:1 / /good rw - ext4 /dev/x rw\n"
                                                   "56 22 8:1 / /no/super/options rw - ext4 /dev/x");
    EXPECT_EQ(malformed.mountPoints(), points({ "/good", "/no/super/options" }));
    EXPECT_TRUE(MountTable::parse("").entries().empty());

    // Only complete three-digit octal escapes of a byte are decoded.
    const std::pair<const char*, const char*> escapes[] { { "a\\040b", "a b" }, { "\\012\\134", "\n\\" },
        { "a\\08b", "a\\08b" }, { "end\\04", "end\\04" }, { "big\\777", "big\\777" },
        { "trailing\\", "trailing\\" } };
    for (const auto& [field, text] : escapes)
        EXPECT_EQ(unescapeMountField(field), text) << field;
}

TEST(MountTable, ReadsThisProcessAndFilesAndTheMonitorWatchesThroughKernelEvents)
{
    VolumeMonitor monitor;
    EXPECT_EQ(monitor.watch(), VolumeMonitor::Watch::kernelEvents);
    EXPECT_TRUE(monitor.mountedVolumes().contains("/"));
    const auto own = MountTable::read();
    ASSERT_TRUE(own.has_value());
    EXPECT_TRUE(own->isMountPoint("/"));

    kivo::test::ScratchDir dir;
    const std::string file = dir.write("mountinfo", kDesktop);
    EXPECT_EQ(MountTable::read(file), MountTable::parse(kDesktop));
    EXPECT_FALSE(MountTable::read(dir.str() + "/absent").has_value());
}

TEST(RemovableMedia, VolumeIsTheParentPlusOneComponent)
{
    const std::pair<const char*, const char*> volumes[] { { "/Volumes/Drive/Samples", "/Volumes/Drive" },
        { "/Volumes/Drive", "/Volumes/Drive" }, { "//Volumes//Drive/", "/Volumes/Drive" },
        { "/media/ann/USB/Kits", "/media/ann/USB" }, { "/run/media/ann/USB", "/run/media/ann/USB" },
        { "/mnt/nas/loops", "/mnt/nas" } };
    for (const auto& [path, volume] : volumes)
        EXPECT_EQ(removableVolumeOf(path), volume) << path;
    for (const char* path :
        { "/media/ann", "/run/media/ann", "/run/user/1000/x/y", "/home/ann/Volumes/x", "/Volumes", "/", "" })
        EXPECT_EQ(removableVolumeOf(path), std::nullopt) << path;

    for (const char* parent :
        { "/Volumes", "/mnt", "/media", "/media/ann", "/run", "/run/media", "/run/media/ann" })
        EXPECT_TRUE(holdsRemovableMedia(parent)) << parent;
    for (const char* other :
        { "/", "", "/Volumes/Drive", "/mnt/nas", "/media/ann/USB", "/run/user", "/home" })
        EXPECT_FALSE(holdsRemovableMedia(other)) << other;
}

TEST(VolumeMonitor, ReportsMountsAndUnmountsAfterEachReadOrOnItsOwnTimer)
{
    std::optional<std::string> text = std::string(kDesktop);
    const auto source = [&]() -> std::optional<MountTable> {
        return text ? std::optional(MountTable::parse(*text)) : std::nullopt;
    };
    VolumeMonitor monitor(source, VolumeMonitor::Watch::none);
    EXPECT_TRUE(monitor.isMounted("/run/media/ann/Sample Drive"));
    EXPECT_FALSE(monitor.isMounted("/proc"));
    EXPECT_EQ(monitor.mountedVolumes().size(), 6);

    QStringList events;
    QObject::connect(&monitor, &VolumeMonitor::volumeMounted, [&](const QString& p) { events << "+" + p; });
    QObject::connect(&monitor, &VolumeMonitor::volumeUnmounted, [&](const QString& p) { events << "-" + p; });
    QObject::connect(&monitor, &VolumeMonitor::volumesChanged, [&] {
        // Listeners already see the new table.
        events << (monitor.isMounted("/media/ann/Kits 2") ? "changed, kits in" : "changed, kits out");
    });

    // Unchanged, or changed only in kernel file systems: nothing to report.
    monitor.refresh();
    *text += "\n60 24 0:60 / /sys/kernel/debug rw - debugfs debugfs rw";
    monitor.refresh();
    EXPECT_TRUE(events.isEmpty());

    // One drive leaves and another arrives in the same change.
    const std::string line = "40 25 8:17 / /run/media/ann/Sample\\040Drive";
    text->erase(text->find(line), text->find('\n', text->find(line)) - text->find(line) + 1);
    *text += "\n61 22 8:49 / /media/ann/Kits\\0402 rw - ext4 /dev/sdd1 rw";
    monitor.refresh();
    EXPECT_EQ(
        events, QStringList({ "-/run/media/ann/Sample Drive", "+/media/ann/Kits 2", "changed, kits in" }));
    EXPECT_FALSE(monitor.isMounted("/run/media/ann/Sample Drive"));
    EXPECT_EQ(monitor.table().entries().back().fileSystemType, "ext4");

    // A table that cannot be read leaves the last one standing.
    events.clear();
    text.reset();
    monitor.refresh();
    EXPECT_TRUE(events.isEmpty());
    EXPECT_TRUE(monitor.isMounted("/media/ann/Kits 2"));

    // The timer fallback notices a change with nobody asking.
    text = std::string(kDesktop);
    VolumeMonitor timed(source, VolumeMonitor::Watch::timer);
    EXPECT_EQ(timed.watch(), VolumeMonitor::Watch::timer);
    timed.setFallbackInterval(5);
    QSignalSpy mounted(&timed, &VolumeMonitor::volumeMounted);
    *text += "\n62 22 8:65 / /Volumes/Late rw - hfsplus /dev/sde1 rw";
    ASSERT_TRUE(mounted.wait(10000));
    EXPECT_EQ(mounted.first().first().toString(), "/Volumes/Late");
}

// Real mounts need a mount namespace of our own: the test runs itself again inside one (where it
// may mount a tmpfs) and is skipped where the machine allows no such namespace.
TEST(VolumeMonitor, HearsRealMountsAndUnmounts)
{
    static constexpr const char* kInside = "KIVO_TEST_IN_MOUNT_NAMESPACE";
    if (qEnvironmentVariableIsSet(kInside)) {
        kivo::test::ScratchDir dir;
        const QString point = QString::fromStdString(dir.mkdir("Sample Drive"));
        VolumeMonitor monitor;
        ASSERT_EQ(monitor.watch(), VolumeMonitor::Watch::kernelEvents);
        QSignalSpy mounted(&monitor, &VolumeMonitor::volumeMounted);
        QSignalSpy unmounted(&monitor, &VolumeMonitor::volumeUnmounted);
        QSignalSpy changed(&monitor, &VolumeMonitor::volumesChanged);

        ASSERT_EQ(::mount("kivo", point.toLocal8Bit().constData(), "tmpfs", 0, nullptr), 0)
            << std::strerror(errno);
        ASSERT_TRUE(mounted.wait(10000));
        EXPECT_EQ(mounted.first().first().toString(), point);
        EXPECT_TRUE(monitor.isMounted(point));
        EXPECT_EQ(changed.size(), 1);

        ASSERT_EQ(::umount(point.toLocal8Bit().constData()), 0) << std::strerror(errno);
        ASSERT_TRUE(unmounted.wait(10000));
        EXPECT_EQ(unmounted.first().first().toString(), point);
        EXPECT_FALSE(monitor.isMounted(point));
        EXPECT_EQ(mounted.size(), 1);
        return;
    }

    const QString unshare = QStandardPaths::findExecutable("unshare");
    if (unshare.isEmpty())
        GTEST_SKIP() << "unshare is not installed";
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(kInside, "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(unshare,
        { "--user", "--map-root-user", "--mount", QCoreApplication::applicationFilePath(),
            "--gtest_filter=VolumeMonitor.HearsRealMountsAndUnmounts" });
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    if (!output.contains("[ RUN      ]"))
        GTEST_SKIP() << "no private mount namespace here: " << output.trimmed().toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
}
