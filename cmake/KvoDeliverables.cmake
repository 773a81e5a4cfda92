# kvo_add_deliverable_dll(<name> OBJECTS <object library> DEF <.def file> [SOURCES <sources...>])
# A deliverable DLL: its code from an object library (which tests link too, to reach the library's
# seams), its exports from a .def file under their plain names, staged into the deliverables' folder.
function(kvo_add_deliverable_dll name)
  cmake_parse_arguments(D "" "OBJECTS;DEF" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${D_SOURCES} ${D_DEF})
  target_link_libraries(${name} PRIVATE ${D_OBJECTS} kvo_warnings)
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The .def names are the plain names; bind them to the __stdcall symbols (Name@N) silently.
    target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${KVO_INSTALL_BIN_DIR})
endfunction()
