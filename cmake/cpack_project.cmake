# Read by cpack for each generator it runs.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_QUORLAX_CONFIGURED_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(FATAL_ERROR "the Debian package installs under ${CPACK_PACKAGING_INSTALL_PREFIX}, but this build was "
    "configured for ${CPACK_QUORLAX_CONFIGURED_PREFIX}: configure a build with "
    "-DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX} to make it (see README.md)")
endif()
