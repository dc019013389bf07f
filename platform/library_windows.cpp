#include <windows.h>

#include "platform/library.h"

namespace pz4::platform {

ModuleHandle loadLibrary(const char* name) {
    return LoadLibraryA(name);
}

void* findSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unloadLibrary(ModuleHandle module) {
    if (module != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
}

}  // namespace pz4::platform
