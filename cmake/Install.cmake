# Installation layout of Siderama (cmake --install, and the Debian package):
#
#   bin/siderama                     (the launcher: terminal solves of FITS images)
#   libexec/siderama/siderama-app    (the full application the launcher becomes)
#   libexec/siderama/{image2xy,solve-field,new-wcs,wcsinfo,plot-constellations,an-fitstopnm} -> /usr/bin/<tool>
#   share/applications/siderama.desktop
#   share/metainfo/io.github.siderama.siderama.metainfo.xml
#   share/icons/hicolor/scalable/apps/siderama.svg
#   share/icons/hicolor/NxN/apps/siderama.png
#   share/man/man1/siderama.1.gz
#   share/doc/siderama/copyright
#
# The program finds its tools as ../libexec/siderama from the directory of
# its executable, so both directories are fixed here rather than taken from
# the (distribution-dependent) GNUInstallDirs cache variables.

set(SIDERAMA_INSTALL_BINDIR bin)
set(SIDERAMA_INSTALL_TOOLSDIR libexec/siderama)
set(SIDERAMA_INSTALL_DATADIR share)
set(SIDERAMA_INSTALL_DOCDIR share/doc/siderama)
set(SIDERAMA_INSTALL_MANDIR share/man)
set(SIDERAMA_ICON_SIZES 16 22 24 32 48 64 128 256)
set(SIDERAMA_DATA_DIR ${CMAKE_SOURCE_DIR}/data)
set(SIDERAMA_GENERATED_DATA_DIR ${CMAKE_BINARY_DIR}/data)

# The executable. Everything it links from the build tree is static, so the
# installed binary has no run path into the build tree.
install(TARGETS siderama RUNTIME DESTINATION ${SIDERAMA_INSTALL_BINDIR})
install(TARGETS siderama-app RUNTIME DESTINATION ${SIDERAMA_INSTALL_TOOLSDIR})

# Links to the distribution's plate-solving tools (SIDERAMA_TOOLS is the list
# the build tree's libexec/siderama is made from).
if(NOT SIDERAMA_TOOLS)
    set(SIDERAMA_TOOLS image2xy solve-field new-wcs wcsinfo plot-constellations an-fitstopnm)
endif()
install(DIRECTORY DESTINATION ${SIDERAMA_INSTALL_TOOLSDIR})
foreach(tool IN LISTS SIDERAMA_TOOLS)
    install(CODE "
        set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${SIDERAMA_INSTALL_TOOLSDIR}/${tool}\")
        message(STATUS \"Installing: \${link} -> /usr/bin/${tool}\")
        file(REMOVE \"\${link}\")
        file(CREATE_LINK /usr/bin/${tool} \"\${link}\" SYMBOLIC)
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")
    ")
endforeach()

# Desktop entry.
install(FILES ${SIDERAMA_DATA_DIR}/siderama.desktop
        DESTINATION ${SIDERAMA_INSTALL_DATADIR}/applications)

# AppStream metadata, for software centres.
set(SIDERAMA_APPSTREAM_ID io.github.siderama.siderama)
configure_file(${SIDERAMA_DATA_DIR}/siderama.metainfo.xml
    ${SIDERAMA_GENERATED_DATA_DIR}/${SIDERAMA_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${SIDERAMA_GENERATED_DATA_DIR}/${SIDERAMA_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${SIDERAMA_INSTALL_DATADIR}/metainfo)

# Icons: the SVG, and PNGs rendered from it at build time by Qt's SVG
# image-format plug-in.
install(FILES ${SIDERAMA_DATA_DIR}/icons/siderama.svg
        DESTINATION ${SIDERAMA_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
add_executable(siderama_render_icon ${CMAKE_SOURCE_DIR}/cmake/tools/render_icon.cpp)
target_link_libraries(siderama_render_icon PRIVATE Qt6::Gui)
set_target_properties(siderama_render_icon PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
set(siderama_icon_pngs)
foreach(size IN LISTS SIDERAMA_ICON_SIZES)
    set(png ${SIDERAMA_GENERATED_DATA_DIR}/icons/${size}x${size}/siderama.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${SIDERAMA_GENERATED_DATA_DIR}/icons/${size}x${size}
        COMMAND siderama_render_icon ${SIDERAMA_DATA_DIR}/icons/siderama.svg ${size} ${png}
        DEPENDS siderama_render_icon ${SIDERAMA_DATA_DIR}/icons/siderama.svg
        COMMENT "Rendering the ${size}x${size} icon"
        VERBATIM)
    list(APPEND siderama_icon_pngs ${png})
    install(FILES ${png} DESTINATION ${SIDERAMA_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual page, with the version filled in and compressed as Debian wants.
configure_file(${SIDERAMA_DATA_DIR}/siderama.1 ${SIDERAMA_GENERATED_DATA_DIR}/siderama.1 @ONLY)
set(siderama_man_gz ${SIDERAMA_GENERATED_DATA_DIR}/siderama.1.gz)
add_custom_command(OUTPUT ${siderama_man_gz}
    COMMAND gzip -9 -n -c ${SIDERAMA_GENERATED_DATA_DIR}/siderama.1 > ${siderama_man_gz}
    DEPENDS ${SIDERAMA_GENERATED_DATA_DIR}/siderama.1
    COMMENT "Compressing the manual page")
install(FILES ${siderama_man_gz} DESTINATION ${SIDERAMA_INSTALL_MANDIR}/man1)

add_custom_target(siderama_data ALL DEPENDS ${siderama_icon_pngs} ${siderama_man_gz})

# Licence, as a Debian machine-readable copyright file.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE siderama_license)
string(STRIP "${siderama_license}" siderama_license)
string(REPLACE "\n" "\n " siderama_license "${siderama_license}")
string(REPLACE "\n \n" "\n .\n" siderama_license "${siderama_license}")
string(REPLACE "\n \n" "\n .\n" siderama_license "${siderama_license}")
file(WRITE ${SIDERAMA_GENERATED_DATA_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Siderama

Files: *
Copyright: 2026 The Siderama developers
License: Expat
 ${siderama_license}
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
install(FILES ${SIDERAMA_GENERATED_DATA_DIR}/copyright DESTINATION ${SIDERAMA_INSTALL_DOCDIR})
