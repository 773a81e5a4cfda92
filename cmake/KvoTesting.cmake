# Test helpers: GoogleTest cross-built from the machine's sources, and tests run under Wine in a
# private prefix that a CTest fixture prepares once and whose wineserver lives for the whole run.

set(KVO_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(KVO_TEST_TIMEOUT 120 CACHE STRING "Default CTest timeout of one test, in seconds")

if(KVO_BUILD_TESTS)
  enable_testing()
  if(NOT TARGET gtest)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${KVO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)
  endif()

  if(KVO_WINDOWS)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "AMD64")
      set(KVO_WINE_ARCH x86_64)
    else()
      set(KVO_WINE_ARCH i686)
    endif()
    set(KVO_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine.sh.in ${CMAKE_BINARY_DIR}/wine.sh @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(KVO_WINE "${CMAKE_BINARY_DIR}/wine.sh")
    set(CMAKE_CROSSCOMPILING_EMULATOR "${KVO_WINE};run" CACHE STRING "" FORCE)
  endif()
endif()

# Registers the fixture that every Wine test requires (called once, from tests/).
function(kvo_add_wine_fixture)
  if(KVO_WINDOWS)
    add_test(NAME wine.prefix.start COMMAND ${KVO_WINE} start)
    set_tests_properties(wine.prefix.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
    add_test(NAME wine.prefix.stop COMMAND ${KVO_WINE} stop)
    set_tests_properties(wine.prefix.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
  endif()
endfunction()

# kvo_add_gtest(NAME name SOURCES ... [LIBRARIES ...] [TIMEOUT s] [ENVIRONMENT ...] [ARGS ...]
#               [RESOURCE_LOCK name...] [DEPENDS target...])
# Builds one GoogleTest program and registers it as one CTest test run under Wine.
# Tests that change machine-wide state of the prefix (the product's registry key, for instance) name
# a RESOURCE_LOCK so that CTest never runs two of them at once.
function(kvo_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBRARIES;ENVIRONMENT;ARGS;DEPENDS;RESOURCE_LOCK" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE gtest gtest_main kvo_warnings ${T_LIBRARIES})
  if(T_DEPENDS)
    add_dependencies(${T_NAME} ${T_DEPENDS})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT ${KVO_TEST_TIMEOUT})
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS} WORKING_DIRECTORY $<TARGET_FILE_DIR:${T_NAME}>)
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(KVO_WINDOWS)
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
  if(T_RESOURCE_LOCK)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  if(T_ENVIRONMENT)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
endfunction()
