# Installation and the Debian package (`cpack -G DEB` in a build folder; scripts/package.sh).
#
# The programs go to bin/, the skin pack to share/taviro/skin/ (where the programs find it
# from bin/ without $TAVIRO_SKIN, see src/platform/skin_folder.h), the desktop entry to
# share/applications/, the drawn icon to share/icons/hicolor/, the manual pages to
# share/man/man1/ and the copyright and the package's changelog to share/doc/taviro/. The
# package installs below /usr.
include(GNUInstallDirs)

# Directories made by the installation are 0755 whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS taviro-cli taviro-recorder-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TAVIRO_BUILD_GUI)
  install(TARGETS taviro RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The pack is the generator's pictures and text table; the generator itself and CMake's
  # files live in the same build folder and stay behind.
  install(DIRECTORY ${CMAKE_BINARY_DIR}/skin/ DESTINATION ${CMAKE_INSTALL_DATADIR}/taviro/skin
    FILES_MATCHING PATTERN "*.png" PATTERN "texts.txt" PATTERN "CMakeFiles" EXCLUDE)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/taviro.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

set(TAVIRO_DEB_RELEASE 1)
set(TAVIRO_DEB_VERSION ${PROJECT_VERSION}-${TAVIRO_DEB_RELEASE})
set(TAVIRO_DEB_MAINTAINER "Taviro developers <maintainers@users.noreply.c-seed-8fd98e97.example>")

# Debian wants the package's changelog compressed with gzip -9n (no name, no time stamp), so
# the same sources give the same bytes; it is written when the build is configured.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
  ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
find_program(TAVIRO_GZIP gzip REQUIRED)
execute_process(COMMAND ${TAVIRO_GZIP} -9n -c ${CMAKE_BINARY_DIR}/packaging/changelog
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip of the package changelog failed: ${gzip_result}")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
  ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME taviro)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME taviro)
set(CPACK_PACKAGE_VENDOR "Taviro developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client for networked digital video recorders")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description.txt)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Release builds carry debug information (RelWithDebInfo); the package's programs do not.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TAVIRO_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAVIRO_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link come from dpkg-shlibdeps. What they load at run time is
# not seen there: the OpenGL driver of the video panes (Mesa's DRI drivers), a PulseAudio
# server for live sound and talk (Qt Multimedia speaks its protocol; PipeWire's stands in),
# and the skin's fonts (Liberation Sans, with DejaVu Sans after it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "fonts-liberation2, fonts-dejavu-core, libgl1-mesa-dri, pulseaudio | pipewire-pulse")
include(CPack)

# What the package holds; scripts/package.sh builds this target and then runs cpack, so a
# package needs neither the tests nor the benchmarks built, and installing (which cpack does)
# does not build the whole tree first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# The manual pages, each from its program's --help (cmake/TaviroManPage.cmake).
set(man_pages)
set(man_programs taviro-cli taviro-recorder-sim)
set(man_summary_taviro "desktop client for networked digital video recorders")
set(man_summary_taviro-cli "command-line client for networked digital video recorders")
set(man_summary_taviro-recorder-sim "simulated networked video recorder for tests and trials")
set(man_text_taviro "Connects to a recorder, or plays backup files in player mode, and shows \
its cameras in up to sixteen panes. The pictures and texts of its windows come from the skin \
pack in ../share/taviro/skin from the program's folder (/usr/share/taviro/skin for the \
package); TAVIRO_SKIN names another folder.")
set(man_text_taviro-cli "Runs one command against a recorder (or a folder of backups) and \
exits with its status. taviro-cli COMMAND --help lists the options of a command.")
set(man_text_taviro-recorder-sim "Plays a networked video recorder for one client at a time, \
with cameras, recordings and logs of its own, for tests and for trying the clients without \
a recorder.")
if(TAVIRO_BUILD_GUI)
  list(PREPEND man_programs taviro)
endif()
foreach(program IN LISTS man_programs)
  set(page ${CMAKE_BINARY_DIR}/packaging/man/${program}.1.gz)
  set(others ${man_programs})
  list(REMOVE_ITEM others ${program})
  list(TRANSFORM others APPEND "(1)")
  list(JOIN others ", " see_also)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
      "-DSUMMARY=${man_summary_${program}}" "-DDESCRIPTION=${man_text_${program}}"
      -DVERSION=${PROJECT_VERSION}
      "-DSEE_ALSO=${see_also}" -DOUTPUT=${page}
      -P ${PROJECT_SOURCE_DIR}/cmake/TaviroManPage.cmake
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/TaviroManPage.cmake
    COMMENT "Writing the manual page of ${program}"
    VERBATIM)
  list(APPEND man_pages ${page})
endforeach()
# Part of `all`, like the icon, so that `cmake --install` after a plain build has every file.
add_custom_target(taviro_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

add_custom_target(taviro_package_inputs)
add_dependencies(taviro_package_inputs taviro-cli taviro-recorder-sim taviro_man_pages)
if(TAVIRO_BUILD_GUI)
  add_dependencies(taviro_package_inputs taviro taviro_skin taviro_icons)
endif()
