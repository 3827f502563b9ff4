# tollan_add_test(NAME SOURCES ... [LIBS ...] [DEPENDS ...] [LOCK resource])
# One GoogleTest program; each of its cases becomes one ctest test, listed under Wine at test time.
# LOCK keeps the program's cases from running beside any other test holding the same resource.
function(tollan_add_test name)
    cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS;DEPENDS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/standins/support)
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    set(lock)
    if(T_LOCK)
        set(lock RESOURCE_LOCK ${T_LOCK})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
        PROPERTIES TIMEOUT 300 ${lock})
endfunction()

# tollan_add_bench(NAME SOURCES ... [LIBS ...] [DEPENDS ...])
# A benchmark program, not a test: scripts/bench.sh runs every program whose name ends in _bench.
# Its sources include BenchCompare.h to time ours against the bare equivalent and print the line.
function(tollan_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
    if(NOT name MATCHES "_bench$")
        message(FATAL_ERROR "benchmark ${name}: the name must end in _bench")
    endif()
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/bench)
    if(B_DEPENDS)
        add_dependencies(${name} ${B_DEPENDS})
    endif()
endfunction()
