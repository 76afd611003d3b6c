# What `cmake --install` puts into the prefix, and so what the release
# archives hold.
#
#   Linux:   lib/libzarvo_data_plugin.so*, include/zarvo_data_plugin.h,
#            bin/ the host programs, lib/cmake/ZarvoDataPlugin/ (the CMake
#            package), lib/pkgconfig/zarvo-data-plugin.pc,
#            share/doc/zarvo-data-plugin/ README, LICENSE, CHANGELOG, CREDITS
#   Windows: bin/zarvo_data_plugin.dll, lib/zarvo_data_plugin.lib and .def,
#            include/zarvo_data_plugin.h, and the documents at the top
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZARVO_DOCUMENTS
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/LICENSE
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  ${PROJECT_SOURCE_DIR}/CREDITS.md)

install(FILES ${PROJECT_SOURCE_DIR}/include/zarvo_data_plugin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(WIN32)
  # For hosts built with Microsoft's tools: the DLL, the import library
  # their linker takes and the .def it was made from. The GNU import library
  # stays in the build tree.
  install(TARGETS zarvo_data_plugin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${ZARVO_IMPORT_LIBRARY} ${PROJECT_SOURCE_DIR}/plugin/zarvo_data_plugin.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${ZARVO_DOCUMENTS} DESTINATION .)
  return()
endif()

set(ZARVO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZarvoDataPlugin)

install(TARGETS zarvo_data_plugin EXPORT ZarvoDataPluginTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(program zarvo-render zarvo-demo-tiles)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${ZARVO_DOCUMENTS} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zarvo-data-plugin)

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
