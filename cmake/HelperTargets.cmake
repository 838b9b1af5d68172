# Every library of the tool includes headers relative to the source root
# ("platform/Format.h"), so that a reader sees which folder a name comes from.
function(helper_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
