# qivro_add_test(<name> SOURCES <files...> [LIBRARIES <libs...>] [ENVIRONMENT <VAR=value...>]
#                [GUI])
# A QtTest executable registered with ctest. Each test gets a private HOME and runtime directory,
# so nothing it does can reach a real profile, and tests can run in parallel. QIVRO_TUN=0 keeps a
# test run as root from routing the machine into a TUN; a test that wants TUN mode sets it itself
# inside a namespace of its own. Tests run offscreen;
# GUI ones on a private X server (Xvfb) where xvfb-run is installed, so effects really draw.
find_program(QIVRO_XVFB_RUN xvfb-run)
function(qivro_add_test name)
    cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBRARIES})
    qivro_set_warnings(${name})
    set(home "${CMAKE_CURRENT_BINARY_DIR}/home/${name}")
    file(MAKE_DIRECTORY "${home}/runtime")
    file(CHMOD "${home}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    set(platform offscreen)
    if(ARG_GUI AND QIVRO_XVFB_RUN)
        add_test(NAME ${name} COMMAND "${QIVRO_XVFB_RUN}" -a -s "-screen 0 1280x800x24"
                                      $<TARGET_FILE:${name}>)
        set(platform xcb)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "HOME=${home};XDG_RUNTIME_DIR=${home}/runtime;XDG_CONFIG_HOME=${home}/.config;XDG_DATA_HOME=${home}/.local/share;XDG_CACHE_HOME=${home}/.cache;QT_QPA_PLATFORM=${platform};QIVRO_TUN=0;${ARG_ENVIRONMENT}"
        TIMEOUT 300)
endfunction()
