# FTDI's own D2XX library, as the program loads it. scripts/vendor-d2xx fetches and links it;
# without it the test skips and says why.
set(PZ4_REAL_D2XX "${PROJECT_SOURCE_DIR}/build/vendor/d2xx/libftd2xx.so"
    CACHE FILEPATH "FTDI's D2XX library for the real-driver test")

add_executable(pz4_real_driver_tests real/real_driver_test.cpp)
target_link_libraries(pz4_real_driver_tests PRIVATE pz4_core pz4_test_support GTest::gtest_main)
target_compile_definitions(pz4_real_driver_tests PRIVATE PZ4_REAL_D2XX="${PZ4_REAL_D2XX}")
pz4_warnings(pz4_real_driver_tests)

set(pz4_real_driver_properties TIMEOUT 60 LABELS real)
if(PZ4_SANITIZE STREQUAL "address")
    # The driver leaks a few small blocks of its own on every load and listing, and once it is
    # unloaded LeakSanitizer can no longer name it to suppress them. Memory errors are still
    # caught; leaks of the link are covered by the core tests.
    list(APPEND pz4_real_driver_properties
        ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::detect_leaks=0")
endif()
gtest_discover_tests(pz4_real_driver_tests DISCOVERY_TIMEOUT 60
    PROPERTIES ${pz4_real_driver_properties})
