#include <dlfcn.h>

#include "platform/library.h"

namespace pz4::platform {

ModuleHandle loadLibrary(const char* name) {
    // RTLD_LOCAL keeps the driver's symbols out of the global namespace.
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(ModuleHandle module, const char* name) {
    return module != nullptr ? dlsym(module, name) : nullptr;
}

void unloadLibrary(ModuleHandle module) {
    if (module != nullptr) {
        dlclose(module);
    }
}

}  // namespace pz4::platform
