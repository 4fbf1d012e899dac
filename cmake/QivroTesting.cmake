# qivro_add_test(<name> SOURCES <files...> [LIBRARIES <libs...>] [ENVIRONMENT <VAR=value...>]
#                [GUI] [KEYRING])
# A QtTest executable registered with ctest. Each test gets a private HOME and runtime directory,
# so nothing it does can reach a real profile, and tests can run in parallel. Tests run offscreen;
# GUI ones on a private X server (Xvfb) where xvfb-run is installed, so effects really draw.
# QIVRO_TUN=0 keeps a test run as root from routing the machine into a TUN; a test that wants TUN
# mode sets it itself, inside a network namespace of its own.
# No test reaches the user's session bus, so none finds a credential store, except KEYRING ones:
# <name> runs in a private D-Bus session with an unlocked keyring of its own and sees
# QIVRO_TEST_KEYRING=1, and <name>_nokeyring runs the same suite without any.
find_program(QIVRO_XVFB_RUN xvfb-run)
find_program(QIVRO_DBUS_RUN_SESSION dbus-run-session)
find_program(QIVRO_GNOME_KEYRING gnome-keyring-daemon)

function(_qivro_test_environment test home platform)
    file(MAKE_DIRECTORY "${home}/runtime")
    file(CHMOD "${home}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    set_tests_properties(${test} PROPERTIES
        ENVIRONMENT "HOME=${home};XDG_RUNTIME_DIR=${home}/runtime;XDG_CONFIG_HOME=${home}/.config;XDG_DATA_HOME=${home}/.local/share;XDG_CACHE_HOME=${home}/.cache;QT_QPA_PLATFORM=${platform};DBUS_SESSION_BUS_ADDRESS=unix:path=${home}/runtime/no-session-bus;QIVRO_TUN=0;${ARGN}"
        TIMEOUT 300)
endfunction()

function(qivro_add_test name)
    cmake_parse_arguments(ARG "GUI;KEYRING" "SCREEN" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
    if(NOT ARG_SCREEN)
        set(ARG_SCREEN 1280x800x24)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBRARIES})
    qivro_set_warnings(${name})
    set(home "${CMAKE_CURRENT_BINARY_DIR}/home/${name}")
    if(ARG_KEYRING)
        if(NOT QIVRO_DBUS_RUN_SESSION OR NOT QIVRO_GNOME_KEYRING)
            message(FATAL_ERROR "${name} needs dbus-run-session and gnome-keyring-daemon")
        endif()
        add_test(NAME ${name} COMMAND "${QIVRO_DBUS_RUN_SESSION}" -- sh -c
            "echo -n test | '${QIVRO_GNOME_KEYRING}' --unlock --components=secrets >/dev/null && exec \"$0\""
            $<TARGET_FILE:${name}>)
        _qivro_test_environment(${name} "${home}" offscreen QIVRO_TEST_KEYRING=1 ${ARG_ENVIRONMENT})
        add_test(NAME ${name}_nokeyring COMMAND ${name})
        _qivro_test_environment(${name}_nokeyring "${home}-nokeyring" offscreen ${ARG_ENVIRONMENT})
    elseif(ARG_GUI AND QIVRO_XVFB_RUN)
        add_test(NAME ${name} COMMAND "${QIVRO_XVFB_RUN}" -a -s "-screen 0 ${ARG_SCREEN}"
                                      $<TARGET_FILE:${name}>)
        _qivro_test_environment(${name} "${home}" xcb ${ARG_ENVIRONMENT})
    else()
        add_test(NAME ${name} COMMAND ${name})
        _qivro_test_environment(${name} "${home}" offscreen ${ARG_ENVIRONMENT})
    endif()
endfunction()
