// Reaches the stand-in driver library that the window has loaded by its usual name: its
// controls and counters, through the platform's loader as the program itself uses it.
#pragma once

#include "link/d2xx.h"
#include "platform/library.h"
#include "tests/support/os.h"

namespace pz4::testing_support {

// Calls an exported function of the loaded library; fallback when the library or the function
// is not there. Only another reference to the library the window holds is taken.
template <typename Fn, typename... Args>
int callSimLibrary(const char* symbol, int fallback, Args... args) {
    if (!libraryIsLoaded(kDriverLibraryName)) {
        return fallback;
    }
    const platform::ModuleHandle library = platform::loadLibrary(kDriverLibraryName);
    const auto fn = reinterpret_cast<Fn>(platform::findSymbol(library, symbol));
    const int result = fn != nullptr ? fn(args...) : fallback;
    platform::unloadLibrary(library);
    return result;
}

// "unplug 42", "late 42 700", ...: 0 when done.
inline int simControl(const char* command) {
    return callSimLibrary<int (*)(const char*)>("pz4sim_control", -2, command);
}

// Commands that reached a supply naming another one.
inline int simMisaddressed() {
    return callSimLibrary<int (*)()>("pz4sim_misaddressed_count", -2);
}

}  // namespace pz4::testing_support
