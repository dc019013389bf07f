# Warnings for every target of ours; errors as well when PZ4_WERROR is on (the ci preset).
function(pz4_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${PZ4_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
            -Wcast-align -Wformat=2 -Wimplicit-fallthrough
            $<$<BOOL:${PZ4_WERROR}>:-Werror>)
    endif()
endfunction()
