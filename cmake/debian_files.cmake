# Helpers for the files the Debian package carries besides the program: the gzipped changelog
# and manual pages, and the releases that the changelog lists.
include(GNUInstallDirs)

find_program(PZ4_GZIP gzip REQUIRED)

# Compresses source into output at build time as Debian wants it: best compression, and no
# name or time stamp in the header, so that two builds of the same source are the same.
function(pz4_gzip source output)
    cmake_path(REMOVE_EXTENSION output LAST_ONLY OUTPUT_VARIABLE uncompressed)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${uncompressed}
        COMMAND ${PZ4_GZIP} -9nf ${uncompressed}
        DEPENDS ${source}
        COMMENT "Compressing ${output}"
        VERBATIM)
    string(MAKE_C_IDENTIFIER "pz4_gzip_${output}" target)
    add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

# A manual page res/man/<program>.<section>, with @PROJECT_VERSION@ and @PZ4_RELEASE_DATE@
# filled in, installed gzipped into man<section>.
function(pz4_man_page page)
    cmake_path(GET page EXTENSION LAST_ONLY section)
    string(SUBSTRING ${section} 1 -1 section)
    set(configured ${CMAKE_BINARY_DIR}/man/${page})
    configure_file(${PROJECT_SOURCE_DIR}/res/man/${page} ${configured} @ONLY)
    pz4_gzip(${configured} ${CMAKE_BINARY_DIR}/man-gz/${page}.gz)
    install(FILES ${CMAKE_BINARY_DIR}/man-gz/${page}.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

# Reads the releases from a Debian changelog, newest first, whose newest must be project()'s
# version. Sets PZ4_RELEASE_DATE to the newest one's date (YYYY-MM-DD) and
# PZ4_APPSTREAM_RELEASES to an AppStream <release> element for each.
function(pz4_read_changelog changelog)
    # A new entry must reach what is made from it, not only the changelog's own copy.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    file(STRINGS ${changelog} lines)
    set(releases "")
    set(newest "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^[a-z0-9][a-z0-9.+-]* \\(([^)]+)\\)")
            set(version ${CMAKE_MATCH_1})
        elseif(line MATCHES "^ -- .*>  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ")
            set(year ${CMAKE_MATCH_3})
            list(FIND months ${CMAKE_MATCH_2} month)
            if(month LESS 0)
                message(FATAL_ERROR "${changelog}: no month '${CMAKE_MATCH_2}' in: ${line}")
            endif()
            math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
            set(day ${CMAKE_MATCH_1})
            foreach(part month day)
                string(LENGTH ${${part}} length)
                if(length EQUAL 1)
                    set(${part} 0${${part}})
                endif()
            endforeach()
            if(newest STREQUAL "")
                set(newest ${version})
                set(PZ4_RELEASE_DATE ${year}-${month}-${day} PARENT_SCOPE)
            else()
                string(APPEND releases "\n")
            endif()
            string(APPEND releases
                "    <release version=\"${version}\" date=\"${year}-${month}-${day}\"/>")
        endif()
    endforeach()
    if(NOT newest STREQUAL PROJECT_VERSION)
        message(FATAL_ERROR "${changelog}: the newest release is '${newest}' but project() says "
            "${PROJECT_VERSION}; a release needs its entry (HACKING.md, Cutting a release).")
    endif()
    set(PZ4_APPSTREAM_RELEASES "${releases}" PARENT_SCOPE)
endfunction()
