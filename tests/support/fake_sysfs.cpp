#include "support/fake_sysfs.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <boost/filesystem/operations.hpp>
#include <stdexcept>

#include "support/temp_folder.h"

namespace orvel::test {

namespace fs = boost::filesystem;

fake_sysfs::fake_sysfs(const std::string& root) : root_(root) {
    if (!root_.empty() && root_.back() == '/') {
        root_.pop_back();
    }
    fs::create_directories(root_ + "/dev/block");
}

void fake_sysfs::add_disk(const std::string& parent, const std::string& name,
                          const std::string& number, bool removable) {
    const std::string device = "devices/" + parent + "/block/" + name;
    fs::create_directories(root_ + "/" + device);
    write_file(root_ + "/" + device + "/dev", number + "\n");
    write_file(root_ + "/" + device + "/removable", removable ? "1\n" : "0\n");
    disks_[name] = device;
    link_number(number, device);
}

void fake_sysfs::add_partition(const std::string& disk, const std::string& name,
                               const std::string& number) {
    const std::string device = disks_.at(disk) + "/" + name;
    fs::create_directories(root_ + "/" + device);
    write_file(root_ + "/" + device + "/dev", number + "\n");
    write_file(root_ + "/" + device + "/partition", "1\n");
    link_number(number, device);
}

void fake_sysfs::add_usb_serial_port(const std::string& usb, const std::string& vendor,
                                     const std::string& product, const std::string& driver,
                                     const std::string& tty) {
    const std::string device = root_ + "/devices/usb1/" + usb;
    const std::string port = device + "/" + usb + ":1.0/" + tty;
    fs::create_directories(port + "/tty/" + tty);
    fs::create_directories(root_ + "/class/tty");
    write_file(device + "/idVendor", vendor + "\n");
    write_file(device + "/product", product + "\n");
    // Relative, as the kernel makes them; only the driver link's last part is read.
    fs::create_symlink("../../../../bus/usb-serial/drivers/" + driver, port + "/driver");
    fs::create_symlink("../../../" + tty, port + "/tty/" + tty + "/device");
    fs::create_symlink("../../devices/usb1/" + usb + "/" + usb + ":1.0/" + tty + "/tty/" + tty,
                       root_ + "/class/tty/" + tty);
}

void fake_sysfs::link_number(const std::string& number, const std::string& device) {
    // Relative, as the kernel makes them, so the tree may lie anywhere.
    fs::create_symlink("../../" + device, root_ + "/dev/block/" + number);
}

std::string device_number_of(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw std::runtime_error("cannot stat " + path);
    }
    return std::to_string(major(info.st_dev)) + ":" + std::to_string(minor(info.st_dev));
}

}  // namespace orvel::test
