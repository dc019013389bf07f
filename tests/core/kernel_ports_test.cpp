// The kernel's serial ports as the link's driver: what is listed, and how a port is opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "link/driver_choice.h"
#include "tests/core/kernel_bench.h"

namespace pz4 {
namespace {

using testing_support::KernelBench;

struct Node {
    std::string serial;
    std::string description;
    std::uint32_t id;
};

std::vector<Node> driverList(const D2xxEntries& e) {
    DWORD count = 0;
    EXPECT_EQ(e.FT_CreateDeviceInfoList(&count), FT_OK);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
    e.FT_GetDeviceInfoList(nodes.data(), &count);
    std::vector<Node> out;
    for (DWORD i = 0; i < count; ++i) {
        out.push_back({nodes[i].SerialNumber, nodes[i].Description, nodes[i].ID});
    }
    return out;
}

TEST(KernelPortsTest, ListsFtdiPortsByTtyNumberWithTheirUsbStrings) {
    KernelBench bench;
    const std::string target = "/dev/null";
    // Plugged out of order, so that neither plugging nor directory order decides.
    bench.tree.plug({"ttyUSB10", "High Voltage PZ4", "7"}, target);
    bench.tree.plug({"ttyUSB2", "High Voltage PZ4", "42"}, target);
    bench.tree.plug({"ttyUSB3", "High Voltage PZ4", "99", "cp210x", 0x10c4, 0xea60}, target);
    bench.tree.plug({"ttyACM0", "High Voltage PZ4", "98", "cdc_acm"}, target);
    bench.tree.plug({"ttyUSB4", "FT232R USB UART", "A1"}, target);
    bench.tree.plug({"ttyUSB5", "High Voltage PZ4", std::nullopt}, target);
    bench.tree.plug({"ttyUSB6", "High Voltage PZ4 ", "8"}, target);
    bench.tree.plug({"ttyUSB7", "high voltage PZ4", "9", "ftdi_sio", 0x0403, 0x6015}, target);

    const auto nodes = driverList(serialPortEntries(bench.roots()));
    ASSERT_EQ(nodes.size(), 6u);
    const std::vector<std::string> serials = {"42", "A1", "", "8", "9", "7"};
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes[i].serial, serials[i]) << i;
    }
    EXPECT_EQ(nodes[1].description, "FT232R USB UART");
    EXPECT_EQ(nodes[3].description, "High Voltage PZ4 ");
    EXPECT_EQ(nodes[4].id, 0x04036015u);

    // The link keeps the exact descriptions only; the bridge without a serial string is
    // listed with an empty one.
    auto link = bench.makeLink();
    ASSERT_EQ(link->listDevices(), 3);
    EXPECT_STREQ(link->serials()[0].data(), "42");
    EXPECT_STREQ(link->serials()[1].data(), "");
    EXPECT_STREQ(link->serials()[2].data(), "7");

    bench.tree.unplug("ttyUSB2");
    EXPECT_EQ(link->listDevices(), 2);
    EXPECT_EQ(driverList(serialPortEntries({bench.tree.sysfsRoot() + "/none", "/dev"})).size(), 0u);
}

TEST(KernelPortsTest, OpensRawExclusive8N1At115200WithStaleInputGone) {
    KernelBench bench;
    sim::PtySupply& supply = bench.plugSupply("ttyUSB0", "42");
    // A line left as no program of ours wants it: cooked, echoing, 9600 7E2, flow control,
    // and holding bytes from before.
    termios left = supply.lineSettings();
    left.c_lflag |= ICANON | ECHO | ISIG;
    left.c_oflag |= OPOST;
    left.c_iflag |= ICRNL | IXON | IXOFF;
    left.c_cflag = (left.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    cfsetispeed(&left, B9600);
    cfsetospeed(&left, B9600);
    supply.setLineSettings(left);
    supply.inject("42,1,2,3\r\n");

    auto link = bench.makeLink();
    ASSERT_TRUE(link->openBySerial("42"));
    const termios tio = supply.lineSettings();
    EXPECT_EQ(cfgetispeed(&tio), B115200);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON | IXOFF), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    DWORD waiting = 99;
    EXPECT_EQ(link->entries().FT_GetQueueStatus(link->handle(), &waiting), FT_OK);
    EXPECT_EQ(waiting, 0u);

    // One holder at a time, in this process or another; the port is free again once closed.
    auto second = bench.makeLink();
    EXPECT_FALSE(second->openBySerial("42"));
    link->closeDevice();

    // A holder that only locks (as pyserial does): refused, the port is left as it was found,
    // not exclusive, for the holder to go on with.
    const int holder = ::open(supply.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(second->openBySerial("42"));
    int exclusive = 1;
    ASSERT_EQ(::ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(holder);

    EXPECT_TRUE(second->openBySerial("42"));
}

TEST(DriverChoiceTest, LibraryFirstThenKernelPortsUnlessForced) {
    struct Row {
        const char* setting;
        bool libraryLoads;
        bool kernelBuilt;
        DriverKind expected;
    };
    const Row rows[] = {
        {"", true, true, DriverKind::D2xx},         {"", false, true, DriverKind::Kernel},
        {"", false, false, DriverKind::D2xx},  // the session reports the missing library
        {"kernel", true, true, DriverKind::Kernel}, {"kernel", true, false, DriverKind::D2xx},
        {"d2xx", false, true, DriverKind::D2xx},    {"serial", false, true, DriverKind::Kernel},
        {"KERNEL", true, true, DriverKind::D2xx},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(chooseDriver(r.setting, r.libraryLoads, r.kernelBuilt), r.expected)
            << "'" << r.setting << "' " << r.libraryLoads << r.kernelBuilt;
    }
}

}  // namespace
}  // namespace pz4
