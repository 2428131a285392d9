// The serial port against a pseudo-terminal, and the port list from a recorded sysfs tree.
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <chrono>
#include <mutex>
#include <thread>

#include "devices/serial/comm_connection.h"
#include "platform/serial_port.h"
#include "platform/serial_ports.h"
#include "sim/pty_line.h"
#include "support/capture_logger.h"
#include "support/fake_sysfs.h"
#include "support/temp_folder.h"

namespace orvel {
namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
namespace fs = boost::filesystem;

// The far end of a port: keeps what the port writes.
struct far_end {
    far_end()
        : line([this](const std::uint8_t* bytes, std::size_t count) {
              std::lock_guard<std::mutex> lock(mutex);
              got.insert(got.end(), bytes, bytes + count);
          }) {}

    void send(const std::string& text, unsigned pieces = 1) {
        line.send(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), pieces);
    }
    std::string received() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::string(got.begin(), got.end());
    }

    std::mutex mutex;
    byte_vector got;
    test::pty_line line;
};

struct timed_read {
    std::string bytes;
    steady::duration took;
};

timed_read read_timed(platform::serial_port& port, std::size_t capacity) {
    std::string buffer(capacity, '\0');
    const steady::time_point start = steady::now();
    const std::size_t n = port.read(buffer.data(), capacity);
    return {buffer.substr(0, n), steady::now() - start};
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(port.open(unit.line.path(), 460800));
        ASSERT_TRUE(port.set_line_settings());
    }

    far_end unit;
    platform::serial_port port;
};

TEST_F(SerialPort, ReadEndsWhenFullWhenQuietOrWhenItsTimeIsUp) {
    // Quiet line: 25 ms pause, then 100 ms + 1 ms for each of 200 bytes asked.
    timed_read quiet = read_timed(port, 200);
    EXPECT_EQ(quiet.bytes, "");
    EXPECT_GE(quiet.took, 320ms);
    EXPECT_LT(quiet.took, 500ms);

    // A full buffer returns at once.
    unit.send("0123456789");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(port.available(), 10);
    timed_read full = read_timed(port, 4);
    EXPECT_EQ(full.bytes, "0123");
    EXPECT_LT(full.took, 60ms);

    // With room left, 100 ms without a new byte ends the read, long before its total.
    timed_read rest = read_timed(port, 2000);
    EXPECT_EQ(rest.bytes, "456789");
    EXPECT_GE(rest.took, 120ms);
    EXPECT_LT(rest.took, 300ms);

    // Bytes that keep coming end it at its total time: 100 ms + 1 ms per byte asked.
    std::thread trickle([this] {
        for (int i = 0; i < 12; ++i) {
            unit.send("x");
            std::this_thread::sleep_for(50ms);
        }
    });
    timed_read busy = read_timed(port, 300);
    trickle.join();
    EXPECT_GE(busy.took, 420ms);
    EXPECT_LT(busy.took, 550ms);
    EXPECT_GE(busy.bytes.size(), 6u);
    EXPECT_LT(busy.bytes.size(), 12u);
}

TEST_F(SerialPort, ReplyInPiecesGatheredWithinTheQuietTimeComesInOneRead) {
    std::thread unit_side([this] {
        std::this_thread::sleep_for(10ms);
        unit.send("$OK", 1);
        std::this_thread::sleep_for(60ms);
        unit.send("CN\r", 1);
    });
    const timed_read reply = read_timed(port, 1024);
    unit_side.join();
    EXPECT_EQ(reply.bytes, "$OKCN\r");
}

TEST_F(SerialPort, WriteReachesTheFarEndAndPausesAfterwards) {
    const std::string command(4110, 'c');
    const steady::time_point start = steady::now();
    EXPECT_EQ(port.write(command.data(), command.size()), command.size());
    EXPECT_GE(steady::now() - start, 100ms);
    EXPECT_TRUE(port.flush());
    const steady::time_point until = steady::now() + 2s;
    while (unit.received().size() < command.size() && steady::now() < until) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(unit.received(), command);
}

TEST_F(SerialPort, ClosedPortFailsEveryCallWithItsOperationName) {
    test::capture_logger logger;
    EXPECT_EQ(port.path(), unit.line.path());
    EXPECT_EQ(port.baud(), 460800u);
    port.close();
    EXPECT_FALSE(port.is_open());
    EXPECT_EQ(port.baud(), 0u);
    EXPECT_EQ(port.path(), "");
    char byte = 0;
    EXPECT_EQ(port.read(&byte, 1), 0u);
    EXPECT_EQ(port.write("x", 1), 0u);
    EXPECT_EQ(port.available(), -1);
    EXPECT_TRUE(logger.mentions("ReadFile failed: 9. Bad file descriptor"));
    EXPECT_TRUE(logger.mentions("WriteFile failed: 9. "));
    EXPECT_TRUE(logger.mentions("ClearCommError failed: 9. "));
}

TEST_F(SerialPort, OpeningAgainClosesFirstAndDiscardsWhatWasQueued) {
    unit.send("stale");
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(port.open(unit.line.path(), 9600));
    EXPECT_EQ(port.baud(), 9600u);
    EXPECT_EQ(port.available(), 0);

    test::capture_logger logger;
    platform::serial_port other;
    EXPECT_FALSE(other.open(unit.line.path(), 12345));
    EXPECT_FALSE(other.open("/nonexistent/tty", 9600));
    EXPECT_TRUE(logger.contains("Create file failed: 2. No such file or directory"));
    EXPECT_FALSE(other.open("/dev/null", 9600));  // not a terminal
    EXPECT_TRUE(logger.mentions("Create file failed: 25. "));
}

// A sysfs tree as a Debian machine shows it with four USB serial devices, a built-in UART
// and the virtual terminals. Links are relative, as the kernel makes them.
void replay_sysfs(const std::string& root) {
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/";
    struct node {
        const char* path;
        const char* link;     // a symbolic link when not null
        const char* content;  // else a file with this line
    };
    const std::vector<node> tree = {
        {"devices/pci0000:00/0000:00:14.0/usb1/1-1/idVendor", nullptr, "10c4"},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-1/product", nullptr,
         "CP2102 USB to UART Bridge Controller"},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB10/driver",
         "../../../../../../../bus/usb-serial/drivers/cp210x", nullptr},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB10/tty/ttyUSB10/dev", nullptr,
         "188:10"},
        {"class/tty/ttyUSB10",
         "../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB10/tty/ttyUSB10", nullptr},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-2/idVendor", nullptr, "067b"},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-2/product", nullptr, "USB-Serial Controller"},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB2/driver",
         "../../../../../../../bus/usb-serial/drivers/pl2303", nullptr},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB2/tty/ttyUSB2/dev", nullptr,
         "188:2"},
        {"class/tty/ttyUSB2",
         "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB2/tty/ttyUSB2", nullptr},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-3/idVendor", nullptr, "10c4"},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/ttyUSB3/driver",
         "../../../../../../../bus/usb-serial/drivers/cp210x", nullptr},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/ttyUSB3/tty/ttyUSB3/dev", nullptr,
         "188:3"},
        {"class/tty/ttyUSB3",
         "../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/ttyUSB3/tty/ttyUSB3", nullptr},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-4/idVendor", nullptr, "1546"},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-4/product", nullptr, "u-blox GNSS receiver"},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/driver",
         "../../../../../../bus/usb/drivers/cdc_acm", nullptr},
        {"devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/tty/ttyACM0/dev", nullptr, "166:0"},
        {"class/tty/ttyACM0", "../../devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/tty/ttyACM0",
         nullptr},
        {"devices/platform/serial8250/tty/ttyS0/dev", nullptr, "4:64"},
        {"class/tty/ttyS0", "../../devices/platform/serial8250/tty/ttyS0", nullptr},
        {"devices/virtual/tty/tty0/dev", nullptr, "4:0"},
        {"class/tty/tty0", "../../devices/virtual/tty/tty0", nullptr},
    };
    for (const node& entry : tree) {
        const fs::path path = fs::path(root) / entry.path;
        fs::create_directories(path.parent_path());
        if (entry.link != nullptr) {
            fs::create_symlink(entry.link, path);
        } else {
            test::write_file(path.string(), std::string(entry.content) + "\n");
        }
    }
    // Each port's "device" link, as the tty class folder shows it.
    fs::create_symlink("../../../ttyUSB10",
                       root + "/" + usb + "1-1/1-1:1.0/ttyUSB10/tty/ttyUSB10/device");
    fs::create_symlink("../../../ttyUSB2",
                       root + "/" + usb + "1-2/1-2:1.0/ttyUSB2/tty/ttyUSB2/device");
    fs::create_symlink("../../../ttyUSB3",
                       root + "/" + usb + "1-3/1-3:1.0/ttyUSB3/tty/ttyUSB3/device");
    fs::create_symlink("../../../1-4:1.0", root + "/" + usb + "1-4/1-4:1.0/tty/ttyACM0/device");
    fs::create_symlink("../../../serial8250",
                       root + "/devices/platform/serial8250/tty/ttyS0/device");
}

// "<name> (<device>)" of every port listed, as the simulated list is written.
std::vector<std::string> listed(const platform::serial_port_sources& sources) {
    std::vector<std::string> names;
    for (const platform::serial_port_entry& port : platform::serial_ports(sources)) {
        names.push_back(port.name + " (" + port.device + ")");
    }
    return names;
}

TEST(SerialPortList, SimulatedPortsFirstThenUsbPortsInNumberOrder) {
    test::temp_folder sysfs("sysfs");
    replay_sysfs(sysfs.path());
    // Simulated units on two lines, one of them reached through a link of its own.
    test::pty_line first([](const std::uint8_t*, std::size_t) {});
    test::pty_line second([](const std::uint8_t*, std::size_t) {});
    fs::create_symlink(second.path(), sysfs / "unit.port");
    platform::serial_port_sources sources;
    sources.sysfs = sysfs.path();
    sources.simulated = first.port_entry("Prolific USB-to-Serial Comm Port") + ";;" +
                        "Silicon Labs CP210x USB to UART Bridge (" + sysfs / "unit.port" + ")";
    EXPECT_EQ(listed(sources),
              (std::vector<std::string>{
                  first.port_entry("Prolific USB-to-Serial Comm Port"),
                  "Silicon Labs CP210x USB to UART Bridge (" + sysfs / "unit.port" + ")",
                  "u-blox GNSS receiver (/dev/ttyACM0)",
                  "Prolific USB-to-Serial Comm Port (/dev/ttyUSB2)",
                  "Silicon Labs CP210x USB to UART Bridge (/dev/ttyUSB3)",
                  "Silicon Labs CP210x USB to UART Bridge (/dev/ttyUSB10)",
              }));

    // A simulated unit whose device went away is unplugged: it is no longer listed.
    fs::remove(sysfs / "unit.port");
    EXPECT_EQ(listed(sources).front(), first.port_entry("Prolific USB-to-Serial Comm Port"));
    EXPECT_EQ(listed(sources).size(), 5u);

    sources.simulated.clear();
    const std::vector<platform::serial_port_entry> real = platform::serial_ports(sources);
    // Of two bridges of a kind the first listed wins: ttyUSB3, not ttyUSB10.
    EXPECT_EQ(find_port(real, "Silicon Labs CP210x USB to UART Bridge"), "/dev/ttyUSB3");
    EXPECT_EQ(find_port(real, "Prolific USB-to-Serial Comm Port"), "/dev/ttyUSB2");

    sources.sysfs = sysfs / "missing";
    EXPECT_TRUE(platform::serial_ports(sources).empty());
}

TEST(SerialPortList, PortIsTheDeviceOfTheFirstPortNamedForTheBridge) {
    const std::string bridge = "Silicon Labs CP210x USB to UART Bridge";
    EXPECT_EQ(find_port({{"Prolific USB-to-Serial Comm Port", "/dev/ttyUSB0"},
                         {bridge, ""},
                         {bridge, "COM3"},
                         {bridge, "/dev/pts/4"}},
                        bridge),
              "/dev/pts/4");
    EXPECT_EQ(find_port({{bridge, "/tmp/units/hx62.port"}}, bridge), "/tmp/units/hx62.port");
    EXPECT_EQ(find_port({}, bridge), "");

    // A simulated entry names its device in its last parentheses, after the bridge's name.
    test::pty_line line([](const std::uint8_t*, std::size_t) {});
    platform::serial_port_sources sources;
    sources.sysfs = "/nonexistent";
    sources.simulated = bridge + " (" + line.path() + ";(" + line.path() + ") " + bridge;
    EXPECT_EQ(find_port(platform::serial_ports(sources), bridge), "");
}

// A USB device's product string is its maker's text: one that names another device in
// parentheses must not make the agent open that device instead of the port's own node.
TEST(SerialPortList, ProductStringNamingADeviceCannotRedirectThePort) {
    test::temp_folder root("sysfs");
    test::fake_sysfs sysfs(root.path());
    const std::string bridge = "Silicon Labs CP210x USB to UART Bridge";
    sysfs.add_usb_serial_port("1-1", "0403", bridge + " (/dev/pts/0)", "ftdi_sio", "ttyUSB0");
    sysfs.add_usb_serial_port("1-2", "10c4", "CP2102 USB to UART Bridge Controller", "cp210x",
                              "ttyUSB1");
    platform::serial_port_sources sources;
    sources.sysfs = sysfs.root();
    const std::vector<platform::serial_port_entry> ports = platform::serial_ports(sources);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].name, bridge + " (/dev/pts/0)");
    EXPECT_EQ(ports[0].device, "/dev/ttyUSB0");
    EXPECT_EQ(ports[1].name, bridge);
    EXPECT_EQ(ports[1].device, "/dev/ttyUSB1");
    EXPECT_EQ(find_port(ports, bridge), "/dev/ttyUSB0");
}

}  // namespace
}  // namespace orvel
