# Shared settings for every target of the project.

set(QUAX_INSTALL_BIN bin)

# Installs a program or library that is shipped, and notes it for the
# package (installer/CMakeLists.txt).
function(quax_install_shipped target)
  install(TARGETS ${target} RUNTIME DESTINATION ${QUAX_INSTALL_BIN})
  set_property(GLOBAL APPEND PROPERTY QUAX_SHIPPED_TARGETS ${target})
endfunction()

# Warnings that matter most for a code base that builds 32- and 64-bit:
# truncation and pointer-size conversions are errors.
function(quax_target_defaults target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wconversion -Wpointer-arith -Wcast-align -Wshadow
    -Werror)
  # clang's -Wconversion (the fuzz tree) also takes in sign changes, which
  # gcc's, that of every other build, leaves out.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(${target} PRIVATE -Wno-sign-conversion)
  endif()
  if(WIN32)
    # Every text crossing to Windows uses the ANSI functions.
    target_compile_definitions(${target} PRIVATE
      WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  endif()
endfunction()

# A version resource (file and product version = PROJECT_VERSION) compiled
# into a Windows deliverable: quax_add_version_resource(target "description").
function(quax_add_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(QUAX_VERSION_FILETYPE VFT_APP)
  else()
    set(QUAX_VERSION_FILETYPE VFT_DLL)
  endif()
  set(QUAX_VERSION_DESCRIPTION "${description}")
  set(QUAX_VERSION_NAME ${target})
  set(QUAX_VERSION_FILENAME "$<TARGET_FILE_NAME:${target}>")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# GoogleTest from Debian's sources, built by whichever toolchain is active.
if(NOT TARGET GTest::gtest_main)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PRIVATE -Wno-restrict)
endif()

# Under Wine every test binary shares one private prefix with a persistent
# wineserver, which the "wine" fixture starts before and stops after the run.
set(QUAX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(QUAX_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)

if(WIN32 AND QUAX_RUN_TESTS AND NOT TARGET quax_wine_fixture)
  add_custom_target(quax_wine_fixture)
  add_test(NAME wine.start
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-fixture start ${QUAX_WINEPREFIX})
  add_test(NAME wine.stop
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-fixture stop ${QUAX_WINEPREFIX})
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

# One GoogleTest binary per subsystem; it runs once (all its cases in one
# process) and leaves a JUnit-style XML report for the summary of scripts/test.
# Binaries that change the collector settings key of the shared Wine prefix
# say SETTINGS_KEY so that they never run at the same time.
function(quax_add_gtest target)
  cmake_parse_arguments(ARG "SETTINGS_KEY" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  quax_target_defaults(${target})
  # GCC 12 reports false -Wrestrict overlaps inside std::string at -O2/-O3.
  target_compile_options(${target} PRIVATE -Wno-restrict)
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main)
  if(NOT QUAX_RUN_TESTS)
    return()
  endif()
  add_test(NAME ${target} COMMAND ${target})
  if(ARG_SETTINGS_KEY)
    set_tests_properties(${target} PROPERTIES RESOURCE_LOCK quax_settings_key)
  endif()
  if(WIN32)
    set(report "Z:${QUAX_TEST_RESULTS}/${target}.xml")
    set_tests_properties(${target} PROPERTIES
      FIXTURES_REQUIRED wine
      ENVIRONMENT "WINEPREFIX=${QUAX_WINEPREFIX};WINEDEBUG=-all;GTEST_OUTPUT=xml:${report}")
  else()
    set_tests_properties(${target} PROPERTIES
      ENVIRONMENT "GTEST_OUTPUT=xml:${QUAX_TEST_RESULTS}/${target}.xml")
  endif()
endfunction()
