# Every library of the tool includes headers relative to the source root
# ("platform/Format.h"), so that a reader sees which folder a name comes from.
function(helper_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# The tool's information property list: frontend/Info.plist.in with the
# project's version, configured into a file and into a C++ string literal
# that frontend/InfoPlist.cpp places in a section of its own.
set(HELPER_INFO_PLIST ${PROJECT_BINARY_DIR}/frontend/Info.plist)
configure_file(${PROJECT_SOURCE_DIR}/frontend/Info.plist.in ${HELPER_INFO_PLIST} @ONLY)
file(READ ${HELPER_INFO_PLIST} HELPER_INFO_PLIST_TEXT)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/frontend/InfoPlistText.inc
     CONTENT "R\"plist(@HELPER_INFO_PLIST_TEXT@)plist\"\n" @ONLY)

# Carries the list in the executable: in Mach-O the section __TEXT,__info_plist,
# marked so that no linker strips it although no code refers to it (zig's
# linker, which cross-builds, has no -sectcreate); in ELF the section
# .info_plist.
function(helper_embed_info_plist target)
  if(APPLE)
    set(section "__TEXT,__info_plist,regular,no_dead_strip")
  else()
    set(section ".info_plist")
  endif()
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/frontend/InfoPlist.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/frontend)
  target_compile_definitions(${target} PRIVATE HELPER_INFO_PLIST_SECTION="${section}")
endfunction()
