// Loading a shared library at run time and resolving its symbols.
#pragma once

namespace pz4::platform {

using ModuleHandle = void*;

// Loads the library by path, or by name: on Windows from the system folder or the program's own
// only, elsewhere the platform's usual way; null on failure.
ModuleHandle loadLibrary(const char* name);

// The address of an exported symbol, or null when the module does not export it.
void* findSymbol(ModuleHandle module, const char* name);

void unloadLibrary(ModuleHandle module);

}  // namespace pz4::platform
