#include "platform/posix/udisks_eject.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/system_error.h"

namespace orvel::platform {

namespace {

constexpr const char* service = "org.freedesktop.UDisks2";
constexpr const char* manager_path = "/org/freedesktop/UDisks2";
constexpr const char* block_interface = "org.freedesktop.UDisks2.Block";
constexpr const char* filesystem_interface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* drive_interface = "org.freedesktop.UDisks2.Drive";

struct bus_closer {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using bus_ptr = std::unique_ptr<sd_bus, bus_closer>;

struct message_releaser {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using message_ptr = std::unique_ptr<sd_bus_message, message_releaser>;

class bus_error {
public:
    bus_error() = default;
    ~bus_error() { sd_bus_error_free(&error_); }
    bus_error(const bus_error&) = delete;
    bus_error& operator=(const bus_error&) = delete;

    sd_bus_error* get() { return &error_; }
    // Fills the refusal from the call's result and the service's error, if it sent one.
    bool refuse(int result, unsigned step, eject_refusal& refusal) const {
        refusal.step = step;
        if (sd_bus_error_is_set(&error_) != 0) {
            refusal.error = sd_bus_error_get_errno(&error_);
            refusal.name = error_.name;
        } else {
            refusal.error = -result;
            refusal.name = error_text(-result);
        }
        return false;
    }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

// What the disk service tells of one of its objects.
struct disk_object {
    std::string path;
    bool block = false;
    std::uint64_t device_number = 0;
    std::string drive;
    bool filesystem = false;
    bool mounted = false;
    bool is_drive = false;
    bool can_power_off = false;
};

// Reads one property value of the interface into the object, skipping what is not needed.
int read_property(sd_bus_message* m, const std::string& interface, const std::string& name,
                  disk_object& object) {
    int r = 0;
    if (interface == block_interface && name == "Drive") {
        const char* drive = nullptr;
        r = sd_bus_message_read(m, "v", "o", &drive);
        if (r >= 0) {
            object.drive = drive;
        }
    } else if (interface == block_interface && name == "DeviceNumber") {
        r = sd_bus_message_read(m, "v", "t", &object.device_number);
    } else if (interface == filesystem_interface && name == "MountPoints") {
        r = sd_bus_message_enter_container(m, 'v', "aay");
        if (r >= 0) {
            r = sd_bus_message_enter_container(m, 'a', "ay");
        }
        while (r >= 0) {
            const void* bytes = nullptr;
            std::size_t size = 0;
            r = sd_bus_message_read_array(m, 'y', &bytes, &size);
            if (r <= 0) {
                break;
            }
            // Each mount point is a zero-terminated byte array.
            if (size > 1) {
                object.mounted = true;
            }
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(m);
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(m);
        }
    } else if (interface == drive_interface && name == "CanPowerOff") {
        int can = 0;
        r = sd_bus_message_read(m, "v", "b", &can);
        object.can_power_off = can != 0;
    } else {
        r = sd_bus_message_skip(m, "v");
    }
    return r;
}

// The reply of GetManagedObjects: a{oa{sa{sv}}}.
int read_objects(sd_bus_message* m, std::vector<disk_object>& objects) {
    int r = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        disk_object object;
        const char* path = nullptr;
        r = sd_bus_message_read(m, "o", &path);
        if (r >= 0) {
            object.path = path;
            r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
        }
        while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
            const char* interface = nullptr;
            r = sd_bus_message_read(m, "s", &interface);
            const std::string interface_name = r >= 0 ? interface : "";
            object.block = object.block || interface_name == block_interface;
            object.filesystem = object.filesystem || interface_name == filesystem_interface;
            object.is_drive = object.is_drive || interface_name == drive_interface;
            if (r >= 0) {
                r = sd_bus_message_enter_container(m, 'a', "{sv}");
            }
            while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
                const char* name = nullptr;
                r = sd_bus_message_read(m, "s", &name);
                if (r >= 0) {
                    r = read_property(m, interface_name, name, object);
                }
                if (r >= 0) {
                    r = sd_bus_message_exit_container(m);
                }
            }
            if (r >= 0) {
                r = sd_bus_message_exit_container(m);  // a{sv}
            }
            if (r >= 0) {
                r = sd_bus_message_exit_container(m);  // the interface entry
            }
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(m);  // a{sa{sv}}
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(m);  // the object entry
        }
        objects.push_back(object);
    }
    if (r >= 0) {
        r = sd_bus_message_exit_container(m);
    }
    return r;
}

// Interfaces' methods that take only an options dictionary, left empty.
int call_with_no_options(sd_bus* bus, const std::string& path, const char* interface,
                         const char* method, bus_error& error) {
    return sd_bus_call_method(bus, service, path.c_str(), interface, method, error.get(), nullptr,
                              "a{sv}", 0);
}

}  // namespace

bool request_disk_eject(std::uint64_t disk_number, eject_refusal& refusal) {
    sd_bus* raw_bus = nullptr;
    int r = sd_bus_open_system(&raw_bus);
    bus_ptr bus(raw_bus);
    if (r < 0) {
        return bus_error().refuse(r, 0, refusal);
    }
    // As a file manager would: the user may be asked to allow the eject.
    sd_bus_set_allow_interactive_authorization(bus.get(), 1);

    bus_error listing_error;
    sd_bus_message* raw_reply = nullptr;
    r = sd_bus_call_method(bus.get(), service, manager_path, "org.freedesktop.DBus.ObjectManager",
                           "GetManagedObjects", listing_error.get(), &raw_reply, "");
    message_ptr reply(raw_reply);
    if (r < 0) {
        return listing_error.refuse(r, 0, refusal);
    }
    std::vector<disk_object> objects;
    r = read_objects(reply.get(), objects);
    if (r < 0) {
        return bus_error().refuse(r, 0, refusal);
    }

    std::string drive;
    for (const disk_object& object : objects) {
        if (object.block && object.device_number == disk_number) {
            drive = object.drive;
        }
    }
    const disk_object* drive_object = nullptr;
    for (const disk_object& object : objects) {
        if (object.is_drive && object.path == drive) {
            drive_object = &object;
        }
    }
    if (drive_object == nullptr) {
        refusal = {ENODEV, 0, "no drive for the disk"};
        return false;
    }

    for (const disk_object& object : objects) {
        if (object.block && object.filesystem && object.mounted && object.drive == drive) {
            bus_error error;
            r = call_with_no_options(bus.get(), object.path, filesystem_interface, "Unmount",
                                     error);
            if (r < 0) {
                return error.refuse(r, 1, refusal);
            }
        }
    }
    bus_error error;
    r = call_with_no_options(bus.get(), drive, drive_interface,
                             drive_object->can_power_off ? "PowerOff" : "Eject", error);
    if (r < 0) {
        return error.refuse(r, 2, refusal);
    }
    return true;
}

}  // namespace orvel::platform
