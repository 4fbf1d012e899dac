# The bundled fonts come from npm packages at build time rather than from the repository:
# Inter as it is, Noto Sans SC and TC cut down to the characters the UI can show.
set(QIVRO_ASSET_CACHE "$ENV{HOME}/.cache/qivro" CACHE PATH "Download cache for build-time assets")

set(_inter_pkg "@expo-google-fonts/inter@0.4.2")
set(_inter_tgz "${QIVRO_ASSET_CACHE}/expo-google-fonts-inter-0.4.2.tgz")
set(_noto_pkg "@expo-google-fonts/noto-sans-sc@0.4.3")
set(_noto_tgz "${QIVRO_ASSET_CACHE}/expo-google-fonts-noto-sans-sc-0.4.3.tgz")
set(_noto_tc_pkg "@expo-google-fonts/noto-sans-tc@0.4.3")
set(_noto_tc_tgz "${QIVRO_ASSET_CACHE}/expo-google-fonts-noto-sans-tc-0.4.3.tgz")

function(_qivro_npm_pack package tarball)
    if(EXISTS "${tarball}")
        return()
    endif()
    find_program(NPM_EXECUTABLE npm REQUIRED)
    file(MAKE_DIRECTORY "${QIVRO_ASSET_CACHE}")
    message(STATUS "Fetching ${package} from the npm registry")
    execute_process(COMMAND "${NPM_EXECUTABLE}" pack --silent "${package}"
                            --pack-destination "${QIVRO_ASSET_CACHE}"
                    RESULT_VARIABLE rc OUTPUT_QUIET)
    if(NOT rc EQUAL 0 OR NOT EXISTS "${tarball}")
        message(FATAL_ERROR "npm pack ${package} failed (${rc}); run scripts/setup")
    endif()
endfunction()

_qivro_npm_pack(${_inter_pkg} "${_inter_tgz}")
_qivro_npm_pack(${_noto_pkg} "${_noto_tgz}")
_qivro_npm_pack(${_noto_tc_pkg} "${_noto_tc_tgz}")

set(_font_src "${CMAKE_BINARY_DIR}/fonts-src")
if(NOT EXISTS "${_font_src}/package/700Bold/NotoSansTC_700Bold.ttf")
    file(MAKE_DIRECTORY "${_font_src}")
    foreach(tgz "${_inter_tgz}" "${_noto_tgz}" "${_noto_tc_tgz}")
        execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xzf "${tgz}"
                                package/400Regular package/700Bold
                                package/LICENSE_FONT
                        WORKING_DIRECTORY "${_font_src}" RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "cannot unpack ${tgz}")
        endif()
    endforeach()
endif()

find_program(PYFTSUBSET_EXECUTABLE pyftsubset REQUIRED)
find_program(QIVRO_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(QIVRO_PYTHON3 python3 REQUIRED)

set(QIVRO_FONT_DIR "${CMAKE_BINARY_DIR}/fonts")
file(GLOB_RECURSE _ui_texts CONFIGURE_DEPENDS
    "${CMAKE_SOURCE_DIR}/qml/*.qml" "${CMAKE_SOURCE_DIR}/qml/*.js" "${CMAKE_SOURCE_DIR}/qml/*.json")
set(_charset "${CMAKE_BINARY_DIR}/fonts-src/charset.txt")
set(_charset_tc "${CMAKE_BINARY_DIR}/fonts-src/charset-tc.txt")
add_custom_command(OUTPUT "${_charset}" "${_charset_tc}"
    COMMAND "${QIVRO_PYTHON3}" "${CMAKE_SOURCE_DIR}/tools/font-charset.py" "${_charset}" ${_ui_texts}
    COMMAND "${QIVRO_PYTHON3}" "${CMAKE_SOURCE_DIR}/tools/font-charset.py" --traditional
            "${_charset_tc}" "${CMAKE_SOURCE_DIR}/qml/i18n/zh-Hant.js"
    DEPENDS "${CMAKE_SOURCE_DIR}/tools/font-charset.py" ${_ui_texts}
    COMMENT "Collecting the characters of the UI")

set(QIVRO_FONT_FILES
    "${QIVRO_FONT_DIR}/Inter-Regular.ttf" "${QIVRO_FONT_DIR}/Inter-Bold.ttf"
    "${QIVRO_FONT_DIR}/NotoSansSC-Regular.otf" "${QIVRO_FONT_DIR}/NotoSansSC-Bold.otf"
    "${QIVRO_FONT_DIR}/NotoSansTC-Regular.otf" "${QIVRO_FONT_DIR}/NotoSansTC-Bold.otf")
add_custom_command(OUTPUT ${QIVRO_FONT_FILES}
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${QIVRO_FONT_DIR}"
    COMMAND "${CMAKE_COMMAND}" -E copy "${_font_src}/package/400Regular/Inter_400Regular.ttf"
            "${QIVRO_FONT_DIR}/Inter-Regular.ttf"
    COMMAND "${CMAKE_COMMAND}" -E copy "${_font_src}/package/700Bold/Inter_700Bold.ttf"
            "${QIVRO_FONT_DIR}/Inter-Bold.ttf"
    COMMAND "${PYFTSUBSET_EXECUTABLE}" "${_font_src}/package/400Regular/NotoSansSC_400Regular.ttf"
            "--text-file=${_charset}" --layout-features=* --no-hinting
            "--output-file=${QIVRO_FONT_DIR}/NotoSansSC-Regular.otf"
    COMMAND "${PYFTSUBSET_EXECUTABLE}" "${_font_src}/package/700Bold/NotoSansSC_700Bold.ttf"
            "--text-file=${_charset}" --layout-features=* --no-hinting
            "--output-file=${QIVRO_FONT_DIR}/NotoSansSC-Bold.otf"
    COMMAND "${PYFTSUBSET_EXECUTABLE}" "${_font_src}/package/400Regular/NotoSansTC_400Regular.ttf"
            "--text-file=${_charset_tc}" --layout-features=* --no-hinting
            "--output-file=${QIVRO_FONT_DIR}/NotoSansTC-Regular.otf"
    COMMAND "${PYFTSUBSET_EXECUTABLE}" "${_font_src}/package/700Bold/NotoSansTC_700Bold.ttf"
            "--text-file=${_charset_tc}" --layout-features=* --no-hinting
            "--output-file=${QIVRO_FONT_DIR}/NotoSansTC-Bold.otf"
    DEPENDS "${_charset}" "${_charset_tc}"
    COMMENT "Subsetting Noto Sans SC and TC to the UI's characters")
