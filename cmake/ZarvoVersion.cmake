# The version is set once, in project(); everything that carries it takes it
# from PROJECT_VERSION. The public header spells it out for hosts that never
# see this build, so the build refuses to go on when the two disagree.

function(zarvo_check_header_version header)
  file(STRINGS ${header} lines REGEX "^#define ZARVO_DATA_PLUGIN_VERSION_")
  foreach(part MAJOR MINOR PATCH)
    string(REGEX MATCH "ZARVO_DATA_PLUGIN_VERSION_${part} ([0-9]+)" found "${lines}")
    set(header_${part} "${CMAKE_MATCH_1}")
  endforeach()
  string(REGEX MATCH "ZARVO_DATA_PLUGIN_VERSION_STRING \"([^\"]*)\"" found "${lines}")
  set(header_string "${CMAKE_MATCH_1}")
  set(header_version "${header_MAJOR}.${header_MINOR}.${header_PATCH}")
  if(NOT header_version STREQUAL PROJECT_VERSION OR NOT header_string STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "${header}: version macros say ${header_version} (\"${header_string}\"), "
                        "the project is ${PROJECT_VERSION}: change them together")
  endif()
endfunction()

zarvo_check_header_version(${PROJECT_SOURCE_DIR}/include/zarvo_data_plugin.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/zarvo_data_plugin.h)

# Who makes the library, for the Windows version resource, the packages and
# their checks.
set(ZARVO_COMPANY "the Zarvo Data Plugin developers")
set(ZARVO_PRODUCT "Zarvo Data Plugin")
set(ZARVO_DESCRIPTION "Zarvo Data Plugin for Kavlor")
set(ZARVO_COPYRIGHT "Copyright (c) 2026 the Zarvo Data Plugin developers. Released under the MIT License.")
