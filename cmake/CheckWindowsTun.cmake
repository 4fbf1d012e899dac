# Compiles the engine's Windows TUN units with the MinGW cross compiler and links them, with the
# parts of the engine they use, into a program against the Windows import libraries: code that
# cannot run on this machine is at least complete. Run as:
#   cmake -DCXX=<x86_64-w64-mingw32-g++> -DSOURCE_DIR=<repo> -DWORK_DIR=<dir>
#         -DASIO_DIR=<folder holding asio.hpp> -P CheckWindowsTun.cmake
set(units
    engine/src/inbound/tun/wintundevice.cpp
    engine/src/inbound/tun/windowsnetwork.cpp
    engine/src/inbound/tun/windowsfirewall.cpp
    engine/src/inbound/tun/windowstunplatform.cpp
    engine/src/outbound/dialer.cpp
    engine/src/outbound/dialguard.cpp
    engine/src/common/address.cpp
    engine/src/common/log.cpp
    engine/src/common/stream.cpp
    tests/engine/windowstun.cpp)
# Only asio from the host's headers: the rest of /usr/include is not for Windows.
file(MAKE_DIRECTORY "${WORK_DIR}/include")
file(CREATE_LINK "${ASIO_DIR}/asio" "${WORK_DIR}/include/asio" SYMBOLIC)
file(CREATE_LINK "${ASIO_DIR}/asio.hpp" "${WORK_DIR}/include/asio.hpp" SYMBOLIC)
set(objects "")
foreach(unit IN LISTS units)
    get_filename_component(name "${unit}" NAME_WE)
    set(object "${WORK_DIR}/${name}.o")
    execute_process(
        COMMAND "${CXX}" -std=c++17 -O1 -Wall -Wextra -Werror -Wno-cast-function-type
                -DASIO_STANDALONE -DASIO_NO_DEPRECATED -D_WIN32_WINNT=0x0A00 -DNOMINMAX
                -I "${SOURCE_DIR}/engine/src" -isystem "${WORK_DIR}/include"
                -c "${SOURCE_DIR}/${unit}" -o "${object}"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${unit} does not compile for Windows")
    endif()
    list(APPEND objects "${object}")
endforeach()
execute_process(
    COMMAND "${CXX}" ${objects} -o "${WORK_DIR}/windowstun.exe" -static
            -lws2_32 -lmswsock -liphlpapi -lfwpuclnt
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the Windows TUN units do not link")
endif()
list(LENGTH units count)
message(STATUS "${count} Windows units compile and link")
