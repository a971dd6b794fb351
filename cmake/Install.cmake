# Installation and the Debian package (cpack -G DEB). The test bench and its port library
# go together into a folder of their own, <prefix>/libexec/kelvari, because the component
# loads DLPortIO.dll from the folder of the running executable (/proc/self/exe, which
# resolves links): bin/kelvari is a link to the executable there, so the library sits next
# to the program without a ".dll" file in the shared bin folder. lcdview, kelvari-sensors and
# the launcher kelvari-bench (test bench, viewer and publisher together) go into bin; the
# desktop entry starts the launcher. kelvari-port goes into bin and the library it preloads
# into the program folder, where it looks for it. kelvari-replay goes into bin. Tests, test libraries and benchmarks are
# not installed.
include(GNUInstallDirs)
set(KELVARI_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/kelvari)

install(TARGETS kelvari DLPortIO kelvari-port-shim
        RUNTIME DESTINATION ${KELVARI_PROGRAM_DIR}
        LIBRARY DESTINATION ${KELVARI_PROGRAM_DIR})
install(TARGETS lcdview kelvari-sensors kelvari-port kelvari-replay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(RELATIVE_PATH program_from_bin /${CMAKE_INSTALL_BINDIR} /${KELVARI_PROGRAM_DIR}/kelvari)
file(CREATE_LINK ${program_from_bin} ${CMAKE_BINARY_DIR}/kelvari-link SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/kelvari-link DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME kelvari)
install(PROGRAMS scripts/start-bench.sh DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME kelvari-bench)
# The desktop entry names the launcher by its installed path: the prefix need not be on PATH.
install(CODE "set(KELVARI_BENCH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kelvari-bench\")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/kelvari.desktop.in ${CMAKE_BINARY_DIR}/kelvari.desktop @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/kelvari.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/kelvari.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_PACKAGE_NAME kelvari)
set(CPACK_PACKAGE_VENDOR Kelvari)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kelvari developers <kelvari@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Test bench for a 240x64 T6963C graphic LCD on the parallel port")
set(CPACK_PACKAGE_DESCRIPTION
    "The test bench kelvari drives a T6963C graphic LCD wired to the PC parallel port, or a\
 virtual display module in its place; lcdview shows the virtual module live,\
 kelvari-sensors publishes this machine's hardware monitors for the sensor page, and\
 kelvari-port runs other display drivers (lcd4linux, LCDd) on the virtual module, and\
 kelvari-replay reads a logic analyser's capture of a T6963C bus through libsigrok.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The shared libraries the programs link (Qt 6, libsensors, libsigrokcxx with glibmm, libarchive)
# become dependencies through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The forms are laid out for Liberation Sans 8 pt; with another font their labels clip.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "lm-sensors")
set(CPACK_STRIP_FILES ON)
include(CPack)
