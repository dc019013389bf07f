#include "link/driver_choice.h"

#include "platform/environment.h"
#include "platform/library.h"

#if defined(PZ4_KERNEL_PORTS)
#include "link/serial_ports.h"
#endif

namespace pz4 {
namespace {

#if defined(PZ4_KERNEL_PORTS)
constexpr bool kKernelPortsBuilt = true;
#else
constexpr bool kKernelPortsBuilt = false;
#endif

}  // namespace

DriverKind chooseDriver(std::string_view setting, bool libraryLoads, bool kernelPortsBuilt) {
    if (setting == "d2xx") {
        return DriverKind::D2xx;
    }
    if (setting == "kernel" && kernelPortsBuilt) {
        return DriverKind::Kernel;
    }
    return libraryLoads || !kernelPortsBuilt ? DriverKind::D2xx : DriverKind::Kernel;
}

std::unique_ptr<FtdiLink> makeDriverLink(DriverKind* chosen) {
    const std::string setting = platform::environmentText("PZ4_DRIVER");
    // Kernel even if the library loaded: forced, so the vendor's library is not even loaded.
    const bool forcedKernel = chooseDriver(setting, true, kKernelPortsBuilt) == DriverKind::Kernel;
    bool loads = false;
    if (!forcedKernel) {
        // A look first, so that only the link chosen is made (and opens the wire trace).
        const platform::ModuleHandle library = platform::loadLibrary(kDriverLibraryName);
        loads = library != nullptr;
        platform::unloadLibrary(library);
    }
    const DriverKind kind = chooseDriver(setting, loads, kKernelPortsBuilt);
    if (chosen != nullptr) {
        *chosen = kind;
    }
    if (kind == DriverKind::D2xx) {
        return std::make_unique<FtdiLink>();
    }
#if defined(PZ4_KERNEL_PORTS)
    return std::make_unique<FtdiLink>(serialPortEntries());
#else
    return std::make_unique<FtdiLink>();
#endif
}

}  // namespace pz4
