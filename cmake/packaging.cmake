# A Debian package of the program: `cpack` in a build tree writes
# pz4-control_<version>_<arch>.deb there, with the program, its desktop entry, icons and
# AppStream metadata, the udev rule for the supply's bridge, its manual page, the copyright
# file and the changelog.
include(${CMAKE_CURRENT_LIST_DIR}/debian_files.cmake)

set(PZ4_PACKAGE_MAINTAINER "PZ4 Control developers <pz4-control@quorvin.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(PZ4_PROJECT_URL "https://pz4control.invalid"
    CACHE STRING "The project's home page in the AppStream metadata, with screenshot.png under it")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pz4-control)
set(pz4_res ${PROJECT_SOURCE_DIR}/res)

# The changelog holds the releases: AppStream's list and the manual pages' date come from it.
pz4_read_changelog(${pz4_res}/debian/changelog)
pz4_gzip(${pz4_res}/debian/changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz ${pz4_res}/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})

# One manual page for each program, from res/man.
foreach(page IN ITEMS pz4-readout.1 pz4ctl.1)
    pz4_man_page(${page})
endforeach()

set(pz4_app_id io.github.pz4control.pz4_readout)
configure_file(${pz4_res}/${pz4_app_id}.metainfo.xml.in
    ${CMAKE_BINARY_DIR}/${pz4_app_id}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${pz4_app_id}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_PACKAGE_VENDOR Quorvin)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Read out and set the Quorvin PZ4 high-voltage supply")
# Lines as Debian shows them, each within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "PZ4 Control shows the measured voltage, current and state of each channel of
PZ4 supplies attached through their FTDI USB bridge, and sets their voltages.
It uses FTDI's D2XX library when it is installed and the kernel's serial ports
otherwise. A udev rule lets the user at the seat open a supply's bridge without
root or the dialout group. pz4ctl does the same from scripts and bridges the
supplies to an MQTT broker.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PZ4_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The scan of the program's libraries names Qt's core, GUI and widget packages, but not the
# platform plugins Qt loads at run time: on Debian 12 the X11 one comes with libqt6gui6, the
# others with qt6-qpa-plugins, which is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${pz4_res}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
