# What `cmake --install` puts into the prefix, and so what the release
# archives hold.
#
#   Linux:   lib/libzarvo_data_plugin.so*, include/zarvo_data_plugin.h,
#            bin/ the host programs (finding the plug-in through a RUNPATH
#            of $ORIGIN/../lib), lib/cmake/ZarvoDataPlugin/ (the CMake
#            package), lib/pkgconfig/zarvo-data-plugin.pc,
#            share/zarvo-data-plugin/web/ zarvo-serve's map page,
#            share/man/man1/ the programs' manual pages,
#            lib/systemd/system/zarvo-serve.service,
#            share/doc/zarvo-data-plugin/ README, LICENSE, CHANGELOG, CREDITS,
#            the pages under docs/, examples/zarvo-serve.env and
#            examples/zarvo-pyramid.sbatch
#   Windows: bin/zarvo_data_plugin.dll, lib/zarvo_data_plugin.lib and .def,
#            include/zarvo_data_plugin.h, and the documents at the top
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZARVO_DOCUMENTS
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/LICENSE
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  ${PROJECT_SOURCE_DIR}/CREDITS.md)
# The README links to these pages, so they go beside it (the pictures stay
# in the source tree).
file(GLOB ZARVO_DOCUMENT_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)

install(FILES ${PROJECT_SOURCE_DIR}/include/zarvo_data_plugin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(WIN32)
  # For hosts built with Microsoft's tools: the DLL, the import library
  # their linker takes and the .def it was made from. The GNU import library
  # stays in the build tree.
  install(TARGETS zarvo_data_plugin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${ZARVO_IMPORT_LIBRARY} ${PROJECT_SOURCE_DIR}/plugin/zarvo_data_plugin.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${ZARVO_DOCUMENTS} DESTINATION .)
  install(FILES ${ZARVO_DOCUMENT_PAGES} DESTINATION docs)
  return()
endif()

set(ZARVO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZarvoDataPlugin)

install(TARGETS zarvo_data_plugin EXPORT ZarvoDataPluginTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${ZARVO_DOCUMENTS} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zarvo-data-plugin)
install(FILES ${ZARVO_DOCUMENT_PAGES} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zarvo-data-plugin/docs)

# The programs, which find the plug-in in the prefix's library folder
# wherever the prefix is, zarvo-serve's page and system service, and the
# manual pages. The target zarvo_installable builds all of it (the demo
# does); an install before that says so instead of failing halfway.
add_custom_target(zarvo_installable)
add_dependencies(zarvo_installable zarvo_data_plugin)
file(RELATIVE_PATH ZARVO_BIN_TO_LIB /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
set(ZARVO_INSTALLED_PROGRAMS)
set(ZARVO_INSTALL_INPUTS)
foreach(program zarvo-render zarvo-serve zarvo-demo-tiles)
  if(TARGET ${program})
    list(APPEND ZARVO_INSTALLED_PROGRAMS ${program})
    list(APPEND ZARVO_INSTALL_INPUTS "$<TARGET_FILE:${program}>")
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${ZARVO_BIN_TO_LIB}")
    target_link_options(${program} PRIVATE -Wl,--enable-new-dtags)
    add_dependencies(zarvo_installable ${program})
  endif()
endforeach()

# Manual pages made from each program's --help and --version by Debian's
# help2man.
find_program(ZARVO_HELP2MAN help2man)
set(ZARVO_MAN_PAGES)
foreach(program IN LISTS ZARVO_INSTALLED_PROGRAMS)
  if(NOT ZARVO_HELP2MAN OR program STREQUAL "zarvo-demo-tiles")
    continue()
  endif()
  if(program STREQUAL "zarvo-serve")
    set(summary "serve the Zarvo data plug-in's layers as a Web Map Service")
  else()
    set(summary "render one georeferenced raster with the Zarvo data plug-in")
  endif()
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${program}.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${ZARVO_HELP2MAN} --no-info --no-discard-stderr --section 1 --name "${summary}"
      --output ${CMAKE_BINARY_DIR}/man/${program}.1 $<TARGET_FILE:${program}>
    DEPENDS ${program}
    COMMENT "Writing the manual page of ${program}"
    VERBATIM)
  list(APPEND ZARVO_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${program}.1)
endforeach()
if(ZARVO_MAN_PAGES)
  add_custom_target(zarvo_man_pages ALL DEPENDS ${ZARVO_MAN_PAGES})
  add_dependencies(zarvo_installable zarvo_man_pages)
  list(APPEND ZARVO_INSTALL_INPUTS ${ZARVO_MAN_PAGES})
elseif(ZARVO_INSTALLED_PROGRAMS)
  message(WARNING "help2man not found: the programs are installed without manual pages")
endif()
if(TARGET zarvo-serve AND TARGET zarvo_web)
  add_dependencies(zarvo_installable zarvo_web)
  list(APPEND ZARVO_INSTALL_INPUTS ${ZARVO_WEB_DIR}/index.html)
endif()

if(ZARVO_INSTALL_INPUTS)
  install(CODE "foreach(input ${ZARVO_INSTALL_INPUTS})
    if(NOT EXISTS \"\${input}\")
      message(FATAL_ERROR \"\${input} is not built yet: cmake --build ${CMAKE_BINARY_DIR} --target zarvo_installable\")
    endif()
  endforeach()")
  install(TARGETS ${ZARVO_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(ZARVO_MAN_PAGES)
  install(FILES ${ZARVO_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(TARGET zarvo-serve)
  if(TARGET zarvo_web)
    install(DIRECTORY ${ZARVO_WEB_DIR}/ DESTINATION ${ZARVO_INSTALL_WEBDIR})
  endif()
  # A system service: the unit names the installed program, in the prefix
  # the install is made to (cmake --install --prefix), so it is written
  # then. A release archive, unpacked anywhere, names the configured one.
  foreach(dir BINDIR DATAROOTDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
      set(unit_${dir} "${CMAKE_INSTALL_${dir}}")
    else()
      set(unit_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
  endforeach()
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    if(prefix MATCHES \"/_CPack_Packages/\")
      set(prefix \"${CMAKE_INSTALL_PREFIX}\")
    endif()
    set(ZARVO_BINDIR \"${unit_BINDIR}\")
    set(ZARVO_ENV_EXAMPLE \"${unit_DATAROOTDIR}/doc/zarvo-data-plugin/examples/zarvo-serve.env\")
    configure_file(\"${PROJECT_SOURCE_DIR}/deploy/zarvo-serve.service.in\"
      \"${CMAKE_BINARY_DIR}/install-unit/zarvo-serve.service\" @ONLY)
    file(INSTALL \"${CMAKE_BINARY_DIR}/install-unit/zarvo-serve.service\"
      DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
  ")
  install(FILES ${PROJECT_SOURCE_DIR}/deploy/zarvo-serve.env
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zarvo-data-plugin/examples)
endif()

if(TARGET zarvo-render)
  # The Slurm job script that draws a pyramid's parts as a job array.
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/deploy/zarvo-pyramid.sbatch
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zarvo-data-plugin/examples)
endif()

# find_package(ZarvoDataPlugin) gives ZarvoDataPlugin::zarvo_data_plugin.
install(EXPORT ZarvoDataPluginTargets
  NAMESPACE ZarvoDataPlugin::
  DESTINATION ${ZARVO_CMAKE_PACKAGE_DIR})
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/ZarvoDataPluginConfig.cmake.in
  ${CMAKE_BINARY_DIR}/ZarvoDataPluginConfig.cmake
  INSTALL_DESTINATION ${ZARVO_CMAKE_PACKAGE_DIR})
# 1.x hosts run with any later 1.y: the major version changes with the ABI.
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/ZarvoDataPluginConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_BINARY_DIR}/ZarvoDataPluginConfig.cmake
  ${CMAKE_BINARY_DIR}/ZarvoDataPluginConfigVersion.cmake
  DESTINATION ${ZARVO_CMAKE_PACKAGE_DIR})

# pkg-config, relative to where the .pc file lies so that an unpacked
# archive works wherever it is put.
file(RELATIVE_PATH ZARVO_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix/)
string(REGEX REPLACE "/$" "" ZARVO_PC_TO_PREFIX "${ZARVO_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zarvo-data-plugin.pc.in
  ${CMAKE_BINARY_DIR}/zarvo-data-plugin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zarvo-data-plugin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
