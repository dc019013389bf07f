# Cross-builds for 64-bit Windows with Debian's mingw-w64, the variant with POSIX threads that
# std::thread and std::mutex need, and runs what it builds under Wine.
#
#   cmake --preset windows          (or: cmake --toolchain cmake/mingw-w64-x86_64.cmake ...)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(pz4_mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${pz4_mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${pz4_mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${pz4_mingw_triplet}-windres)

# Libraries and packages for the target only; programs such as Wine from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${pz4_mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's C++ and thread runtimes are linked in, so the programs and the stand-in driver
# run without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# Test programs run, and are asked for their tests, under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
