# What `cmake --install` puts where: the library with its header, a
# pkg-config file and a CMake package (find_package(telvaris) gives
# telvaris::telvaris), the programs with their manual pages, and the fading
# program's desktop entry and icon. scripts/package.sh makes a Debian
# package of the same (CPack, below).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TELVARIS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/telvaris)
set(TELVARIS_PROGRAMS dsu-sim telvaris-session relay-service procyon-sim telvaris-info lumidropRemote)

# Programs installed under a prefix of one's own find the library beside
# them; under /usr the system's search finds it (Debian forbids a search
# path there).
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(program_rpath "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()

install(TARGETS telvaris EXPORT telvarisTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT library
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/telvaris/include/telvaris.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT library)
install(EXPORT telvarisTargets NAMESPACE telvaris:: DESTINATION ${TELVARIS_CMAKE_DIR} COMPONENT library)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/telvarisConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/telvarisConfig.cmake INSTALL_DESTINATION ${TELVARIS_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/telvarisConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/telvarisConfig.cmake ${PROJECT_BINARY_DIR}/telvarisConfigVersion.cmake
        DESTINATION ${TELVARIS_CMAKE_DIR} COMPONENT library)
file(RELATIVE_PATH TELVARIS_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" TELVARIS_PC_TO_PREFIX "${TELVARIS_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/telvaris.pc.in ${PROJECT_BINARY_DIR}/telvaris.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/telvaris.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT library)

file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
foreach(program IN LISTS TELVARIS_PROGRAMS)
  if(NOT TARGET ${program})
    message(FATAL_ERROR "install: no program ${program} in this build")
  endif()
  set_target_properties(${program} PROPERTIES INSTALL_RPATH "${program_rpath}")
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  # Manual pages compressed, as Debian keeps them.
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/man/${program}.1
                  OUTPUT_FILE ${PROJECT_BINARY_DIR}/man/${program}.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT programs)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumidropRemote.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT programs)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumidropRemote.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT programs)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
# Debian keeps changelogs compressed, without a time stamp in the gzip header.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)

# The Debian package (scripts/package.sh). Shared libraries the binaries
# link are found by dpkg-shlibdeps; what is loaded at run time or used as
# data is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvaris)
set(CPACK_PACKAGE_VENDOR "Telvaris")
set(CPACK_PACKAGE_CONTACT "Telvaris developers <telvaris@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "biofeedback device and feedback library, with the LumiDrop fading program")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Telvaris is a shared library with a flat C interface for biofeedback
training applications: acquisition from the DSU data-acquisition unit over
serial lines, TCP/IP and MQTT, signal processing, feedback outputs (MIDI,
looping music, a light and sound device), UDP datagrams and an MQTT link to
a relay broker. lumidropRemote dims an always-on-top overlay and lowers the
system volume as a training session's feedback decisions arrive. The
package also holds a DSU simulator and a session recording tool.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/telvaris")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libfluidsynth3, timgm6mb-soundfont | fluid-soundfont-gm, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-pulseaudio, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The library's shlibs entry, and ldconfig run by trigger after install.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
include(CPack)
