# The library, compiled once: libquorlax.a always, and libquorlax.so.1 where
# the platform has shared libraries (Emscripten has none). The in-tree target
# `quorlax` is the shared one when it is built, the static one otherwise, so
# the program, the Python module and our tests link it as users do.
get_property(_quorlax_can_share GLOBAL PROPERTY TARGET_SUPPORTS_SHARED_LIBS)
if(_quorlax_can_share STREQUAL "")
  set(_quorlax_can_share ON)
endif()
option(QUORLAX_SHARED "Build libquorlax.so and link our own programs to it" ${_quorlax_can_share})
if(QUORLAX_SHARED AND NOT _quorlax_can_share)
  message(WARNING "QUORLAX_SHARED: this platform has no shared libraries; building the static one only")
  set(QUORLAX_SHARED OFF CACHE BOOL "" FORCE)
endif()

include(GNUInstallDirs)
file(GLOB QUORLAX_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/core/*.cpp)
# What compiling the library's own sources needs, wherever they are compiled
# (here, and again with coverage for the fuzzers).
add_library(quorlax_source_flags INTERFACE)
target_compile_definitions(quorlax_source_flags INTERFACE QUORLAX_BUILDING_LIBRARY
  QUORLAX_VERSION="${PROJECT_VERSION}")
# Hardened builds check the listener's bookkeeping at every hop, so fuzzers
# and sanitizers find corrupt state, not only bad output.
if(QUORLAX_SANITIZE OR QUORLAX_FUZZ OR QUORLAX_TSAN)
  target_compile_definitions(quorlax_source_flags INTERFACE QUORLAX_HARDENED)
endif()
add_library(quorlax_objects OBJECT ${QUORLAX_SOURCES})
target_link_libraries(quorlax_objects PRIVATE quorlax_source_flags)
# FFT kernels: never fused multiply-adds, so every kernel gives the same bits;
# on x86-64 the AVX2 one has its own instruction set and is picked at run time.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # The tables too: their twiddles are products the kernels' bits depend on.
  set_source_files_properties(${PROJECT_SOURCE_DIR}/src/core/FftPlan.cpp ${PROJECT_SOURCE_DIR}/src/core/FftKernel4.cpp
    ${PROJECT_SOURCE_DIR}/src/core/FftKernel1.cpp
    ${PROJECT_SOURCE_DIR}/src/core/FftKernel8Avx2.cpp PROPERTIES COMPILE_OPTIONS -ffp-contract=off)
  if(QUORLAX_WIDE_KERNEL AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" AND NOT EMSCRIPTEN)
    set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/core/FftKernel8Avx2.cpp APPEND PROPERTY COMPILE_OPTIONS -mavx2)
  endif()
endif()
target_include_directories(quorlax_objects PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quorlax_objects PRIVATE quorlax_flags)
# Position-independent wherever shared objects exist: the static library also
# goes into Python modules.
set_target_properties(quorlax_objects PROPERTIES POSITION_INDEPENDENT_CODE ${_quorlax_can_share}
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

# What a program linked by the C driver must add for the static library: the
# C++ runtime's libraries beyond the C ones (stdc++ and m with GCC).
set(QUORLAX_RUNTIME_LIBS ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
if(CMAKE_C_IMPLICIT_LINK_LIBRARIES)
  list(REMOVE_ITEM QUORLAX_RUNTIME_LIBS ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
endif()
list(APPEND QUORLAX_RUNTIME_LIBS m)
list(REMOVE_DUPLICATES QUORLAX_RUNTIME_LIBS)

set(_quorlax_includes $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# Without shared libraries the static one is `quorlax` itself.
if(QUORLAX_SHARED)
  set(_quorlax_static quorlax_static)
else()
  set(_quorlax_static quorlax)
endif()
add_library(${_quorlax_static} STATIC $<TARGET_OBJECTS:quorlax_objects>)
target_include_directories(${_quorlax_static} PUBLIC ${_quorlax_includes})
target_link_libraries(${_quorlax_static} PUBLIC ${QUORLAX_RUNTIME_LIBS})
set_target_properties(${_quorlax_static} PROPERTIES OUTPUT_NAME quorlax EXPORT_NAME quorlax_static
  LINKER_LANGUAGE CXX)
add_library(Quorlax::quorlax_static ALIAS ${_quorlax_static})
set(_quorlax_installed ${_quorlax_static})

if(QUORLAX_SHARED)
  add_library(quorlax SHARED $<TARGET_OBJECTS:quorlax_objects>)
  target_include_directories(quorlax PUBLIC ${_quorlax_includes})
  target_link_libraries(quorlax PRIVATE m $<BUILD_INTERFACE:quorlax_flags>)
  # Hidden visibility keeps our own code in; the version script also keeps in
  # the C++ runtime's templates that libstdc++ marks visible.
  set(_quorlax_map ${PROJECT_SOURCE_DIR}/cmake/quorlax.map)
  target_link_options(quorlax PRIVATE LINKER:--version-script=${_quorlax_map})
  if(NOT QUORLAX_SANITIZE AND NOT QUORLAX_TSAN)
    target_link_options(quorlax PRIVATE LINKER:--no-undefined)
  endif()
  set_target_properties(quorlax PROPERTIES OUTPUT_NAME quorlax EXPORT_NAME quorlax_shared
    LINKER_LANGUAGE CXX VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${_quorlax_map})
  add_library(Quorlax::quorlax_shared ALIAS quorlax)
  list(APPEND _quorlax_installed quorlax)
else()
  add_library(quorlax_static ALIAS quorlax)
endif()
add_library(Quorlax::quorlax ALIAS quorlax)

# Tests, fuzzers and benchmarks that include the library's own headers use
# what the shared library keeps hidden: they link the static one.
function(quorlax_link_library target)
  get_target_property(_sources ${target} SOURCES)
  get_target_property(_dir ${target} SOURCE_DIR)
  set(_lib quorlax)
  foreach(_src ${_sources})
    if(NOT IS_ABSOLUTE ${_src})
      set(_src ${_dir}/${_src})
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_src})
    file(STRINGS ${_src} _includes REGEX "^#include \"")
    foreach(_line ${_includes})
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" _header "${_line}")
      if(NOT _header STREQUAL "ZunCoreLib_api.h" AND EXISTS ${PROJECT_SOURCE_DIR}/src/${_header})
        set(_lib quorlax_static)
      endif()
    endforeach()
  endforeach()
  target_link_libraries(${target} PRIVATE ${_lib} quorlax_flags)
endfunction()

# Installed: both libraries, the C header, a CMake package and quorlax.pc,
# all of them relocatable.
install(TARGETS ${_quorlax_installed} EXPORT QuorlaxTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES src/ZunCoreLib_api.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
set(QUORLAX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorlax)
install(EXPORT QuorlaxTargets NAMESPACE Quorlax:: DESTINATION ${QUORLAX_CMAKE_DIR}
  FILE QuorlaxTargets.cmake)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuorlaxConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES cmake/QuorlaxConfig.cmake ${PROJECT_BINARY_DIR}/QuorlaxConfigVersion.cmake
  DESTINATION ${QUORLAX_CMAKE_DIR})

# quorlax.pc finds its prefix from where it lies, except under /usr, where it
# names /usr as the system's own do (pkg-config then leaves out /usr/include).
set(_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR} OR IS_ABSOLUTE ${CMAKE_INSTALL_INCLUDEDIR} OR CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(QUORLAX_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH _up /prefix/${_pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" _up "${_up}")
  set(QUORLAX_PC_PREFIX "\${pcfiledir}/${_up}")
endif()
set(QUORLAX_PC_RUNTIME "")
foreach(_lib ${QUORLAX_RUNTIME_LIBS})
  string(APPEND QUORLAX_PC_RUNTIME " -l${_lib}")
endforeach()
string(STRIP "${QUORLAX_PC_RUNTIME}" QUORLAX_PC_RUNTIME)
if(QUORLAX_SHARED)
  set(QUORLAX_PC_LIBS "-lquorlax")
  set(QUORLAX_PC_LIBS_PRIVATE "${QUORLAX_PC_RUNTIME}")
else()
  set(QUORLAX_PC_LIBS "-lquorlax ${QUORLAX_PC_RUNTIME}")
  set(QUORLAX_PC_LIBS_PRIVATE "")
endif()
configure_file(cmake/quorlax.pc.in ${PROJECT_BINARY_DIR}/quorlax.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorlax.pc DESTINATION ${_pc_dir})
