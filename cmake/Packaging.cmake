# The Debian package: `cmake --build <build dir> --target package` makes
# velnar_<version>_<arch>.deb from the install rules (the window, the console
# phone, the echo server, the desktop entry, the icons and the man pages),
# with its run-time dependencies computed by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velnar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "Velnar maintainers <maintainers@velnar.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop telephone for IAX servers")
set(CPACK_PACKAGE_DESCRIPTION
  "Velnar is a small softphone: it calls through one IAX version 1 server,
compresses speech with GSM 06.10 and plays and records through the
desktop's sound server (PulseAudio or PipeWire), or through ALSA where
there is none.

The package holds the window (velnar), the same phone for terminals and
scripts (velnar-console) and an echo server to try it with (velnar-echo).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ALSA's "default" device reaches the desktop's sound server through them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libasound2-plugins)

# The copyright file and the changelog every Debian package carries.
include(GNUInstallDirs)
set(velnar_changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${velnar_changelog}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${velnar_changelog}
  DEPENDS cmake/debian/changelog
  VERBATIM)
add_custom_target(velnar_changelog ALL DEPENDS ${velnar_changelog})
install(FILES cmake/debian/copyright ${velnar_changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velnar)
include(CPack)
