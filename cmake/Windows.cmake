# The Windows product: QORHT.DLL, loaded by the SCADA host, and the pieces that
# test it under Wine. Included by the top CMakeLists.txt when the target is
# Windows (normally a MinGW-w64 cross build, see cmake/toolchains/).
#
# Outputs, all in ${CMAKE_BINARY_DIR}/bin:
#   QORHT.DLL      the driver; exports QorMain, imports err from TARVEX.DLL
#   TARVEX.DLL     stand-in host runtime for the tests (err prints to stderr)
#   test_host.exe  loads QORHT.DLL like the host does and drives it
#
# Everything here is static against the compiler's runtime, so the DLL needs
# nothing beyond TARVEX.DLL and the system's own DLLs on the host machine.

if(NOT MINGW)
    message(FATAL_ERROR "QORHT.DLL is built with MinGW-w64 (see cmake/toolchains/)")
endif()

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(QORHT_WIN32_BITS 32)
    set(QORHT_DLLTOOL_MACHINE i386)
else()
    set(QORHT_WIN32_BITS 64)
    set(QORHT_DLLTOOL_MACHINE i386:x86-64)
endif()

if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL NAMES dlltool REQUIRED)
endif()

# The runtime of the compiler goes into each binary: no libstdc++, libgcc or
# libwinpthread DLL has to travel with the driver.
set(QORHT_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Import library for TARVEX.DLL, made from its module definition: the driver
# links against the host runtime's real export by name, never against the
# test stand-in below.
set(QORHT_TARVEX_DEF ${CMAKE_SOURCE_DIR}/windows/tarvex.def)
set(QORHT_TARVEX_IMPORTS ${CMAKE_BINARY_DIR}/imports/libtarvex.a)
add_custom_command(
    OUTPUT ${QORHT_TARVEX_IMPORTS}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/imports
    COMMAND ${CMAKE_DLLTOOL} --machine ${QORHT_DLLTOOL_MACHINE} --input-def ${QORHT_TARVEX_DEF}
            --dllname TARVEX.DLL --output-lib ${QORHT_TARVEX_IMPORTS}
    DEPENDS ${QORHT_TARVEX_DEF}
    COMMENT "Generating the TARVEX.DLL import library (${QORHT_DLLTOOL_MACHINE})"
    VERBATIM)
add_custom_target(tarvex_imports DEPENDS ${QORHT_TARVEX_IMPORTS})

set(QORHT_WINDOWS_SOURCES
    $<TARGET_OBJECTS:qorht_core>
    ${CMAKE_SOURCE_DIR}/platform/win32.cpp
    ${CMAKE_SOURCE_DIR}/platform/line_trace.cpp
    ${CMAKE_SOURCE_DIR}/windows/qorht.def)
if(QORHT_WIN32_BITS EQUAL 32)
    # The host's record layout, asserted at compile time (32-bit only).
    list(APPEND QORHT_WINDOWS_SOURCES ${CMAKE_SOURCE_DIR}/windows/abi_check.cpp)
endif()

add_library(qorht SHARED ${QORHT_WINDOWS_SOURCES})
target_include_directories(qorht PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(qorht PRIVATE QORHT_BUILDING_DRIVER)
target_link_libraries(qorht PRIVATE ${QORHT_TARVEX_IMPORTS})
target_link_options(qorht PRIVATE ${QORHT_STATIC_RUNTIME} -Wl,--no-undefined)
add_dependencies(qorht tarvex_imports)
set_target_properties(qorht PROPERTIES
    OUTPUT_NAME QORHT PREFIX "" SUFFIX ".DLL"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS "${QORHT_TARVEX_IMPORTS};${CMAKE_SOURCE_DIR}/windows/qorht.def")

# Test stand-in for the host runtime, exporting err through the same module
# definition the import library comes from.
add_library(tarvex_stub SHARED ${CMAKE_SOURCE_DIR}/windows/tarvex_stub.c ${QORHT_TARVEX_DEF})
target_link_options(tarvex_stub PRIVATE ${QORHT_STATIC_RUNTIME})
set_target_properties(tarvex_stub PROPERTIES OUTPUT_NAME TARVEX PREFIX "" SUFFIX ".DLL"
    IMPORT_PREFIX "" IMPORT_SUFFIX ".stub.a")

# The test host: a C console program that finds QorMain with LoadLibrary and
# GetProcAddress, as the real host does. It does not link the driver.
add_executable(test_host ${CMAKE_SOURCE_DIR}/windows/test_host.c)
target_include_directories(test_host PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(test_host PRIVATE ${QORHT_STATIC_RUNTIME})
add_dependencies(test_host qorht tarvex_stub)

install(TARGETS qorht RUNTIME DESTINATION bin)
