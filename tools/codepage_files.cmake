# The code-page mapping files that tools/make_cp_uni.cpp writes at build time (see its --list).
set(KVO_CODEPAGE_NUMBERS 37 819 850 1252 942 946 949 950 1381)
# The same numbers separated by commas, for a compile definition (an array initializer).
string(REPLACE ";" "," KVO_CODEPAGE_LIST "${KVO_CODEPAGE_NUMBERS}")
set(KVO_CODEPAGE_DIR "${CMAKE_BINARY_DIR}/codepages")
set(KVO_CODEPAGE_FILES "")
foreach(_kvo_cp IN LISTS KVO_CODEPAGE_NUMBERS)
  list(APPEND KVO_CODEPAGE_FILES "${KVO_CODEPAGE_DIR}/CP${_kvo_cp}.UNI")
endforeach()
