# Installs the build into a fresh folder and starts both installed players
# with too few arguments: each must load (the device library is found through
# its run path) and stop with its command-line error.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "install failed: ${result}")
endif()
if(NOT EXISTS ${PREFIX}/Service/libkestrix.so)
    message(FATAL_ERROR "the device library is not installed beside Tevora_x86")
endif()
foreach(player Service/Tevora_x86 Service/x64/Tevora_x64)
    execute_process(COMMAND ${PREFIX}/${player} RESULT_VARIABLE result ERROR_VARIABLE errors)
    if(NOT result EQUAL 2 OR NOT errors MATCHES "plugin argc incorrect")
        message(FATAL_ERROR "${player} did not start: exit ${result}: ${errors}")
    endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
