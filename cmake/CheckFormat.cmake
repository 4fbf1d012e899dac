# Fails when clang-format would change any C++ file of the project.
file(GLOB_RECURSE files
    "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.h"
    "${SOURCE_DIR}/engine/*.cpp" "${SOURCE_DIR}/engine/*.h"
    "${SOURCE_DIR}/devpanel/*.cpp" "${SOURCE_DIR}/devpanel/*.h"
    "${SOURCE_DIR}/tests/*.cpp" "${SOURCE_DIR}/tests/*.h"
    "${SOURCE_DIR}/tools/*.cpp" "${SOURCE_DIR}/tools/*.h"
    "${SOURCE_DIR}/bench/*.cpp" "${SOURCE_DIR}/bench/*.h")
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${files}
                RESULT_VARIABLE rc ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "clang-format would change these files:\n${out}")
endif()
list(LENGTH files count)
message(STATUS "${count} files formatted")
