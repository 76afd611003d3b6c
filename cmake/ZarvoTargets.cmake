# Helpers that give each target of the project its flags and its view of the
# source tree.

# Warnings for our own targets only (not for GoogleTest built from source).
add_library(zarvo_warnings INTERFACE)
target_compile_options(zarvo_warnings INTERFACE -Wall -Wextra -Wpedantic)

# Rasters must come out the same to the bit on every build: no fused
# multiply-add, and SSE2 doubles instead of x87's extended precision on
# 32-bit x86. INTERFACE, so that whatever compiles the core's inline
# geometry (tests, benchmarks) compiles it the same way.
add_library(zarvo_bit_exact INTERFACE)
target_compile_options(zarvo_bit_exact INTERFACE -ffp-contract=off)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$" OR CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_options(zarvo_bit_exact INTERFACE -msse2 -mfpmath=sse)
endif()

# zarvo_expose_headers(TARGET PATH...)
# Makes `#include "PATH/..."` resolve for TARGET and everything linked to it,
# and nothing else of the source tree: each target gets an include root of
# its own that holds links to the given folders or files only. A layer that
# includes from a layer above it therefore fails to compile.
function(zarvo_expose_headers target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  foreach(path IN LISTS ARGN)
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${path})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
    endif()
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# zarvo_core_library(TARGET FOLDER SOURCES...)
# One layer of the plug-in: a static library built to be linked into the
# shared library, exact in its geometry, exposing its own folder.
function(zarvo_core_library target folder)
  add_library(${target} STATIC ${ARGN})
  zarvo_expose_headers(${target} ${folder})
  target_link_libraries(${target} PUBLIC zarvo_bit_exact PRIVATE zarvo_warnings)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()
