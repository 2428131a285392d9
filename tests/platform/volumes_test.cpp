#include "platform/volumes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <boost/filesystem/operations.hpp>

#include <cstdlib>

#include "support/capture_logger.h"
#include "support/fake_sysfs.h"
#include "support/temp_folder.h"

namespace orvel::platform {
namespace {

namespace fs = boost::filesystem;

const std::string usb_port = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0";
const std::string sata_port = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
const std::string reader_port = "pci0000:00/0000:00:1c.0/0000:02:00.0/mmc_host/mmc0/mmc0:0001";

class VolumeListing : public ::testing::Test {
protected:
    VolumeListing() {
        // A folder named like a USB bus above the tree must not make every disk a USB one.
        fs::create_directories(folder / "usb3/sys");
        sysfs = std::make_unique<test::fake_sysfs>(folder / "usb3/sys");
        sysfs->add_disk(sata_port, "sda", "8:0", false);
        sysfs->add_partition("sda", "sda1", "8:1");
        sysfs->add_partition("sda", "sda2", "8:2");
        sysfs->add_disk(reader_port, "mmcblk0", "179:0", true);
        sysfs->add_partition("mmcblk0", "mmcblk0p1", "179:1");
        // A unit that reports a fixed medium but hangs on a USB port, formatted without a
        // partition table.
        sysfs->add_disk(usb_port, "sdb", "8:16", false);
        sysfs->add_disk(usb_port + "x", "sdc", "8:32", false);
        sysfs->add_partition("sdc", "sdc1", "8:33");
    }

    volume_sources sources(const std::string& mountinfo, const std::string& simulated = {}) {
        volume_sources result;
        result.mountinfo = folder / "mountinfo";
        test::write_file(result.mountinfo, mountinfo);
        result.sysfs = sysfs->root();
        result.simulated = simulated;
        return result;
    }

    test::temp_folder folder{"volumes"};
    std::unique_ptr<test::fake_sysfs> sysfs;
};

const std::string mounts =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
    "24 22 8:2 / /home rw,relatime shared:2 - ext4 /dev/sda2 rw\n"
    "30 22 179:1 / /media/ann/CARD rw,nosuid shared:40 - vfat /dev/mmcblk0p1 rw\n"
    "31 22 8:16 / /media/ann/ORVEL\\040UNIT rw,nosuid shared:41 - vfat /dev/sdb rw\n"
    "32 22 8:33 / /media/ann/Z rw,nosuid shared:42 - exfat /dev/sdc1 rw\n"
    "33 22 8:33 /GPS /mnt/bound rw shared:42 - exfat /dev/sdc1 rw\n"
    "34 22 8:33 / /mnt/again rw shared:42 - exfat /dev/sdc1 rw\n"
    "35 22 7:0 / /snap/core rw shared:50 - squashfs /dev/loop0 ro\n"
    "36 22 0:45 / /tmp rw shared:51 - tmpfs tmpfs rw\n"
    "garbage line\n";

TEST_F(VolumeListing, NamesTheRootsOfRemovableAndUsbDisksOnly) {
    EXPECT_EQ(
        removable_volumes(sources(mounts)),
        (std::vector<std::string>{"/media/ann/CARD/", "/media/ann/ORVEL UNIT/", "/media/ann/Z/"}));
}

TEST_F(VolumeListing, SimulatedVolumesComeFirstInTheirOrder) {
    EXPECT_EQ(removable_volumes(sources(mounts, "/srv/b::/srv/a/")),
              (std::vector<std::string>{"/srv/b/", "/srv/a/", "/media/ann/CARD/",
                                        "/media/ann/ORVEL UNIT/", "/media/ann/Z/"}));
    EXPECT_EQ(removable_volumes(sources("", "/srv/only")),
              (std::vector<std::string>{"/srv/only/"}));

    volume_sources missing = sources("", "/srv/x");
    missing.mountinfo = folder / "no-such-mountinfo";
    EXPECT_EQ(removable_volumes(missing), (std::vector<std::string>{"/srv/x/"}));
}

TEST(VolumeSources, SimulatedVolumesComeFromTheEnvironment) {
    const char* before = std::getenv("ORVELSYNC_VOLUMES");
    const std::string kept = before != nullptr ? before : "";
    ::setenv("ORVELSYNC_VOLUMES", "/srv/unit-a:/srv/unit-b", 1);
    const volume_sources sources = default_volume_sources();
    const std::vector<std::string> roots = removable_volumes();
    if (before != nullptr) {
        ::setenv("ORVELSYNC_VOLUMES", kept.c_str(), 1);
    } else {
        ::unsetenv("ORVELSYNC_VOLUMES");
    }
    EXPECT_EQ(sources.mountinfo, "/proc/self/mountinfo");
    EXPECT_EQ(sources.sysfs, "/sys");
    EXPECT_EQ(sources.simulated, "/srv/unit-a:/srv/unit-b");
    ASSERT_GE(roots.size(), 2u);
    EXPECT_EQ(roots[0], "/srv/unit-a/");
    EXPECT_EQ(roots[1], "/srv/unit-b/");
}

TEST(VolumeDevice, NumbersAndDisksOfAVolumeRoot) {
    test::temp_folder folder("volume-disk");
    const std::string volume = folder / "volume/";
    fs::create_directory(volume);
    test::fake_sysfs sysfs(folder / "sys");
    const std::string number = test::device_number_of(volume);

    struct stat info {};
    ASSERT_EQ(::stat(volume.c_str(), &info), 0);
    EXPECT_EQ(volume_device_number(volume), static_cast<std::int64_t>(info.st_dev));

    volume_sources sources;
    sources.sysfs = sysfs.root();
    test::capture_logger logger;
    EXPECT_EQ(disk_device_instance(volume, sources), "");
    EXPECT_TRUE(logger.mentions("find_disk " + number + ": 2. No such file or directory"));

    sysfs.add_disk(usb_port, "sdq", "8:64", false);
    sysfs.add_partition("sdq", "sdq1", number);
    EXPECT_EQ(disk_device_instance(volume, sources), "sdq");

    logger.clear();
    EXPECT_EQ(volume_device_number(folder / "missing/"), -1);
    EXPECT_EQ(disk_device_instance(folder / "missing/", sources), "");
    EXPECT_TRUE(logger.contains("stat: 2. No such file or directory"));
}

TEST(VolumeDevice, AWholeDiskVolumeIsItsOwnDisk) {
    test::temp_folder folder("volume-disk");
    test::fake_sysfs sysfs(folder / "sys");
    sysfs.add_disk(usb_port, "sdr", test::device_number_of(folder.path()), false);
    volume_sources sources;
    sources.sysfs = sysfs.root();
    EXPECT_EQ(disk_device_instance(folder.path(), sources), "sdr");
}

}  // namespace
}  // namespace orvel::platform
