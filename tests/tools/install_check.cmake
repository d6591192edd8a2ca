# Installs the build into a fresh prefix and checks what a user of the
# installation gets: the files in their places, and an installed htpoll that
# shows its help and loads the installed driver.
# cmake -DBUILD_DIR=... -DPREFIX=... -P install_check.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
    RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

foreach(file bin/htpoll lib/libqorht.so.1 lib/libqorht.so lib/libtarvex.so
        include/qorht/host/records.h lib/cmake/qorht/qorhtConfig.cmake
        lib/cmake/qorht/qorhtConfigVersion.cmake lib/cmake/qorht/qorhtTargets.cmake
        lib/pkgconfig/qorht.pc share/man/man1/htpoll.1)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

execute_process(COMMAND ${PREFIX}/bin/htpoll --help
    RESULT_VARIABLE status OUTPUT_VARIABLE help)
if(NOT status EQUAL 0 OR NOT help MATCHES "Usage: htpoll")
    message(FATAL_ERROR "installed htpoll --help: status ${status}\n${help}")
endif()

# A port that does not exist: the installed driver is loaded and its ColdStart
# answers 1, which only a loaded driver can say.
execute_process(COMMAND ${PREFIX}/bin/htpoll -p ttyQQ9 AWR00010
    RESULT_VARIABLE status ERROR_VARIABLE errors OUTPUT_QUIET)
if(NOT status EQUAL 1 OR NOT errors MATCHES "ColdStart returned 1")
    message(FATAL_ERROR "installed htpoll with the installed driver: status ${status}\n${errors}")
endif()
file(REMOVE_RECURSE ${PREFIX})
