# One ctest test for each GoogleTest suite of an executable, for suites whose
# tests share a browser that SetUpTestSuite starts: ctest runs a test of its
# own in a process of its own, where that browser would start again for every
# test. The suites are listed once the executable is built, as
# gtest_discover_tests lists tests, so that a suite added later runs too.
#   tavro_discover_suites(target SECONDS_PER_TEST n LABELS label... [ENVIRONMENT var=value])
# Run as a script (-P) after the build, it writes the ctest file itself.

if(CMAKE_SCRIPT_MODE_FILE)
    execute_process(COMMAND "${EXECUTABLE}" --gtest_list_tests
        OUTPUT_VARIABLE listing RESULT_VARIABLE status TIMEOUT 60)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${EXECUTABLE} --gtest_list_tests failed (${status}):\n${listing}")
    endif()
    string(REPLACE ";" "\\;" listing "${listing}")
    string(REPLACE "\n" ";" lines "${listing}")
    set(script "set(${TARGET}_SUITES)\n")
    set(suite "")
    macro(add_suite)
        if(NOT suite STREQUAL "")
            # ctest starts the longest first: about the suite's seconds.
            math(EXPR cost "${count} * ${SECONDS_PER_TEST}")
            string(APPEND script "add_test([==[${suite}]==] [==[${EXECUTABLE}]==] [==[--gtest_filter=${suite}.*]==])\n"
                                 "set_tests_properties([==[${suite}]==] PROPERTIES COST ${cost})\n"
                                 "list(APPEND ${TARGET}_SUITES [==[${suite}]==])\n")
        endif()
    endmacro()
    foreach(line IN LISTS lines)
        # A suite's line starts at the margin and ends with a dot, perhaps
        # followed by the comment on its type parameter; its tests follow,
        # indented.
        if(line MATCHES "^  [^ ]")
            math(EXPR count "${count} + 1")
        elseif(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
            add_suite()
            set(suite "${CMAKE_MATCH_1}")
            set(count 0)
        endif()
    endforeach()
    add_suite()
    file(WRITE "${CTEST_FILE}" "${script}")
    return()
endif()

set(TAVRO_SUITE_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(tavro_discover_suites target)
    cmake_parse_arguments(ARG "" "ENVIRONMENT;SECONDS_PER_TEST" "LABELS" ${ARGN})
    set(ctest_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake")
    set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_include.cmake")
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -D EXECUTABLE=$<TARGET_FILE:${target}> -D TARGET=${target}
            -D CTEST_FILE=${ctest_file} -D SECONDS_PER_TEST=${ARG_SECONDS_PER_TEST} -P ${TAVRO_SUITE_SCRIPT}
        BYPRODUCTS ${ctest_file}
        VERBATIM)
    set(properties "LABELS [==[${ARG_LABELS}]==]")
    if(ARG_ENVIRONMENT)
        string(APPEND properties " ENVIRONMENT [==[${ARG_ENVIRONMENT}]==]")
    endif()
    # As with gtest_discover_tests, an executable not built yet stands as a
    # test that fails, without a label.
    file(WRITE "${include_file}"
        "if(EXISTS [==[${ctest_file}]==])\n"
        "    include([==[${ctest_file}]==])\n"
        "    set_tests_properties(\${${target}_SUITES} PROPERTIES ${properties})\n"
        "else()\n"
        "    add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)\n"
        "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include_file}")
endfunction()
