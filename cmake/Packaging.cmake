# Installation rules and the Debian package (cpack -G DEB).
include(${CMAKE_CURRENT_LIST_DIR}/Install.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME siderama)
set(CPACK_PACKAGE_VERSION ${SIDERAMA_VERSION})
set(CPACK_PACKAGE_VENDOR "The Siderama developers")
set(CPACK_PACKAGE_CONTACT "The Siderama developers <siderama@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "plate solver for astronomical images")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 2)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME siderama)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The long description; CPack puts the summary line above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Siderama finds where in the sky an astronomical image points: the right
ascension and declination of its centre, the orientation of north and the
pixel scale. It reads FITS, JPEG, PNG, TIFF and raw camera frames and solves
them with the astrometry.net tools against installed index files.

A desktop window, a terminal mode, index file management, and an HTTP API
announced by DNS service discovery for remote clients.")
# Library dependencies come from dpkg-shlibdeps (libqt6*, libcfitsio10,
# libavahi-client3, libc6, ...); the tools and the plug-ins it loads at run
# time are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "astrometry.net, qt6-image-formats-plugins, libqt6sql6-sqlite, libqt6sql6-psql, adduser")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "astrometry-data-tycho2-10-19-littleendian, avahi-daemon")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The solving service: a systemd unit, its settings (a conffile) and the
# postinst that creates its system user.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/siderama-server.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/Siderama.conf DESTINATION /etc/siderama/Siderama)
install(FILES ${CMAKE_SOURCE_DIR}/docs/server.md DESTINATION ${SIDERAMA_INSTALL_DOCDIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/conffiles)

# Only the package; the tests, benchmarks and build directories stay out of
# source packages.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
