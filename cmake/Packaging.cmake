# Install rules and the Debian package. Included from the top-level CMakeLists.txt after every
# add_subdirectory(), so that if(TARGET ...) sees the helper programs that were defined.
include(GNUInstallDirs)

set(VELMORA_APP_ID org.velmora.Velmora)

# Manual pages go in compressed, as Debian's policy wants them; -n keeps the file free of a
# time stamp so that the same source gives the same package.
find_program(VELMORA_GZIP gzip REQUIRED)
function(velmora_install_man_page page)
    set(source ${PROJECT_SOURCE_DIR}/data/${page})
    set(compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${compressed}
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${PROJECT_BINARY_DIR}/man/${page}
                       COMMAND ${VELMORA_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${page}
                       DEPENDS ${source} VERBATIM)
    string(REPLACE "." "_" target man_${page})
    add_custom_target(${target} ALL DEPENDS ${compressed})
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

install(TARGETS velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/${VELMORA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/${VELMORA_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES data/${VELMORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
velmora_install_man_page(velmora.1)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora RENAME copyright)

# The simulated bench served as an adapter ships where it is built; the benchmark
# (velmora-perf) is a developer's tool and never installed.
if(TARGET velmora-bench)
    install(TARGETS velmora-bench RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    velmora_install_man_page(velmora-bench.1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmora developers")
set(CPACK_PACKAGE_CONTACT "Velmora developers <dev@velmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "check coaxial terminations and attenuators with a spectrum analyser over GPIB")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velmora drives a 2710, 2711 or 2712 spectrum analyser and its tracking
generator over a GPIB (IEEE-488) bus, sweeps a termination or attenuator
from 12.5 MHz to 1000 MHz against a reference, draws return loss or
attenuation deviation against limit lines and prints a one-page report.
.
It reaches the bus through linux-gpib's user library (libgpib.so.0),
loaded when it starts, or through a USB or Ethernet GPIB adapter that
takes ++ commands. Without either, velmora --simulate runs a
built-in simulated bench; velmora-bench serves that bench as an adapter.")
# Depends come from the shared libraries the programs link. libgpib.so.0 is opened at run
# time, so it is no dependency; Debian 12 has no linux-gpib package to recommend, but a lab
# whose own repository carries one can name it here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The history's SQL drivers are plugins Qt loads by name, which no library dependency shows:
# SQLite for every bench, PostgreSQL for a lab's shared database.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6sql6-sqlite)
set(VELMORA_DEB_GPIB_PACKAGE "" CACHE STRING
    "Package with linux-gpib's user library for the .deb to recommend (none by default)")
if(VELMORA_DEB_GPIB_PACKAGE)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ${VELMORA_DEB_GPIB_PACKAGE})
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups, libqt6sql6-psql")

include(CPack)
