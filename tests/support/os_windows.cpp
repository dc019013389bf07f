#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdlib>

#include "tests/support/os.h"

namespace pz4::testing_support {

// Through the C runtime, whose copy of the environment std::getenv reads; the runtime passes
// the change on to the process environment as well.
void setEnv(const char* name, const char* value) {
    _putenv_s(name, value);
}

void unsetEnv(const char* name) {
    _putenv_s(name, "");  // an empty value removes the variable
}

int processId() {
    return static_cast<int>(GetCurrentProcessId());
}

bool libraryIsLoaded(const char* name) {
    return GetModuleHandleA(name) != nullptr;  // takes no reference
}

std::ptrdiff_t threadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const DWORD self = GetCurrentProcessId();
    std::ptrdiff_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == self ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

std::string programDirectory() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, n);
    return text.substr(0, text.find_last_of("\\/"));
}

}  // namespace pz4::testing_support
