// A sysfs tree in a test folder: block devices (disks, partitions and the dev/block links)
// and USB serial ports.
#pragma once

#include <map>
#include <string>

namespace orvel::test {

class fake_sysfs {
public:
    // The tree is made below root (a folder that exists).
    explicit fake_sysfs(const std::string& root);

    // A disk below devices/<parent>/block/<name>; number is "<major>:<minor>".
    void add_disk(const std::string& parent, const std::string& name, const std::string& number,
                  bool removable);
    // A partition of a disk added before.
    void add_partition(const std::string& disk, const std::string& name, const std::string& number);

    // A port <tty> of a USB serial driver, as the kernel shows it under class/tty, on a USB
    // device of its own (devices/usb1/<usb>) with the vendor id and the product string.
    void add_usb_serial_port(const std::string& usb, const std::string& vendor,
                             const std::string& product, const std::string& driver,
                             const std::string& tty);

    const std::string& root() const { return root_; }

private:
    void link_number(const std::string& number, const std::string& device);

    std::string root_;
    std::map<std::string, std::string> disks_;  // name -> folder below devices/
};

// "<major>:<minor>" of the device that holds the path.
std::string device_number_of(const std::string& path);

}  // namespace orvel::test
