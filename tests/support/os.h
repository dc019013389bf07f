// What the tests need of the operating system beyond what the program itself uses, the same
// on every platform: the environment the stand-in driver reads, a process id for unique file
// names, and a look at which libraries and threads the process holds.
#pragma once

#include <cstddef>
#include <string>

namespace pz4::testing_support {

// Visible to std::getenv in this process and in libraries it has loaded or will load.
void setEnv(const char* name, const char* value);
void unsetEnv(const char* name);

int processId();

// Whether the library (by the name or path it was loaded with) is loaded now; never loads it.
bool libraryIsLoaded(const char* name);

// The threads this process has at the moment.
std::ptrdiff_t threadCount();

// The folder that holds the running program.
std::string programDirectory();

}  // namespace pz4::testing_support
