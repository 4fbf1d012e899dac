# qivro_add_test(<name> SOURCES <files...> [LIBRARIES <libs...>] [ENVIRONMENT <VAR=value...>])
# A QtTest executable registered with ctest. Each test gets a private HOME and runtime directory,
# so nothing it does can reach a real profile, and tests can run in parallel.
function(qivro_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBRARIES})
    qivro_set_warnings(${name})
    set(home "${CMAKE_CURRENT_BINARY_DIR}/home/${name}")
    file(MAKE_DIRECTORY "${home}/runtime")
    file(CHMOD "${home}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "HOME=${home};XDG_RUNTIME_DIR=${home}/runtime;XDG_CONFIG_HOME=${home}/.config;XDG_DATA_HOME=${home}/.local/share;XDG_CACHE_HOME=${home}/.cache;QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}"
        TIMEOUT 300)
endfunction()
