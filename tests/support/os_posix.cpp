#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "tests/support/os.h"

namespace pz4::testing_support {

void setEnv(const char* name, const char* value) {
    setenv(name, value, 1);
}

void unsetEnv(const char* name) {
    unsetenv(name);
}

int processId() {
    return static_cast<int>(getpid());
}

bool libraryIsLoaded(const char* name) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);  // RTLD_NOLOAD still counts a reference
    return true;
}

std::ptrdiff_t threadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(std::filesystem::begin(tasks), std::filesystem::end(tasks));
}

std::string programDirectory() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

}  // namespace pz4::testing_support
