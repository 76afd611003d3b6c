# Release archives of the install tree, made by CPack:
#   cmake --build build --target package        -> build/packages/zarvo-data-plugin-VERSION-linux-x86_64.tar.gz
#   cmake --build build-win32 --target package  -> build-win32/packages/zarvo-data-plugin-VERSION-win32.zip
set(CPACK_PACKAGE_NAME zarvo-data-plugin)
set(CPACK_PACKAGE_VENDOR "${ZARVO_COMPANY}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${ZARVO_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# The archive without its extension, for the tests (CPack reuses its own
# variable for the source package).
set(ZARVO_PACKAGE_ARCHIVE ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME})
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
