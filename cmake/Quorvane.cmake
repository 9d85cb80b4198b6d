find_package(GTest REQUIRED)
find_package(PkgConfig REQUIRED)
include(GoogleTest)

# One folder with a CMakeLists.txt is one target, so that the folders show the layers and a layer
# cannot quietly swallow the one below it:
# - the target's sources are the .cpp/.c files directly in its folder;
# - the .cpp/.c files directly in its tests/ folder form <target>_tests;
# - fixtures/, Resources/ and scenarios/ hold data that tests and programs read, never compile;
# - any other folder below that holds .cpp/.c files must have a CMakeLists.txt of its own (and be
#   added with add_subdirectory), or configuring stops. Shared test support (testing/) is headers.
#
# quorvane_library(<target>
#                  [PUBLIC libs...]       libraries the target's own headers expose to includers
#                  [PRIVATE libs...]      libraries only the target's sources use
#                  [GENERATED files...]   sources produced at build time (see below)
#                  [TEST_DEPS libs...]    what <target>_tests links besides <target>, gtest and the
#                                         shared test support of testing/ (its gtest main among it)
#                  [TEST_ENVIRONMENT NAME=value...])
# Headers are included by their path from the repository root. ctest names each test
# <target>.<Suite>.<Test>.
#
# GENERATED takes the outputs of an add_custom_command in the same folder, such as messages
# compiled from a .proto:
#   add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/Batch.pb.c ${CMAKE_CURRENT_BINARY_DIR}/Batch.pb.h
#                      COMMAND <proto compiler> ... DEPENDS Batch.proto)
#   quorvane_library(measurement_wire ... GENERATED ${CMAKE_CURRENT_BINARY_DIR}/Batch.pb.c)
# The build root is then on the include path too, so a generated header is included like any other
# ("measurement/wire/Batch.pb.h"). quorvane_embed_file below is such a rule.
function(quorvane_library target)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE;GENERATED;TEST_DEPS;TEST_ENVIRONMENT" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "quorvane_library(${target}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  _quorvane_require_targets_for_nested_sources()

  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c")
  add_library(${target} STATIC ${sources} ${ARG_GENERATED})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_GENERATED)
    target_include_directories(${target} PUBLIC ${PROJECT_BINARY_DIR})
  endif()
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})

  file(GLOB tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/tests/*.c")
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

# quorvane_embed_file(<output.cpp> <input> <symbol>): at build time, <output.cpp> defines
# `const char* const <symbol>` holding the text of <input>; rebuilt when <input> changes.
function(quorvane_embed_file output input symbol)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${symbol}
                             -P ${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake
                     DEPENDS ${input} ${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake
                     COMMENT "Embedding ${input}" VERBATIM)
endfunction()

# Sources in a folder below the current one belong to a target of that folder; the folders that
# should become targets are checked once everything is configured (they may be added later).
function(_quorvane_require_targets_for_nested_sources)
  file(GLOB_RECURSE nested CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c")
  foreach(file IN LISTS nested)
    get_filename_component(dir ${file} DIRECTORY)
    if(dir STREQUAL "" OR dir STREQUAL "tests" OR dir MATCHES "(^|/)(fixtures|Resources|scenarios)(/|$)")
      continue()
    endif()
    set(owner ${dir})
    while(owner AND NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${owner}/CMakeLists.txt)
      get_filename_component(owner ${owner} DIRECTORY)
    endwhile()
    if(NOT owner)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${file}: its folder has no CMakeLists.txt, so no target "
                          "would build it; give the folder one (it becomes a target of its own)")
    endif()
    set_property(GLOBAL APPEND PROPERTY QUORVANE_TARGET_FOLDERS ${CMAKE_CURRENT_SOURCE_DIR}/${owner})
  endforeach()
endfunction()

function(_quorvane_added_folders dir out)
  set(folders ${dir})
  get_property(children DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(child IN LISTS children)
    _quorvane_added_folders(${child} below)
    list(APPEND folders ${below})
  endforeach()
  set(${out} ${folders} PARENT_SCOPE)
endfunction()

function(_quorvane_check_target_folders_added added)
  get_property(expected GLOBAL PROPERTY QUORVANE_TARGET_FOLDERS)
  foreach(folder IN LISTS expected)
    if(NOT folder IN_LIST added)
      message(FATAL_ERROR "${folder} holds sources and a CMakeLists.txt but is never added; "
                          "add_subdirectory it from its parent folder")
    endif()
  endforeach()
endfunction()

# <build>/target-graph.txt: one line per library or executable of ours, "<target> <dep>...", naming
# the targets of ours it links directly. cmake/CheckLayers.cmake reads it.
function(_quorvane_write_target_graph folders)
  set(ours "")
  foreach(folder IN LISTS folders)
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "EXECUTABLE")
        list(APPEND ours ${target})
      endif()
    endforeach()
  endforeach()
  set(graph "")
  foreach(target IN LISTS ours)
    get_target_property(links ${target} LINK_LIBRARIES)
    set(line ${target})
    foreach(link IN LISTS links)
      if(link IN_LIST ours)
        string(APPEND line " ${link}")
      endif()
    endforeach()
    string(APPEND graph "${line}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/target-graph.txt CONTENT "${graph}")
endfunction()

function(_quorvane_finish)
  _quorvane_added_folders(${PROJECT_SOURCE_DIR} folders)
  _quorvane_check_target_folders_added("${folders}")
  _quorvane_write_target_graph("${folders}")
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _quorvane_finish)
