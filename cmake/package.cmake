# `cpack` in a build directory configured with -DCMAKE_INSTALL_PREFIX=/usr
# makes quorlax_<version>_<arch>.deb, for `apt install ./quorlax_*.deb`: the
# runtime library in the multiarch folder, what building against it needs,
# and the program with its man page and shell completion.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlax)
set(CPACK_PACKAGE_VENDOR Quorlax)
set(CPACK_PACKAGE_CONTACT "Quorlax developers <quorlax@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data-over-sound codec: nine-character messages as chord sequences")
set(CPACK_PACKAGE_DESCRIPTION "The quorlax program (encode, decode, play, listen, scan; man page, bash \
and zsh completion), libquorlax.so.1 and libquorlax.a with the C header ZunCoreLib_api.h, a CMake package \
(find_package(Quorlax), Quorlax::quorlax) and quorlax.pc for pkg-config.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The layout (lib/<multiarch>, a quorlax.pc that names /usr) is chosen when the
# build is configured: a build for another prefix cannot make this package.
set(CPACK_QUORLAX_CONFIGURED_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
# Depends from what the libraries and the program link (dpkg-shlibdeps), and
# a shlibs file so that packages built against this one depend on it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
include(CPack)
