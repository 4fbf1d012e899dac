# Fuzz harnesses define LLVMFuzzerTestOneInput. With QIVRO_FUZZ (clang) they become libFuzzer
# binaries; otherwise they link a small driver and ctest replays their corpus on every run.
option(QIVRO_FUZZ "Build libFuzzer harnesses (needs clang)" OFF)

if(QIVRO_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QIVRO_FUZZ needs clang: configure with CXX=clang++ CC=clang")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

set(QIVRO_FUZZ_REPLAY_MAIN "${CMAKE_CURRENT_LIST_DIR}/../tests/fuzz/replaymain.cpp")

# qivro_add_fuzzer(<name> SOURCES <files...> [LIBRARIES <libs...>] CORPUS <dir>)
function(qivro_add_fuzzer name)
    cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
    if(QIVRO_FUZZ)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    else()
        target_sources(${name} PRIVATE ${QIVRO_FUZZ_REPLAY_MAIN})
        add_test(NAME ${name}_replay COMMAND ${name} ${ARG_CORPUS})
        set_tests_properties(${name}_replay PROPERTIES LABELS fuzz)
    endif()
endfunction()
