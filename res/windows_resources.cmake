# Windows resources of the program: icon, logo bitmap, strings, version block and manifest,
# compiled once into `pz4_win_res`. Link it to the executable alone. It needs no Qt, so builds
# without the window compile it too.
#
# The version block and the manifest take their version from the project's, so it is written
# in one place only. Both want four numbers; parts the project version leaves out count as 0.
set(pz4_version_parts)
foreach(part IN ITEMS MAJOR MINOR PATCH TWEAK)
    if(PROJECT_VERSION_${part} STREQUAL "")
        list(APPEND pz4_version_parts 0)
    else()
        list(APPEND pz4_version_parts ${PROJECT_VERSION_${part}})
    endif()
endforeach()
list(JOIN pz4_version_parts "." PZ4_VERSION_TEXT)
list(JOIN pz4_version_parts ", " PZ4_VERSION_COMMAS)

set(pz4_res_dir ${CMAKE_CURRENT_LIST_DIR})
set(pz4_res_out ${CMAKE_BINARY_DIR}/res)
configure_file(${pz4_res_dir}/PZ4_ReadOut.rc.in ${pz4_res_out}/PZ4_ReadOut.rc @ONLY)
configure_file(${pz4_res_dir}/PZ4_ReadOut.manifest.in ${pz4_res_out}/PZ4_ReadOut.manifest @ONLY)

add_library(pz4_win_res OBJECT ${pz4_res_out}/PZ4_ReadOut.rc)
# The resource compiler looks for the manifest beside the script, resource.h and the images in
# the source folder.
target_include_directories(pz4_win_res PRIVATE ${pz4_res_out} ${pz4_res_dir})
set_source_files_properties(${pz4_res_out}/PZ4_ReadOut.rc PROPERTIES OBJECT_DEPENDS
    "${pz4_res_out}/PZ4_ReadOut.manifest;${pz4_res_dir}/resource.h;${pz4_res_dir}/pz4.ico;${pz4_res_dir}/logo.bmp")
# The resources already carry the manifest; a second one from the linker would clash.
if(MSVC)
    target_link_options(pz4_win_res INTERFACE /MANIFEST:NO)
endif()
