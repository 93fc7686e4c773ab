# What `cmake --install` puts in place beyond the programs (which each
# folder installs), and the Debian package CPack makes of it:
#   cmake --build build && (cd build && cpack -G DEB)

# The programs print the project's version with --version.
foreach(program quorvexd quorvex quorvex-sim)
  target_compile_definitions(${program} PRIVATE QUORVEX_VERSION="${PROJECT_VERSION}")
endforeach()

# Manual pages, hand-written, and the package's changelog, installed
# compressed as Debian policy wants (gzip -n: the same bytes every build).
set(QUORVEX_COMPRESSED)
foreach(source man/quorvexd.1 man/quorvex.1 man/quorvex-sim.1 data/changelog)
  get_filename_component(name ${source} NAME)
  set(target ${CMAKE_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/compressed
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/${source} > ${target}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source})
  list(APPEND QUORVEX_COMPRESSED ${target})
endforeach()
add_custom_target(quorvex_docs ALL DEPENDS ${QUORVEX_COMPRESSED})
install(FILES ${CMAKE_BINARY_DIR}/compressed/quorvexd.1.gz ${CMAKE_BINARY_DIR}/compressed/quorvex.1.gz
  ${CMAKE_BINARY_DIR}/compressed/quorvex-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The example settings file, with comments, the plant feed's topics, and
# the copyright and changelog files every Debian package carries.
install(FILES data/Quorvex.ini.example docs/plant-feed.md docs/instruments.md data/copyright
  ${CMAKE_BINARY_DIR}/compressed/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvex)

# Bash completion of the client, generated from the introspection XML.
set(QUORVEX_COMPLETION ${CMAKE_BINARY_DIR}/completion/quorvex)
add_custom_command(OUTPUT ${QUORVEX_COMPLETION}
  COMMAND ${CMAKE_COMMAND}
    -DXML=${CMAKE_SOURCE_DIR}/data/com.velkaro.Quorvex.Global.xml
    -DTEMPLATE=${CMAKE_SOURCE_DIR}/data/quorvex.bash-completion.in
    -DOUTPUT=${QUORVEX_COMPLETION}
    -P ${CMAKE_SOURCE_DIR}/cmake/GenerateCompletion.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/data/com.velkaro.Quorvex.Global.xml
    ${CMAKE_SOURCE_DIR}/data/quorvex.bash-completion.in
    ${CMAKE_SOURCE_DIR}/cmake/GenerateCompletion.cmake
  COMMENT "Generating the bash completion of quorvex")
add_custom_target(quorvex_completion ALL DEPENDS ${QUORVEX_COMPLETION})
install(FILES ${QUORVEX_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# `ninja install` and CPack install what is built and build nothing
# themselves: scripts/package.sh builds the installed targets first, so a
# package test does not rebuild the whole tree with its benchmarks.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VENDOR "Velkaro s.r.l.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "automation server for the serial instruments of a coiling line")
set(CPACK_PACKAGE_DESCRIPTION "quorvexd serves the readings of a coiling line's scale, meter counter,
height sensor and PLC service device over the D-Bus session bus; quorvex is its
command-line client and quorvex-sim simulates the instruments.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Install into a staging DESTDIR with the real prefix, so files written at
# install time (the service files) name /usr/bin, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CPACK_PACKAGING_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velkaro s.r.l. <quorvex@velkaro.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SQLite driver is a plugin Qt loads at run time: no shared library
# dependency names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dbus-user-session | dbus-x11, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(CPack)

# The package built and checked as installed files (about 10 s on a built tree).
add_test(NAME package COMMAND ${CMAKE_SOURCE_DIR}/scripts/package.sh)
set_tests_properties(package PROPERTIES LABELS package TIMEOUT 120 ENVIRONMENT "BUILD=${CMAKE_BINARY_DIR}")
