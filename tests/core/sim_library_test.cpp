// The simulator as the program meets it: configured from the environment, and built as a
// stand-in driver library loaded by file.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "platform/library.h"
#include "sim/sim_driver.h"
#include "sim/sim_environment.h"
#include "sim/virtual_clock.h"
#include "tests/support/os.h"

namespace pz4::sim {
namespace {

TEST(SimEnvironmentTest, BuildsDevicesAndSkipsMalformedEntries) {
    VirtualClock clock;
    SimDriver driver(clock);
    const std::string logPath =
        testing::TempDir() + "pz4sim_env_" + std::to_string(testing_support::processId());
    std::remove(logPath.c_str());
    SimSettings settings;
    settings.supplies =
        "42=1U@500,1I,0U; 77 ;bad=1U,1U;=1U,1U,1U;toolongserial12345;x=1U@abc,1U,1U;"
        "y=1U,1U,1U,1U;;9=2U,1U@-20,0I";
    settings.otherDevices = "A1:FT232R USB UART;nocolon;B2:";
    settings.extraDevices = "3";
    settings.noise = "oops";
    settings.logPath = logPath;
    configure(driver, settings);

    D2xxEntries ft = driver.entries();
    DWORD n = 0;
    ASSERT_EQ(ft.FT_CreateDeviceInfoList(&n), FT_OK);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(n);
    ft.FT_GetDeviceInfoList(nodes.data(), &n);
    std::vector<std::string> serials;
    for (const auto& node : nodes) {
        serials.emplace_back(node.SerialNumber);
    }
    EXPECT_EQ(serials,
              (std::vector<std::string>{"42", "77", "9", "A1", "B2", "X0001", "X0002", "X0003"}));

    EXPECT_EQ(driver.supply("42")->statusText(clock.tickMs()).substr(4, 11), "110 MOD:UIU");
    EXPECT_EQ(driver.supply("77")->statusText(clock.tickMs()).substr(4, 11), "111 MOD:UUU");
    EXPECT_EQ(driver.supply("9")->channel(1, clock.tickMs()).setVoltage, -20.0);
    EXPECT_EQ(driver.supply("42")->noise, 0);
    clock.advance(2000);  // ramping from 0 V
    EXPECT_DOUBLE_EQ(driver.supply("42")->channel(0, clock.tickMs()).measuredVoltage, 200.0);

    FT_HANDLE h = nullptr;
    ASSERT_EQ(ft.FT_Open(0, &h), FT_OK);
    char cmd[] = "PZ442GU";
    DWORD w = 0;
    ft.FT_Write(h, cmd, sizeof cmd, &w);
    std::ifstream log(logPath);
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_EQ(line, std::to_string(clock.tickMs()) + " 42 PZ442GU");
    std::remove(logPath.c_str());
}

TEST(SimEnvironmentTest, NothingSetMeansNothingConfigured) {
    VirtualClock clock;
    SimDriver driver(clock);
    configure(driver, SimSettings{});
    DWORD n = 5;
    D2xxEntries ft = driver.entries();
    ASSERT_EQ(ft.FT_CreateDeviceInfoList(&n), FT_OK);
    EXPECT_EQ(n, 0u);
}

// The stand-in library as the program loads it: by file, over the real clock.
TEST(SimLibraryTest, ExportsTheDriverAndIsConfiguredFromTheEnvironment) {
    const std::string logPath =
        testing::TempDir() + "pz4sim_lib_" + std::to_string(testing_support::processId());
    std::remove(logPath.c_str());
    testing_support::setEnv("PZ4SIM_SUPPLIES", "42=1U,1I,0U;77");
    testing_support::setEnv("PZ4SIM_LOG", logPath.c_str());
    // Faults at the start for a program that cannot call pz4sim_control: a bad one is skipped.
    testing_support::setEnv("PZ4SIM_CONTROL", "frob 42;state 42 1 0 I");

    const platform::ModuleHandle lib = platform::loadLibrary(PZ4_SIM_DRIVER_FILE);
    ASSERT_NE(lib, nullptr) << PZ4_SIM_DRIVER_FILE;
    const auto sym = [lib](const char* name) { return platform::findSymbol(lib, name); };
    for (const char* name : kD2xxEntryNames) {
        EXPECT_NE(sym(name), nullptr) << name;
    }
    // Nothing of the simulator's own code is visible from outside.
    EXPECT_EQ(sym("_ZN3pz43sim9SimDriver7entriesEv"), nullptr);
    auto control = reinterpret_cast<int (*)(const char*)>(sym("pz4sim_control"));
    auto commandCount = reinterpret_cast<int (*)()>(sym("pz4sim_command_count"));
    auto create = reinterpret_cast<FT_CreateDeviceInfoList_t>(sym("FT_CreateDeviceInfoList"));
    auto list = reinterpret_cast<FT_GetDeviceInfoList_t>(sym("FT_GetDeviceInfoList"));
    auto open = reinterpret_cast<FT_Open_t>(sym("FT_Open"));
    auto write = reinterpret_cast<FT_Write_t>(sym("FT_Write"));
    auto queue = reinterpret_cast<FT_GetQueueStatus_t>(sym("FT_GetQueueStatus"));
    auto read = reinterpret_cast<FT_Read_t>(sym("FT_Read"));
    auto close = reinterpret_cast<FT_Close_t>(sym("FT_Close"));
    ASSERT_TRUE(control && commandCount && create && list && open && write && queue && read &&
                close);

    DWORD n = 0;
    ASSERT_EQ(create(&n), FT_OK);
    ASSERT_EQ(n, 2u);
    FT_DEVICE_LIST_INFO_NODE nodes[2];
    list(nodes, &n);
    EXPECT_STREQ(nodes[0].SerialNumber, "42");
    EXPECT_STREQ(nodes[1].SerialNumber, "77");
    EXPECT_STREQ(nodes[1].Description, "High Voltage PZ4");

    FT_HANDLE h = nullptr;
    ASSERT_EQ(open(0, &h), FT_OK);
    char cmd[] = "PZ442GSS";
    DWORD w = 0;
    ASSERT_EQ(write(h, cmd, sizeof cmd, &w), FT_OK);
    std::string reply;
    for (int i = 0; i < 500 && !reply.ends_with('\n'); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        DWORD waiting = 0;
        queue(h, &waiting);
        std::string chunk(waiting, '\0');
        DWORD got = 0;
        read(h, chunk.data(), waiting, &got);
        reply += chunk.substr(0, got);
    }
    EXPECT_EQ(reply.substr(0, 15), "1 S:100 MOD:UIU");
    EXPECT_EQ(commandCount(), 1);

    EXPECT_EQ(control("state 42 2 1 U"), 0);
    EXPECT_EQ(control("silent 42 1"), 0);
    EXPECT_EQ(control("err 42 0"), 0);
    EXPECT_EQ(control("garbage 42 0"), 0);
    EXPECT_EQ(control("refuse-sets 42 0"), 0);
    EXPECT_EQ(control("stray 42 58 50"), 0);
    EXPECT_EQ(control("stray 42 -"), 0);
    EXPECT_EQ(control("unplug 42"), 0);
    EXPECT_EQ(write(h, cmd, sizeof cmd, &w), 4u);
    EXPECT_EQ(control("replug 42"), 0);
    for (const char* bad : {"", "unplug", "unplug nope", "silent 42 2", "state 42 3 1 U",
                            "state 42 0 11 U", "frob 42", "unplug 42 extra", "stray 42 58 x"}) {
        EXPECT_EQ(control(bad), -1) << bad;
    }
    EXPECT_EQ(control(nullptr), -1);
    EXPECT_EQ(close(h), FT_OK);

    std::ifstream log(logPath);
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_TRUE(line.ends_with(" 42 PZ442GSS")) << line;

    platform::unloadLibrary(lib);
    testing_support::unsetEnv("PZ4SIM_SUPPLIES");
    testing_support::unsetEnv("PZ4SIM_LOG");
    testing_support::unsetEnv("PZ4SIM_CONTROL");
    std::remove(logPath.c_str());
}

}  // namespace
}  // namespace pz4::sim
