// FTDI's own D2XX library, loaded the way the program loads it: every entry point binds to the
// right symbol, a machine without supplies reads as "no supplies", and destroying the link
// really lets go of the library and of anything it started.
#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "link/ftdi_link.h"
#include "platform/library.h"
#include "tests/support/os.h"

namespace pz4 {
namespace {

const char* const kLibrary = PZ4_REAL_D2XX;

bool libraryIsLoaded() {
    return testing_support::libraryIsLoaded(kLibrary);
}

using testing_support::threadCount;

class RealDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(kLibrary)) {
            GTEST_SKIP() << "no driver at " << kLibrary
                         << ": run scripts/vendor-d2xx; npm package ftdi-d2xx@1.3.1 could not be "
                            "fetched";
        }
    }
};

TEST_F(RealDriver, EveryEntryPointBindsToItsOwnSymbol) {
    FtdiLink link(kLibrary);
    ASSERT_TRUE(link.driverLoaded());

    // The link holds the library already; this only counts one more reference to it.
    const platform::ModuleHandle module = platform::loadLibrary(kLibrary);
    ASSERT_NE(module, nullptr);
    const D2xxEntries& e = link.entries();
    // In the order of the names, so a slot filled from the wrong name shows up by its name.
    const std::array<void*, 9> slots = {
        reinterpret_cast<void*>(e.FT_Open),
        reinterpret_cast<void*>(e.FT_Close),
        reinterpret_cast<void*>(e.FT_Read),
        reinterpret_cast<void*>(e.FT_Write),
        reinterpret_cast<void*>(e.FT_SetBaudRate),
        reinterpret_cast<void*>(e.FT_SetDataCharacteristics),
        reinterpret_cast<void*>(e.FT_GetQueueStatus),
        reinterpret_cast<void*>(e.FT_GetDeviceInfoList),
        reinterpret_cast<void*>(e.FT_CreateDeviceInfoList),
    };
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const char* name = kD2xxEntryNames[i];
        EXPECT_NE(slots[i], nullptr) << name;
        EXPECT_EQ(slots[i], platform::findSymbol(module, name)) << name;
    }
    platform::unloadLibrary(module);
}

TEST_F(RealDriver, WithoutHardwareThereAreNoSuppliesAndNothingOpens) {
    FtdiLink link(kLibrary);
    ASSERT_TRUE(link.driverLoaded());

    // Without USB the driver fails the listing (status 18, "other error"); on a machine with
    // USB but no FTDI bridge it lists none. Both must read as no supplies.
    DWORD devices = 0;
    const FT_STATUS status = link.entries().FT_CreateDeviceInfoList(&devices);
    if (status == FT_OK && devices > 0) {
        GTEST_SKIP() << devices << " FTDI device(s) attached; this test needs a machine without";
    }

    EXPECT_EQ(link.listDevices(), 0);
    for (const auto& entry : link.serials()) {
        EXPECT_EQ(entry[0], '\0');
    }

    // This driver crashes in FT_Open when asked for a device it did not list, so these also
    // prove the link never gets that far.
    EXPECT_FALSE(link.openBySerial(""));
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.openBySerial("42"));
    EXPECT_FALSE(link.isOpen());

    std::array<char, 500> reply;
    reply.fill('x');
    EXPECT_EQ(link.readLine(reply.data(), 499), 0);
    EXPECT_EQ(std::string_view(reply.data(), reply.size()), std::string(reply.size(), 'x'))
        << "a failed read must leave the buffer untouched";

    link.closeDevice();
    EXPECT_FALSE(link.isOpen());
}

TEST_F(RealDriver, DestroyingTheLinkUnloadsTheDriverAndItCanBeLoadedAgain) {
    ASSERT_FALSE(libraryIsLoaded()) << "loaded before the test began";
    const auto threadsBefore = threadCount();

    std::int32_t listed = 0;
    {
        FtdiLink link(kLibrary);
        ASSERT_TRUE(link.driverLoaded());
        EXPECT_TRUE(libraryIsLoaded());
        // On a machine with USB the driver starts its USB context and a poll thread here;
        // its unload handler must stop them before its code goes away.
        listed = link.listDevices();
    }
    EXPECT_FALSE(libraryIsLoaded()) << "the driver stayed loaded after the link was destroyed";
    EXPECT_EQ(threadCount(), threadsBefore) << "a thread of the driver outlived its unloading";

    FtdiLink again(kLibrary);
    ASSERT_TRUE(again.driverLoaded());
    EXPECT_EQ(again.listDevices(), listed);
}

}  // namespace
}  // namespace pz4
