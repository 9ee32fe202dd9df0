# Quorlax, the data-over-sound codec, for find_package(Quorlax).
#   Quorlax::quorlax_shared  libquorlax.so.1 (when it was built)
#   Quorlax::quorlax_static  libquorlax.a; brings the C++ runtime and libm
#                            along, so C programs link it too
#   Quorlax::quorlax         the shared one, or the static one when it is the
#                            only one or Quorlax_USE_STATIC_LIBS is set
include(${CMAKE_CURRENT_LIST_DIR}/QuorlaxTargets.cmake)

if(NOT TARGET Quorlax::quorlax)
  add_library(Quorlax::quorlax INTERFACE IMPORTED)
  if(TARGET Quorlax::quorlax_shared AND NOT Quorlax_USE_STATIC_LIBS)
    set_target_properties(Quorlax::quorlax PROPERTIES INTERFACE_LINK_LIBRARIES Quorlax::quorlax_shared)
  else()
    set_target_properties(Quorlax::quorlax PROPERTIES INTERFACE_LINK_LIBRARIES Quorlax::quorlax_static)
  endif()
endif()
