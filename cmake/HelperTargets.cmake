# Every library of the tool includes headers relative to the source root
# ("platform/Format.h"), so that a reader sees which folder a name comes from.
function(helper_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# The tool's information property list: frontend/Info.plist.in with the
# project's version, once as a file (for the Mach-O linker) and once as a C++
# string literal (for the ELF section in frontend/InfoPlist.cpp).
set(HELPER_INFO_PLIST ${PROJECT_BINARY_DIR}/frontend/Info.plist)
configure_file(${PROJECT_SOURCE_DIR}/frontend/Info.plist.in ${HELPER_INFO_PLIST} @ONLY)
file(READ ${HELPER_INFO_PLIST} HELPER_INFO_PLIST_TEXT)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/frontend/InfoPlistText.inc
     CONTENT "R\"plist(@HELPER_INFO_PLIST_TEXT@)plist\"\n" @ONLY)

# Carries the list in the executable: __TEXT,__info_plist in Mach-O, which
# the linker keeps whether or not code refers to it; .info_plist in ELF.
function(helper_embed_info_plist target)
  if(APPLE)
    target_link_options(${target} PRIVATE "LINKER:-sectcreate,__TEXT,__info_plist,${HELPER_INFO_PLIST}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${HELPER_INFO_PLIST})
  else()
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/frontend/InfoPlist.cpp)
    target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/frontend)
  endif()
endfunction()
