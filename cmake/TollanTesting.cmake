# tollan_add_test(NAME SOURCES ... [LIBS ...] [DEPENDS ...])
# One GoogleTest program; each of its cases becomes one ctest test, listed under Wine at test time.
function(tollan_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
    if(T_DEPENDS)
        add_dependencies(${name} ${T_DEPENDS})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
        PROPERTIES TIMEOUT 300)
endfunction()
