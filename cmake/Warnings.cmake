# Warnings for our own targets; third-party headers come in as SYSTEM includes.
function(qv_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
    if(QV_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
