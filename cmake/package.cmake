# `cpack` in the build directory makes quorlax_<version>_<arch>.deb: one
# package with the runtime library and what building against it needs, for
# `apt install ./quorlax_*.deb`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlax)
set(CPACK_PACKAGE_VENDOR Quorlax)
set(CPACK_PACKAGE_CONTACT "Quorlax developers <quorlax@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data-over-sound codec: nine-character messages as chord sequences")
set(CPACK_PACKAGE_DESCRIPTION "libquorlax.so.1 and libquorlax.a with the C header ZunCoreLib_api.h, \
a CMake package (find_package(Quorlax), Quorlax::quorlax) and quorlax.pc for pkg-config.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Depends from the libraries' own needs (dpkg-shlibdeps), and a shlibs file so
# that packages built against this one depend on it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
include(CPack)
