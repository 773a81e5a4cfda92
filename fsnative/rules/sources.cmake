# The platform-free rules of nqfsfunc, for the library and for the native tests and fuzzers:
#   include(${CMAKE_SOURCE_DIR}/fsnative/rules/sources.cmake)
set(KVO_FSNATIVE_RULES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KVO_FSNATIVE_RULES_SOURCES
  ${KVO_FSNATIVE_RULES_DIR}/path_rules.cpp
  ${KVO_FSNATIVE_RULES_DIR}/name_list.cpp
  ${KVO_FSNATIVE_RULES_DIR}/native_values.cpp
)
