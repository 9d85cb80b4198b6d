find_package(GTest REQUIRED)
find_package(PkgConfig REQUIRED)
include(GoogleTest)

# quorvane_library(<target> [DEPS libs...] [TEST_DEPS libs...] [TEST_ENVIRONMENT NAME=value...])
# Every .cpp/.c under the calling folder is a source of <target>, except those in a "tests" folder,
# which form <target>_tests, run by ctest with the given environment and linked with the shared test
# support of testing/ (its gtest main among it). Headers are included from the repository root.
function(quorvane_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS;TEST_ENVIRONMENT" ${ARGN})
  file(GLOB_RECURSE all CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c")
  set(sources ${all})
  set(tests ${all})
  list(FILTER sources EXCLUDE REGEX "/tests/")
  list(FILTER tests INCLUDE REGEX "/tests/")
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  if(tests)
    add_executable(${target}_tests ${tests})
    target_link_libraries(${target}_tests PRIVATE ${target} ${ARG_TEST_DEPS} GTest::gmock quorvane_testing)
    target_compile_definitions(${target}_tests PRIVATE QUORVANE_TEST_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/tests/fixtures")
    set(environment "QUORVANE_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp" ${QUORVANE_SANITIZER_ENVIRONMENT}
        ${ARG_TEST_ENVIRONMENT})
    # NO_PRETTY_VALUES keeps a parameter's printed bytes (addresses among them) out of the test's
    # name, so a test is called the same in every run.
    gtest_discover_tests(${target}_tests TEST_PREFIX "${target}." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         NO_PRETTY_VALUES)
    # The environment goes onto the discovered tests afterwards: handed to gtest_discover_tests, a
    # list of several variables reaches ctest as one variable followed by stray property names.
    set(environment_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_tests_environment.cmake")
    file(WRITE "${environment_file}" "if(${target}_tests_TESTS)\n"
         "  set_tests_properties(\${${target}_tests_TESTS} PROPERTIES ENVIRONMENT [==[${environment}]==])\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${environment_file}")
  endif()
endfunction()
