// The driver binding: loading, the list of supplies, opening by serial number, and what each
// missing entry point or driver failure leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "link/ftdi_link.h"
#include "tests/core/sim_bench.h"
#include "tests/support/os.h"

namespace pz4 {
namespace {

using sim::WireKind;
using testing_support::SimBench;

std::vector<std::string> listed(const FtdiLink& link) {
    std::vector<std::string> out;
    for (const auto& entry : link.serials()) {
        out.emplace_back(entry.data());
    }
    return out;
}

std::vector<std::string> listedWith(std::vector<std::string> front) {
    front.resize(FtdiLink::kMaxSupplies);
    return front;
}

TEST(FtdiLinkTest, WithoutTheLibraryEverythingFailsHarmlessly) {
    FtdiLink link("no-such-lib.so");
    EXPECT_FALSE(link.driverLoaded());
    EXPECT_EQ(link.listDevices(), 0);
    EXPECT_EQ(listed(link), listedWith({}));
    EXPECT_FALSE(link.openBySerial(""));
    EXPECT_FALSE(link.openBySerial(nullptr));
    EXPECT_FALSE(link.isOpen());
    char buffer[8] = "keep";
    EXPECT_EQ(link.readLine(buffer, 7), 0);
    EXPECT_STREQ(buffer, "keep");
    link.closeDevice();
}

TEST(FtdiLinkTest, ListsOnlyExactDescriptionsInDriverOrder) {
    SimBench bench;
    bench.driver.addSupply("B7");
    bench.driver.addOtherDevice("O1", "FT232R USB UART");
    bench.driver.addOtherDevice("O2", "high voltage pz4");
    bench.driver.addOtherDevice("O3", "High Voltage PZ4 ");
    bench.driver.addOtherDevice("O4", "High Voltage PZ");
    bench.driver.addSupply("A3");
    auto link = bench.makeLink();
    ASSERT_TRUE(link->driverLoaded());

    EXPECT_EQ(link->listDevices(), 2);
    EXPECT_EQ(listed(*link), listedWith({"B7", "A3"}));

    // A shorter list leaves no stale entry behind.
    bench.driver.unplug("B7");
    EXPECT_EQ(link->listDevices(), 1);
    EXPECT_EQ(listed(*link), listedWith({"A3"}));
}

// More devices than the list holds: only the first 40 nodes count, and the driver may fill
// as many nodes as it reported without running past the link's array.
TEST(FtdiLinkTest, ExaminesTheFirstFortyNodesOnly) {
    struct Case {
        int supplies;
        int extraNodes;
        int expectedListed;
    };
    for (const Case c : {Case{41, 0, 40}, Case{100, 0, 40}, Case{2, 100, 2}, Case{40, 1, 40}}) {
        SCOPED_TRACE(std::to_string(c.supplies) + " supplies, " + std::to_string(c.extraNodes) +
                     " extra nodes");
        SimBench bench;
        std::vector<std::string> serials;
        for (int i = 0; i < c.supplies; ++i) {
            serials.push_back("S" + std::to_string(i));
            bench.driver.addSupply(serials.back());
        }
        bench.driver.driverFaults().extraReportedNodes = c.extraNodes;
        auto link = bench.makeLink();

        EXPECT_EQ(link->listDevices(), c.expectedListed);
        serials.resize(static_cast<std::size_t>(c.expectedListed));
        EXPECT_EQ(listed(*link), listedWith(serials));

        EXPECT_TRUE(link->openBySerial(serials.back().c_str()));
        if (c.supplies > FtdiLink::kMaxSupplies) {
            // Node 40 lies beyond the search, though the driver reported it.
            EXPECT_FALSE(link->openBySerial(("S" + std::to_string(c.supplies - 1)).c_str()));
            EXPECT_FALSE(link->isOpen());
        }
    }
}

// A driver reporting more devices than any bus holds is broken: nothing is listed or opened,
// and the link does not try to make room for them all.
TEST(FtdiLinkTest, RefusesAnImpossibleDeviceCount) {
    SimBench bench;
    bench.driver.addSupply("42");
    bench.driver.driverFaults().extraReportedNodes = 5000;
    auto link = bench.makeLink();
    EXPECT_EQ(link->listDevices(), 0);
    EXPECT_FALSE(link->openBySerial("42"));
    bench.driver.driverFaults().extraReportedNodes = 0;
    EXPECT_EQ(link->listDevices(), 1);
}

// Opening searches a fresh driver list for an exact serial; the empty text takes any supply.
TEST(FtdiLinkTest, OpensTheFirstSupplyWhoseSerialMatchesExactly) {
    struct Case {
        const char* asked;
        const char* opened;  // null: nothing opens
        int node;
    };
    const Case cases[] = {
        {"", "Ab1", 1},      {"ab2", "ab2", 2},     {"Ab1", "Ab1", 1},   {"AB1", nullptr, -1},
        {"Ab", nullptr, -1}, {"Ab1 ", nullptr, -1}, {"X0", nullptr, -1}, {"gone", nullptr, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("asked \"") + c.asked + '"');
        SimBench bench;
        bench.driver.addOtherDevice("X0", "FT232R USB UART");
        bench.driver.addSupply("Ab1");
        bench.driver.addSupply("ab2");
        bench.driver.addSupply("gone");
        bench.driver.unplug("gone");
        auto link = bench.makeLink();

        EXPECT_EQ(link->openBySerial(c.asked), c.opened != nullptr);
        EXPECT_EQ(link->isOpen(), c.opened != nullptr);
        EXPECT_EQ(link->deviceIndex(), c.node);
        EXPECT_EQ(bench.driver.openHandleCount(), c.opened != nullptr ? 1 : 0);
        if (c.opened == nullptr) {
            continue;
        }
        // The line is set up right after the open: 115200 baud, 8 data bits, 1 stop, no parity.
        const auto log = bench.driver.wireLog();
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[0].kind, WireKind::Open);
        EXPECT_EQ(log[0].serial, c.opened);
        EXPECT_EQ(log[1].kind, WireKind::SetBaudRate);
        EXPECT_EQ(log[1].value, 115200u);
        EXPECT_EQ(log[2].kind, WireKind::SetDataCharacteristics);
        EXPECT_EQ(log[2].value, 8u << 16);
    }
}

TEST(FtdiLinkTest, ReopeningClosesFirstAndAFailedReopenLeavesNothingOpen) {
    SimBench bench;
    bench.driver.addSupply("A");
    bench.driver.addSupply("B");
    bench.driver.addSupply("C");
    bench.driver.faults("C").failOpen = true;
    auto link = bench.makeLink();

    ASSERT_TRUE(link->openBySerial("A"));
    bench.driver.clearWireLog();
    ASSERT_TRUE(link->openBySerial("B"));
    const auto log = bench.driver.wireLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0].kind, WireKind::Close);
    EXPECT_EQ(log[0].serial, "A");
    EXPECT_EQ(log[1].kind, WireKind::Open);
    EXPECT_EQ(log[1].serial, "B");
    EXPECT_EQ(bench.driver.openHandleCount(), 1);

    for (const char* failing : {"nope", "C"}) {
        SCOPED_TRACE(failing);
        ASSERT_TRUE(link->openBySerial("B"));
        EXPECT_FALSE(link->openBySerial(failing));
        EXPECT_FALSE(link->isOpen());
        EXPECT_EQ(bench.driver.openHandleCount(), 0);
    }

    // A supply unplugged since it was opened can no longer be opened.
    ASSERT_TRUE(link->openBySerial("A"));
    bench.driver.unplug("A");
    EXPECT_FALSE(link->openBySerial("A"));
    EXPECT_FALSE(link->isOpen());
}

TEST(FtdiLinkTest, ClosingFailsListingAndOpeningAtOnceButStillCloses) {
    SimBench bench;
    bench.driver.addSupply("A");
    bench.driver.addSupply("B");
    auto link = bench.makeLink();
    ASSERT_EQ(link->listDevices(), 2);
    ASSERT_TRUE(link->openBySerial("A"));
    bench.driver.clearWireLog();

    link->closing = true;
    bench.driver.addSupply("C");
    EXPECT_EQ(link->listDevices(), 0);
    EXPECT_EQ(listed(*link), listedWith({"A", "B"}));
    EXPECT_FALSE(link->openBySerial("B"));
    EXPECT_TRUE(link->isOpen());  // the held device is not closed by the refusal
    EXPECT_TRUE(bench.driver.wireLog().empty());

    link->closeDevice();
    EXPECT_FALSE(link->isOpen());
    EXPECT_EQ(bench.driver.openHandleCount(), 0);
}

// A driver that lacks entry points or fails to list: listing and opening fail, setting up the
// line is optional.
TEST(FtdiLinkTest, MissingEntryPointsAndDriverFailures) {
    struct Case {
        const char* name;
        void (*edit)(D2xxEntries&);
        bool failCreateList;
        bool failSetBaudRate;
        int listedCount;
        bool opens;
    };
    const Case cases[] = {
        {"no FT_CreateDeviceInfoList", [](D2xxEntries& e) { e.FT_CreateDeviceInfoList = nullptr; },
         false, false, 0, false},
        {"no FT_GetDeviceInfoList", [](D2xxEntries& e) { e.FT_GetDeviceInfoList = nullptr; }, false,
         false, 0, false},
        {"FT_CreateDeviceInfoList fails", nullptr, true, false, 0, false},
        {"no FT_Open", [](D2xxEntries& e) { e.FT_Open = nullptr; }, false, false, 1, false},
        {"no FT_SetBaudRate", [](D2xxEntries& e) { e.FT_SetBaudRate = nullptr; }, false, false, 1,
         true},
        {"no FT_SetDataCharacteristics",
         [](D2xxEntries& e) { e.FT_SetDataCharacteristics = nullptr; }, false, false, 1, true},
        {"FT_SetBaudRate fails", nullptr, false, true, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimBench bench;
        bench.driver.addSupply("A");
        bench.driver.driverFaults().failCreateList = c.failCreateList;
        bench.driver.faults("A").failSetBaudRate = c.failSetBaudRate;
        auto link = bench.makeLink(c.edit);
        EXPECT_EQ(link->listDevices(), c.listedCount);
        EXPECT_EQ(link->openBySerial("A"), c.opens);
        EXPECT_EQ(link->isOpen(), c.opens);
    }
}

TEST(FtdiLinkTest, WithoutFtCloseTheHandleStaysUntilTheNextOpenDropsIt) {
    SimBench bench;
    bench.driver.addSupply("A");
    bench.driver.addSupply("B");
    auto link = bench.makeLink([](D2xxEntries& e) { e.FT_Close = nullptr; });
    ASSERT_TRUE(link->openBySerial("A"));
    const FT_HANDLE first = link->handle();

    link->closeDevice();
    EXPECT_EQ(link->handle(), first);

    ASSERT_TRUE(link->openBySerial("B"));
    EXPECT_NE(link->handle(), first);
    EXPECT_FALSE(link->openBySerial("none"));
    EXPECT_FALSE(link->isOpen());
}

// Node fields need not hold a NUL: a 16-character serial number stays 16 characters and a
// 64-byte description is not read past its field.
FT_DEVICE_LIST_INFO_NODE fullNodes[2];

TEST(FtdiLinkTest, NodeFieldsWithoutNulAreReadWithinTheirBounds) {
    std::memset(fullNodes, 0, sizeof fullNodes);
    std::memcpy(fullNodes[0].SerialNumber, "0123456789ABCDEF", 16);
    std::memcpy(fullNodes[0].Description, "High Voltage PZ4", 16);
    std::memcpy(fullNodes[1].SerialNumber, "second", 6);
    std::memset(fullNodes[1].Description, 'H', sizeof fullNodes[1].Description);
    D2xxEntries entries;
    entries.FT_CreateDeviceInfoList = [](DWORD* count) -> FT_STATUS {
        *count = 2;
        return FT_OK;
    };
    entries.FT_GetDeviceInfoList = [](FT_DEVICE_LIST_INFO_NODE* nodes, DWORD* count) {
        std::memcpy(nodes, fullNodes, sizeof fullNodes);
        *count = 2;
        return FT_OK;
    };
    entries.FT_Open = [](int, FT_HANDLE* handle) -> FT_STATUS {
        *handle = fullNodes;
        return FT_OK;
    };
    testing_support::TraceClock clock;
    FtdiLink link(entries, clock);

    EXPECT_EQ(link.listDevices(), 1);
    EXPECT_STREQ(link.serials()[0].data(), "0123456789ABCDEF");
    EXPECT_TRUE(link.openBySerial("0123456789ABCDEF"));
    EXPECT_EQ(link.deviceIndex(), 0);
    EXPECT_FALSE(link.openBySerial("second"));
}

// The stand-in library loaded by path, as the program loads FTDI's; it reads its supplies from
// the environment when first called, and unloading it leaves nothing mapped.
TEST(FtdiLinkTest, LoadsTheDriverLibraryByPath) {
    const char* path = PZ4_SIM_DRIVER_FILE;
    // A drop-in for FTDI's library: the program finds it by this name.
    EXPECT_EQ(std::filesystem::path(path).filename().string(), kDriverLibraryName);
    testing_support::setEnv("PZ4SIM_SUPPLIES", "5=1U,0U,0U;Z9");
    testing_support::setEnv("PZ4SIM_OTHER", "A1:FT232R USB UART");
    {
        FtdiLink link(path);
        ASSERT_TRUE(link.driverLoaded());
        EXPECT_NE(link.entries().FT_Close, nullptr);
        EXPECT_NE(link.entries().FT_Write, nullptr);
        EXPECT_NE(link.entries().FT_Read, nullptr);
        EXPECT_EQ(link.listDevices(), 2);
        EXPECT_EQ(listed(link), listedWith({"5", "Z9"}));
        EXPECT_TRUE(link.openBySerial("Z9"));
        EXPECT_EQ(link.deviceIndex(), 1);
    }
    EXPECT_FALSE(testing_support::libraryIsLoaded(path));
    testing_support::unsetEnv("PZ4SIM_SUPPLIES");
    testing_support::unsetEnv("PZ4SIM_OTHER");
}

#if defined(_WIN32)
// FTDI's DLL by its bare name comes from the system folder or the program's own only: one
// planted in the current directory is never loaded.
TEST(FtdiLinkTest, TheDriverByNameComesFromTheProgramsFolderNeverTheCurrentOne) {
    namespace fs = std::filesystem;
    const fs::path planted =
        fs::temp_directory_path() / ("pz4-planted-" + std::to_string(testing_support::processId()));
    fs::create_directories(planted);
    fs::copy_file(PZ4_SIM_DRIVER_FILE, planted / kDriverLibraryName,
                  fs::copy_options::overwrite_existing);
    const fs::path before = fs::current_path();
    fs::current_path(planted);
    EXPECT_FALSE(FtdiLink().driverLoaded());
    fs::current_path(before);

    const fs::path beside = fs::path(testing_support::programDirectory()) / kDriverLibraryName;
    fs::copy_file(PZ4_SIM_DRIVER_FILE, beside, fs::copy_options::overwrite_existing);
    EXPECT_TRUE(FtdiLink().driverLoaded());
    fs::remove(beside);
    fs::remove_all(planted);
}
#endif

}  // namespace
}  // namespace pz4
