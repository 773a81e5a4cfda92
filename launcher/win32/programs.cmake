# The four launcher programs: one source, one variant definition each. Console programs: kvocli and
# kvocon; windowed (no console): kvojavaw and kvoconw.
set(KVO_LAUNCHER_PROGRAM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/launcher_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/output_redirection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/java_thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jvm_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_procedure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dump_exception.cpp)

foreach(_program kvocli kvojavaw kvoconw kvocon)
  string(TOUPPER ${_program} _variant)
  add_executable(${_program} ${KVO_LAUNCHER_PROGRAM_SOURCES})
  kvo_launcher_variant(${_program} ${_variant})
  target_link_libraries(${_program} PRIVATE kvo_warnings kvo_win32 user32)
  if(_program STREQUAL "kvojavaw" OR _program STREQUAL "kvoconw")
    set_target_properties(${_program} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  install(TARGETS ${_program} RUNTIME DESTINATION bin)
endforeach()
