# Install layout and the two Debian packages, built by CPack from the release tree:
#   cmake --build build/release --target package
# vistrel: both clients, vistrel-regsvr, the decoder module, data, desktop integration.
# vistrel-camsim: the simulator and its example scenarios.
# The version is the project's (project() in the top CMakeLists.txt); dependencies are computed
# by dpkg-shlibdeps.

set(VISTREL_PKG_SRC ${CMAKE_SOURCE_DIR}/packaging)
set(VISTREL_PKG_OUT ${CMAKE_BINARY_DIR}/packaging)
set(VISTREL_MODULE ${CMAKE_INSTALL_FULL_LIBDIR}/vistrel/$<TARGET_FILE_NAME:ZebH264Filter>)

install(TARGETS vistrel vistrel-cli vistrel-regsvr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vistrel)
install(TARGETS vistrel-camsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT camsim)
# Loaded with dlopen, never linked: a private folder, no SONAME, not executable.
install(TARGETS ZebH264Filter LIBRARY DESTINATION ${VISTREL_INSTALL_MODULEDIR} COMPONENT vistrel
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(FILES ${CMAKE_SOURCE_DIR}/data/Vistrel.ini ${CMAKE_SOURCE_DIR}/data/CameraType.ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vistrel COMPONENT vistrel)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/PictureSkin DESTINATION ${CMAKE_INSTALL_DATADIR}/vistrel
        COMPONENT vistrel)
install(FILES ${CMAKE_SOURCE_DIR}/data/vistrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT vistrel)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/vistrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT vistrel)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/tools/camsim/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/vistrel-camsim/examples
        COMPONENT camsim)
install(FILES ${VISTREL_PKG_SRC}/completions/vistrel-cli.bash RENAME vistrel-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT vistrel)
install(FILES ${VISTREL_PKG_SRC}/completions/_vistrel-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT vistrel)

# Files made at build time: the versioned metainfo, the icon at the hicolor sizes, the man pages
# and the Debian changelogs, compressed as Debian keeps them.
set(VISTREL_PKG_FILES)
configure_file(${CMAKE_SOURCE_DIR}/data/invalid.example.Vistrel.metainfo.xml
               ${VISTREL_PKG_OUT}/invalid.example.Vistrel.metainfo.xml @ONLY)
install(FILES ${VISTREL_PKG_OUT}/invalid.example.Vistrel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT vistrel)

find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  foreach(size 16 24 32 48 64 128 256)
    set(png ${VISTREL_PKG_OUT}/icons/${size}/vistrel.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${VISTREL_PKG_OUT}/icons/${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/data/icons/vistrel.svg
      DEPENDS ${CMAKE_SOURCE_DIR}/data/icons/vistrel.svg VERBATIM)
    list(APPEND VISTREL_PKG_FILES ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT vistrel)
  endforeach()
endif()

# vistrel_gzip(<source> <name> <package> <component> <destination>): <source> with @VERSION@ and
# @PACKAGE@ filled in, installed as <destination>/<name>.gz.
function(vistrel_gzip source name package component destination)
  set(VERSION ${PROJECT_VERSION})
  set(PACKAGE ${package})
  set(out ${VISTREL_PKG_OUT}/${package}/${name})
  configure_file(${source} ${out} @ONLY)
  # -n: no name or time stamp, so that the package is the same from one build to the next.
  add_custom_command(OUTPUT ${out}.gz COMMAND gzip -9nkf ${out} DEPENDS ${out} VERBATIM)
  set(VISTREL_PKG_FILES ${VISTREL_PKG_FILES} ${out}.gz PARENT_SCOPE)
  install(FILES ${out}.gz DESTINATION ${destination} COMPONENT ${component})
endfunction()

foreach(page vistrel vistrel-cli vistrel-regsvr)
  vistrel_gzip(${VISTREL_PKG_SRC}/man/${page}.1 ${page}.1 vistrel vistrel ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
vistrel_gzip(${VISTREL_PKG_SRC}/man/vistrel-camsim.1 vistrel-camsim.1 vistrel-camsim camsim ${CMAKE_INSTALL_MANDIR}/man1)
foreach(package_component vistrel:vistrel vistrel-camsim:camsim)
  string(REPLACE ":" ";" pc ${package_component})
  list(GET pc 0 package)
  list(GET pc 1 component)
  # A native package (the project is its own upstream): changelog, not changelog.Debian.
  vistrel_gzip(${VISTREL_PKG_SRC}/debian/changelog.in changelog ${package} ${component}
               ${CMAKE_INSTALL_DATADIR}/doc/${package})
  install(FILES ${VISTREL_PKG_SRC}/debian/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
endforeach()
add_custom_target(vistrel_package_files ALL DEPENDS ${VISTREL_PKG_FILES})

# The maintainer scripts of vistrel register the module and give the capture capability.
foreach(script postinst prerm)
  # The module's path holds a generator expression: filled in at generate time.
  configure_file(${VISTREL_PKG_SRC}/debian/${script}.in ${VISTREL_PKG_OUT}/${script}.genex @ONLY)
  file(GENERATE OUTPUT ${VISTREL_PKG_OUT}/scripts/${script} INPUT ${VISTREL_PKG_OUT}/${script}.genex
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
file(COPY ${VISTREL_PKG_SRC}/debian/postrm DESTINATION ${VISTREL_PKG_OUT}/scripts
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vistrel developers <vistrel@example.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL vistrel camsim)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_VISTREL_PACKAGE_NAME vistrel)
set(CPACK_DEBIAN_CAMSIM_PACKAGE_NAME vistrel-camsim)
# CPack indents the lines after the first itself.
set(CPACK_COMPONENT_VISTREL_DESCRIPTION "client for network cameras and recorders
Vistrel finds the network cameras and recorders of one camera family on the
local network, plays live video and audio, talks back through the microphone,
changes the cameras' settings, downloads the recordings on their SD cards and
upgrades their firmware. It needs no server. This package holds the desktop
client, the command-line client vistrel-cli and the video decoder module.")
set(CPACK_COMPONENT_CAMSIM_DESCRIPTION "simulated network cameras for Vistrel
vistrel-camsim plays any number of cameras and recorders on the camera side of
every protocol the Vistrel clients speak, for tests and demonstrations in a
network of their own.")
# What dpkg-shlibdeps cannot see: setcap in the configure script, and the MPEG-4 decoder's Xvid
# core, which the module loads with dlopen.
set(CPACK_DEBIAN_VISTREL_PACKAGE_DEPENDS "libcap2-bin, libxvidcore4")
set(CPACK_DEBIAN_VISTREL_PACKAGE_CONTROL_EXTRA
    ${VISTREL_PKG_OUT}/scripts/postinst ${VISTREL_PKG_OUT}/scripts/prerm ${VISTREL_PKG_OUT}/scripts/postrm)
include(CPack)
