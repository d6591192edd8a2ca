# Installation: the driver with the TARVEX stand-in beside it, the host
# records header, the tools with their man pages, and the files that let other
# projects find the driver (CMake package qorht with target qorht::qorht, and
# pkg-config qorht).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QORHT_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/qorht)
set(QORHT_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/qorht)

# libqorht.so.1 finds libtarvex.so through its RUNPATH $ORIGIN, so the two
# always go into the same directory.
install(TARGETS qorht tarvex EXPORT qorhtTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${QORHT_INSTALL_INCLUDEDIR})
# A host includes "host/records.h" as it does in this source tree.
install(FILES ${CMAKE_SOURCE_DIR}/host/records.h DESTINATION ${QORHT_INSTALL_INCLUDEDIR}/host)

# The tools load the driver from the library directory beside bin/.
foreach(tool htpoll htsim)
    if(TARGET ${tool})
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
    if(EXISTS ${CMAKE_SOURCE_DIR}/tools/${tool}/${tool}.1)
        install(FILES ${CMAKE_SOURCE_DIR}/tools/${tool}/${tool}.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
endforeach()

install(EXPORT qorhtTargets NAMESPACE qorht:: DESTINATION ${QORHT_INSTALL_CMAKEDIR})
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/qorhtConfig.cmake
    "# qorht: the H-series serial driver. Imported target qorht::qorht, the\n"
    "# shared library with the include directory of host/records.h.\n"
    "include(\"\${CMAKE_CURRENT_LIST_DIR}/qorhtTargets.cmake\")\n")
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qorhtConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qorhtConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/qorhtConfigVersion.cmake
    DESTINATION ${QORHT_INSTALL_CMAKEDIR})

# pkg-config: the prefix is found from where the .pc file lies, so the
# installation can move (cmake --install --prefix picks it at install time).
set(QORHT_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QORHT_PC_TO_PREFIX /prefix/${QORHT_PC_DIR} /prefix)
string(REGEX REPLACE "/$" "" QORHT_PC_TO_PREFIX "${QORHT_PC_TO_PREFIX}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/qorht.pc
    "prefix=\${pcfiledir}/${QORHT_PC_TO_PREFIX}\n"
    "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
    "includedir=\${prefix}/${QORHT_INSTALL_INCLUDEDIR}\n"
    "\n"
    "Name: qorht\n"
    "Description: Serial driver for H-series programmable controllers (entry point QorMain)\n"
    "Version: ${PROJECT_VERSION}\n"
    "Libs: -L\${libdir} -lqorht\n"
    "Cflags: -I\${includedir}\n")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qorht.pc DESTINATION ${QORHT_PC_DIR})
