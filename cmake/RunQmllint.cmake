# ctest -P script: lints the UI module's files as built (with the module's qmldir beside them, so
# singletons and sibling types resolve), with the same levels as the repository's .qmllint.ini.
# Inputs: QMLLINT, MODULE_DIR (build/qml/appclient), IMPORT_DIR (build/qml).
file(GLOB files "${MODULE_DIR}/*.qml")
if(NOT files)
    message(FATAL_ERROR "no QML files in ${MODULE_DIR}: build the appclient target first")
endif()
execute_process(
    COMMAND "${QMLLINT}" --ignore-settings --import info --unqualified info --unused-imports warning
            -I "${IMPORT_DIR}" ${files}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "qmllint found problems (exit ${result})")
endif()
