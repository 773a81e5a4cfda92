# The platform-free rules of kta_ca, for the library and for the native tests and fuzzers:
#   include(${CMAKE_SOURCE_DIR}/installer/rules/sources.cmake)
set(KVO_INSTALLER_RULES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KVO_INSTALLER_RULES_SOURCES
  ${KVO_INSTALLER_RULES_DIR}/bounded_text.cpp
  ${KVO_INSTALLER_RULES_DIR}/text_rules.cpp
  ${KVO_INSTALLER_RULES_DIR}/row_keys.cpp
  ${KVO_INSTALLER_RULES_DIR}/file_date_parameters.cpp
)
