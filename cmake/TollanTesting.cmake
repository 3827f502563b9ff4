# The 32-bit build's cases run beside the 64-bit ones under the same names, told apart by this prefix.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(TOLLAN_TEST_PREFIX "")
else()
    set(TOLLAN_TEST_PREFIX "${CMAKE_SYSTEM_PROCESSOR}.")
endif()

# tollan_add_test(NAME SOURCES ... [LIBS ...] [DEPENDS ...] [LOCK resource ...] [SERIAL case ...])
# One GoogleTest program; each of its cases becomes one ctest test, listed under Wine at test time.
# LOCK keeps the program's cases from running beside any other test holding one of the same resources.
# SERIAL names cases (Suite.Case) that load the whole machine: each runs alone, so that a full parallel run
# cannot stretch it past its timeout.
# A program that runs the test service, itself or through the SAP fixture, also holds "scm": Wine's service
# manager starts one service at a time and refuses (1055) a start that waited 3 s for the others, so such
# programs take turns.
function(tollan_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS;LOCK;SERIAL" ${ARGN})
    add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/TestOutput.cpp)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/standins/support)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-gtest.sh)
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    gtest_discover_tests(${name}
        TEST_PREFIX "${TOLLAN_TEST_PREFIX}"
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
        PROPERTIES TIMEOUT 300)
    set(locks ${T_LOCK})
    if("testservice" IN_LIST T_DEPENDS OR "sapinstance" IN_LIST T_DEPENDS OR "sapfixture" IN_LIST T_LIBS)
        list(APPEND locks scm)
    endif()
    if(locks OR T_SERIAL)
        # Set once the cases are listed: a list of locks cannot pass through the discovery's properties.
        set(propertyFile ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
        set(properties "if(${name}_TESTS)\n")
        if(locks)
            string(APPEND properties
                "  set_tests_properties(\${${name}_TESTS} PROPERTIES RESOURCE_LOCK \"${locks}\")\n")
        endif()
        foreach(case IN LISTS T_SERIAL)
            string(APPEND properties "  set_tests_properties(${TOLLAN_TEST_PREFIX}${case} PROPERTIES RUN_SERIAL TRUE)\n")
        endforeach()
        file(WRITE ${propertyFile} "${properties}endif()\n")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${propertyFile})
    endif()
endfunction()

# tollan_add_bench(NAME SOURCES ... [LIBS ...] [DEPENDS ...])
# A benchmark program, not a test: scripts/bench.sh runs every program whose name ends in _bench.
# Its sources include BenchCompare.h to time ours against the bare equivalent and print the line.
function(tollan_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
    if(NOT name MATCHES "_bench$")
        message(FATAL_ERROR "benchmark ${name}: the name must end in _bench")
    endif()
    # scripts/bench.sh times the 64-bit build only.
    if(NOT TOLLAN_64BIT)
        return()
    endif()
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/bench)
    if(B_DEPENDS)
        add_dependencies(${name} ${B_DEPENDS})
    endif()
endfunction()
