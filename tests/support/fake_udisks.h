// A stand-in for the system's disk service on a test bus: drives and block devices with the
// properties and methods an eject uses. Every method call is recorded; calls can be refused.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct sd_bus;

namespace orvel::test {

class fake_udisks {
public:
    // Connects to the bus; objects are added before start().
    explicit fake_udisks(const std::string& bus_address);
    ~fake_udisks();
    fake_udisks(const fake_udisks&) = delete;
    fake_udisks& operator=(const fake_udisks&) = delete;

    void add_drive(const std::string& name, bool can_power_off);
    // A block device of a drive added before; mount points make it a mounted file system.
    void add_block(const std::string& name, std::uint64_t device_number, const std::string& drive,
                   bool filesystem, const std::vector<std::string>& mount_points = {});
    // Takes the service name and answers calls on a thread of its own.
    void start();

    // The next `times` calls of the method ("Unmount", "PowerOff", "Eject") fail with the
    // D-Bus error name.
    void refuse(const std::string& method, int times, const std::string& error_name);
    // "<method> <object name>" for every call, refused ones included, in order.
    std::vector<std::string> calls() const;
    std::vector<std::string> mount_points(const std::string& block) const;

    struct object {
        fake_udisks* owner = nullptr;
        std::string name;
        // A block device's
        std::uint64_t device_number = 0;
        std::string drive_path;
        std::vector<std::string> mount_points;
        // A drive's
        bool can_power_off = false;
    };

    // For the bus handlers: records the call; false (with the error name) when refused.
    bool take_call(const std::string& method, const std::string& name, std::string& error_name);
    std::mutex& state_mutex() const { return mutex_; }

private:
    void serve();

    sd_bus* bus_ = nullptr;
    std::list<object> objects_;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::map<std::string, std::pair<int, std::string>> refusals_;
    std::atomic<bool> stop_{false};
    std::thread server_;
};

}  // namespace orvel::test
