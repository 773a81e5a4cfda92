# kvo_deliverable_image(<target> DESCRIPTION <text> [MANIFEST <file>])
# Makes <target> (a program or DLL whose file name is the target's name) a deliverable image: gives it
# the version resource of the product (the version and names of the top-level CMakeLists.txt, the
# file description "<product> <text>", the image's file name) and, for a program, the application
# manifest <file> (resource 1 of type 24, which the system reads when it creates the process); signs
# it when KVO_SIGN_CERT and KVO_SIGN_KEY are set; stages it into the deliverables' folder. The package
# takes the image named by the target's properties KVO_SHIPPED_FILE (made by the target
# KVO_SHIPPED_TARGET): the signed copy when signing, else the target's own file.
function(kvo_deliverable_image target)
  cmake_parse_arguments(I "" "DESCRIPTION;MANIFEST" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(KVO_IMAGE_FILE_TYPE VFT_APP)
    set(KVO_IMAGE_FILE_NAME ${target}.exe)
  else()
    set(KVO_IMAGE_FILE_TYPE VFT_DLL)
    set(KVO_IMAGE_FILE_NAME ${target}.dll)
  endif()
  set(KVO_IMAGE_NAME ${target})
  set(KVO_IMAGE_DESCRIPTION "${KVO_PRODUCT_NAME} ${I_DESCRIPTION}")
  string(REPLACE "." "," KVO_IMAGE_VERSION_FIELDS ${PROJECT_VERSION})
  set(KVO_IMAGE_MANIFEST "")
  if(I_MANIFEST)
    set(KVO_IMAGE_MANIFEST "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${I_MANIFEST}\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/image_resources.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  if(I_MANIFEST)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${I_MANIFEST})
  endif()

  if(KVO_SIGN_CERT)
    set(signed ${CMAKE_BINARY_DIR}/signed/${KVO_IMAGE_FILE_NAME})
    add_custom_command(OUTPUT ${signed}
      COMMAND ${KVO_SIGN_COMMAND} $<TARGET_FILE:${target}> ${signed}
      DEPENDS ${target} $<TARGET_FILE:${target}> ${CMAKE_SOURCE_DIR}/tools/sign.sh ${KVO_SIGN_CERT}
              ${KVO_SIGN_KEY}
      COMMENT "Signing ${KVO_IMAGE_FILE_NAME}"
      VERBATIM)
    add_custom_target(${target}_signed ALL DEPENDS ${signed})
    install(FILES ${signed} DESTINATION ${KVO_INSTALL_BIN_DIR})
    set_target_properties(${target} PROPERTIES KVO_SHIPPED_FILE ${signed}
                          KVO_SHIPPED_TARGET ${target}_signed)
  else()
    install(TARGETS ${target} RUNTIME DESTINATION ${KVO_INSTALL_BIN_DIR})
    set_target_properties(${target} PROPERTIES KVO_SHIPPED_FILE $<TARGET_FILE:${target}>
                          KVO_SHIPPED_TARGET ${target})
  endif()
endfunction()

# kvo_add_deliverable_dll(<name> OBJECTS <object library> DEF <.def file> DESCRIPTION <text>
#                         [SOURCES <sources...>])
# A deliverable DLL: its code from an object library (which tests link too, to reach the library's
# seams), its exports from a .def file under their plain names, a deliverable image (above). A DLL
# carries no manifest: the execution level and the supported systems are read from the program's
# manifest alone, and a DLL's own (resource 2) would only name side-by-side assemblies it binds to,
# while these import system libraries and kvoucd32 only.
function(kvo_add_deliverable_dll name)
  cmake_parse_arguments(D "" "OBJECTS;DEF;DESCRIPTION" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${D_SOURCES} ${D_DEF})
  target_link_libraries(${name} PRIVATE ${D_OBJECTS} kvo_warnings)
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The .def names are the plain names; bind them to the __stdcall symbols (Name@N) silently.
    target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
  kvo_deliverable_image(${name} DESCRIPTION "${D_DESCRIPTION}")
endfunction()
