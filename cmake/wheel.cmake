# What a wheel holds (scikit-build-core installs the `wheel` component into it):
# the modules, and the program inside the package with the launcher that pip
# puts on the environment's PATH. python/quorlax's own files come from
# pyproject.toml (wheel.packages).
if(QUORLAX_SHARED)
  message(FATAL_ERROR "a wheel links the static library: configure with -DQUORLAX_SHARED=OFF")
endif()
foreach(_target _quorlax _native _quorlax_device quorlax-cli)
  if(NOT TARGET ${_target})
    message(FATAL_ERROR "a wheel needs ${_target}: keep QUORLAX_BUILD_PYTHON, QUORLAX_BUILD_DEVICE "
      "and QUORLAX_BUILD_CLI on")
  endif()
endforeach()
install(TARGETS _quorlax _quorlax_device LIBRARY DESTINATION . COMPONENT wheel)
install(TARGETS _native LIBRARY DESTINATION quorlax COMPONENT wheel)
install(TARGETS quorlax-cli RUNTIME DESTINATION quorlax/bin COMPONENT wheel)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/python/scripts/quorlax DESTINATION ${SKBUILD_SCRIPTS_DIR} COMPONENT wheel)
