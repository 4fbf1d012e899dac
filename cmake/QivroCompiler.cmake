# Warnings, -Werror and sanitizers for the project's own targets.
option(QIVRO_WERROR "Treat warnings in the project's own code as errors" OFF)
set(QIVRO_SANITIZE "" CACHE STRING
    "Sanitizers for the whole build, e.g. address;undefined (empty: none)")

if(QIVRO_SANITIZE)
    list(JOIN QIVRO_SANITIZE "," _qivro_sanitizers)
    add_compile_options(-fsanitize=${_qivro_sanitizers} -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=${_qivro_sanitizers})
endif()

# Applied per target so that generated code (moc, qmlcachegen) and third-party code stay quiet.
function(qivro_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(QIVRO_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
