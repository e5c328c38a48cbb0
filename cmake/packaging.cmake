# Release packages made by CPack from the install rules: a zip for Windows
# (kestin.exe and the README) and a tar.gz for other systems (bin/kestin, the
# manual page, the README). scripts/package.sh makes both and checks them.
set(CPACK_PACKAGE_NAME kestin)
set(CPACK_PACKAGE_VENDOR "Kestin")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "An editable input line for batch files and shell scripts")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" kestin_package_system)
set(CPACK_PACKAGE_FILE_NAME kestin-${PROJECT_VERSION}-${kestin_package_system})
# A checksum file beside each package, for the release page.
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  # kestin.exe is linked stripped already (the cross tool chain's strip is not looked for).
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_STRIP_FILES ON)
endif()
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
