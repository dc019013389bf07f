# Sanitizers apply to everything built in this tree, so the core, the simulator and the tests
# are instrumented alike.
if(PZ4_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(PZ4_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT PZ4_SANITIZE STREQUAL "")
    message(FATAL_ERROR "PZ4_SANITIZE must be empty, address or thread")
endif()
