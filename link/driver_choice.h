// Which driver the program talks through: FTDI's library when it loads, otherwise (on Linux)
// the kernel's serial ports, which need no vendor library and no unloading of ftdi_sio.
#pragma once

#include <memory>
#include <string_view>

#include "link/ftdi_link.h"

namespace pz4 {

enum class DriverKind { D2xx, Kernel };

// setting is PZ4_DRIVER's value: "d2xx" or "kernel" forces that driver (the kernel's only
// where it is built), anything else chooses as above. Without the library and without the
// kernel's ports the answer is D2xx, whose missing library the session reports.
DriverKind chooseDriver(std::string_view setting, bool libraryLoads, bool kernelPortsBuilt);

// The link over the chosen driver, as the window creates it; chosen, if given, says which.
std::unique_ptr<FtdiLink> makeDriverLink(DriverKind* chosen = nullptr);

}  // namespace pz4
