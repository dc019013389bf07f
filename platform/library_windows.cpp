#include <windows.h>

#include <cstring>

#include "platform/library.h"

namespace pz4::platform {

ModuleHandle loadLibrary(const char* name) {
    // A bare name is looked for in the system folder and the program's own only: the usual
    // search also takes the current directory and PATH, where a planted DLL of that name would
    // run with the operator's rights.
    if (std::strpbrk(name, "\\/") == nullptr) {
        return LoadLibraryExA(name, nullptr,
                              LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    }
    // A path names the one file meant.
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
