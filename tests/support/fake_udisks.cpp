#include "support/fake_udisks.h"

#include <systemd/sd-bus.h>

#include <stdexcept>

namespace orvel::test {

namespace {

const std::string root_path = "/org/freedesktop/UDisks2";

std::string drive_path(const std::string& name) {
    return root_path + "/drives/" + name;
}

fake_udisks::object& object_of(void* userdata) {
    return *static_cast<fake_udisks::object*>(userdata);
}

int get_drive(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
              sd_bus_error*) {
    return sd_bus_message_append(reply, "o", object_of(userdata).drive_path.c_str());
}

int get_device_number(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                      void* userdata, sd_bus_error*) {
    return sd_bus_message_append(reply, "t", object_of(userdata).device_number);
}

int get_mount_points(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                     void* userdata, sd_bus_error*) {
    fake_udisks::object& block = object_of(userdata);
    std::lock_guard<std::mutex> lock(block.owner->state_mutex());
    int r = sd_bus_message_open_container(reply, 'a', "ay");
    for (const std::string& point : block.mount_points) {
        if (r >= 0) {
            // Zero-terminated, as the service sends them.
            r = sd_bus_message_append_array(reply, 'y', point.c_str(), point.size() + 1);
        }
    }
    return r < 0 ? r : sd_bus_message_close_container(reply);
}

int get_can_power_off(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                      void* userdata, sd_bus_error*) {
    return sd_bus_message_append(reply, "b", object_of(userdata).can_power_off ? 1 : 0);
}

int answer(sd_bus_message* call, fake_udisks::object& target, const char* method,
           sd_bus_error* error, bool unmounts) {
    std::string refusal;
    if (!target.owner->take_call(method, target.name, refusal)) {
        return sd_bus_error_set(error, refusal.c_str(), "refused by the test");
    }
    if (unmounts) {
        std::lock_guard<std::mutex> lock(target.owner->state_mutex());
        target.mount_points.clear();
    }
    return sd_bus_reply_method_return(call, "");
}

int on_unmount(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    return answer(call, object_of(userdata), "Unmount", error, true);
}

int on_power_off(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    return answer(call, object_of(userdata), "PowerOff", error, false);
}

int on_eject(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    return answer(call, object_of(userdata), "Eject", error, false);
}

const sd_bus_vtable block_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Drive", "o", get_drive, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("DeviceNumber", "t", get_device_number, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};

const sd_bus_vtable filesystem_vtable[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_PROPERTY("MountPoints", "aay", get_mount_points, 0, 0),
    SD_BUS_METHOD("Unmount", "a{sv}", "", on_unmount, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

const sd_bus_vtable drive_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("CanPowerOff", "b", get_can_power_off, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("PowerOff", "a{sv}", "", on_power_off, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Eject", "a{sv}", "", on_eject, SD_BUS_VTABLE_UNPRIVILEGED), SD_BUS_VTABLE_END};

void require(int result, const char* step) {
    if (result < 0) {
        throw std::runtime_error(std::string("fake disk service: ") + step + " failed");
    }
}

}  // namespace

fake_udisks::fake_udisks(const std::string& bus_address) {
    require(sd_bus_new(&bus_), "sd_bus_new");
    require(sd_bus_set_address(bus_, bus_address.c_str()), "sd_bus_set_address");
    require(sd_bus_set_bus_client(bus_, 1), "sd_bus_set_bus_client");
    require(sd_bus_start(bus_), "sd_bus_start");
    require(sd_bus_add_object_manager(bus_, nullptr, root_path.c_str()), "object manager");
}

fake_udisks::~fake_udisks() {
    stop_ = true;
    if (server_.joinable()) {
        server_.join();
    }
    sd_bus_flush_close_unref(bus_);
}

void fake_udisks::add_drive(const std::string& name, bool can_power_off) {
    object& drive = objects_.emplace_back();
    drive.owner = this;
    drive.name = name;
    drive.can_power_off = can_power_off;
    require(sd_bus_add_object_vtable(bus_, nullptr, drive_path(name).c_str(),
                                     "org.freedesktop.UDisks2.Drive", drive_vtable, &drive),
            "drive object");
}

void fake_udisks::add_block(const std::string& name, std::uint64_t device_number,
                            const std::string& drive, bool filesystem,
                            const std::vector<std::string>& mount_points) {
    object& block = objects_.emplace_back();
    block.owner = this;
    block.name = name;
    block.device_number = device_number;
    block.drive_path = drive_path(drive);
    block.mount_points = mount_points;
    const std::string path = root_path + "/block_devices/" + name;
    require(sd_bus_add_object_vtable(bus_, nullptr, path.c_str(), "org.freedesktop.UDisks2.Block",
                                     block_vtable, &block),
            "block object");
    if (filesystem) {
        require(sd_bus_add_object_vtable(bus_, nullptr, path.c_str(),
                                         "org.freedesktop.UDisks2.Filesystem", filesystem_vtable,
                                         &block),
                "filesystem object");
    }
}

void fake_udisks::start() {
    require(sd_bus_request_name(bus_, "org.freedesktop.UDisks2", 0), "name request");
    server_ = std::thread([this] { serve(); });
}

void fake_udisks::serve() {
    while (!stop_) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r < 0) {
            return;
        }
        if (r == 0) {
            sd_bus_wait(bus_, 50000);  // microseconds; short so that stopping is quick
        }
    }
}

void fake_udisks::refuse(const std::string& method, int times, const std::string& error_name) {
    std::lock_guard<std::mutex> lock(mutex_);
    refusals_[method] = {times, error_name};
}

bool fake_udisks::take_call(const std::string& method, const std::string& name,
                            std::string& error_name) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(method + " " + name);
    auto refusal = refusals_.find(method);
    if (refusal == refusals_.end() || refusal->second.first <= 0) {
        return true;
    }
    --refusal->second.first;
    error_name = refusal->second.second;
    return false;
}

std::vector<std::string> fake_udisks::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> fake_udisks::mount_points(const std::string& block) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const object& o : objects_) {
        if (o.name == block) {
            return o.mount_points;
        }
    }
    return {};
}

}  // namespace orvel::test
