# One executable per unit, registered with CTest. Tests run headless with a
# private runtime folder and a fixed locale. No test is about GL: Qt's xcb
# platform loads no GL driver for them (the driver leaks at unload in a way
# no suppression can name, depending on the machine), and the players the
# tests start on an X server inherit the same.
set(QV_TEST_RUNTIME_DIR ${CMAKE_BINARY_DIR}/xdg-runtime)
file(MAKE_DIRECTORY ${QV_TEST_RUNTIME_DIR})
file(CHMOD ${QV_TEST_RUNTIME_DIR} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

set(QV_TEST_ENV
    QT_QPA_PLATFORM=offscreen
    QT_XCB_GL_INTEGRATION=none
    LANG=C.UTF-8
    XDG_RUNTIME_DIR=${QV_TEST_RUNTIME_DIR}
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
    LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0
    TSAN_OPTIONS=ignore_noninstrumented_modules=1:suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp:halt_on_error=0
    QV_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    QV_BINARY_DIR=${CMAKE_BINARY_DIR})

# qv_add_test(<name> SOURCES ... [LIBS ...] [ENV ...] [TIMEOUT s] [LABELS ...])
function(qv_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    qv_warnings(${name})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "${QV_TEST_ENV};${T_ENV}"
        LABELS "${T_LABELS}")
endfunction()
