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
compresses speech with GSM 06.10 and plays and records through ALSA.

The package holds the window (velnar), the same phone for terminals and
scripts (velnar-console) and an echo server to try it with (velnar-echo).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ALSA's "default" device reaches the desktop's sound server through them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libasound2-plugins)
include(CPack)
