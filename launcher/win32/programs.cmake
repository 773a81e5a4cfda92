# The launcher programs: one source, built once per row of the variant table (rules/variant.h). The
# table is the one source of the program names, their subsystems and their file descriptions: the
# rows are read from it here, and a windowed row (".windowed = true") makes a program of the Windows
# subsystem. Each program carries the launchers' application manifest (launcher.manifest).
set(KVO_LAUNCHER_PROGRAM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/launcher_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/output_redirection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/java_thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jvm_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_procedure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dump_exception.cpp)
# Tests link the program sources without the entry point, to run a launcher in their own process.
set(KVO_LAUNCHER_PROGRAM_SOURCES ${KVO_LAUNCHER_PROGRAM_SOURCES} PARENT_SCOPE)

set(_kvo_variant_header ${KVO_LAUNCHER_RULES_DIR}/variant.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_kvo_variant_header})
file(READ ${_kvo_variant_header} _kvo_variant_text)
string(REGEX MATCHALL
       "\\.program = \"[A-Za-z0-9_]+\",[^}]*\\.windowed = (true|false),[^}]*\\.description = \"[^\"]*\""
       _kvo_variant_rows "${_kvo_variant_text}")
list(LENGTH _kvo_variant_rows _kvo_variant_row_count)
if(NOT _kvo_variant_row_count EQUAL 4)
  message(FATAL_ERROR "${_kvo_variant_header}: expected 4 rows with .program, .windowed and "
                      ".description, found ${_kvo_variant_row_count}")
endif()

foreach(_row IN LISTS _kvo_variant_rows)
  string(REGEX REPLACE "^\\.program = \"([A-Za-z0-9_]+)\".*$" "\\1" _program "${_row}")
  string(REGEX REPLACE "^.*\\.windowed = (true|false),.*$" "\\1" _windowed "${_row}")
  string(REGEX REPLACE "^.*\\.description = \"([^\"]*)\"$" "\\1" _description "${_row}")
  add_executable(${_program} ${KVO_LAUNCHER_PROGRAM_SOURCES} ${CMAKE_CURRENT_LIST_DIR}/program_main.cpp)
  kvo_launcher_variant(${_program} ${_program})
  target_link_libraries(${_program} PRIVATE kvo_warnings kvo_win32 user32)
  if(_windowed STREQUAL "true")
    set_target_properties(${_program} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  kvo_deliverable_image(${_program} DESCRIPTION "${_description}"
                        MANIFEST ${CMAKE_CURRENT_LIST_DIR}/launcher.manifest)
endforeach()
