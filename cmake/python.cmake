# The _quorlax extension module and its pytest suite.
if(NOT Python3_EXECUTABLE)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter Development.Module NumPy)

Python3_add_library(_quorlax MODULE WITH_SOABI ${PROJECT_SOURCE_DIR}/quorlax_wrap.cpp)
target_link_libraries(_quorlax PRIVATE quorlax quorlax_flags Python3::NumPy)
set_target_properties(_quorlax PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/python)

# quorlax._native, the package's own binding (pybind11, libsoxr for resampling).
find_package(pybind11 CONFIG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUORLAX_PY_SOXR REQUIRED IMPORTED_TARGET soxr)
# NO_EXTRAS: no link-time optimisation (its serial-compilation notice is a warning).
pybind11_add_module(_native MODULE NO_EXTRAS ${PROJECT_SOURCE_DIR}/python/quorlax_native.cpp)
target_link_libraries(_native PRIVATE quorlax quorlax_flags PkgConfig::QUORLAX_PY_SOXR)
set_target_properties(_native PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/python/quorlax)
# The package's sources beside it, so that build/python holds the whole package.
file(GLOB QUORLAX_PY_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/python/quorlax/*.py
  ${PROJECT_SOURCE_DIR}/python/quorlax/py.typed)
set(_quorlax_py_copies "")
foreach(f ${QUORLAX_PY_FILES})
  get_filename_component(_name ${f} NAME)
  set(_copy ${PROJECT_BINARY_DIR}/python/quorlax/${_name})
  add_custom_command(OUTPUT ${_copy} COMMAND ${CMAKE_COMMAND} -E copy_if_different ${f} ${_copy} DEPENDS ${f})
  list(APPEND _quorlax_py_copies ${_copy})
endforeach()
add_custom_target(quorlax_package ALL DEPENDS ${_quorlax_py_copies})
add_dependencies(_native quorlax_package)

if(QUORLAX_BUILD_TESTS)
  enable_testing()
  set(QUORLAX_PYTEST_ENV PYTHONPATH=${PROJECT_BINARY_DIR}/python)
  if(QUORLAX_SANITIZE)
    # The interpreter is not instrumented: the runtimes must load before it.
    set(_quorlax_preload "")
    foreach(lib libasan.so libubsan.so)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${lib}
        OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
      list(APPEND _quorlax_preload ${_path})
    endforeach()
    list(JOIN _quorlax_preload ":" _quorlax_preload)
    list(APPEND QUORLAX_PYTEST_ENV LD_PRELOAD=${_quorlax_preload} ASAN_OPTIONS=detect_leaks=0)
  endif()
  add_test(NAME python_tests
    COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${PROJECT_SOURCE_DIR}/tests/python)
  set_tests_properties(python_tests PROPERTIES ENVIRONMENT "${QUORLAX_PYTEST_ENV}" TIMEOUT 900)
endif()

# _quorlax_device: play and listen for the package, on the sound-device layer.
if(TARGET quorlax_device)
  find_package(pybind11 CONFIG REQUIRED)
  pybind11_add_module(_quorlax_device MODULE NO_EXTRAS ${PROJECT_SOURCE_DIR}/python/device_module.cpp)
  target_link_libraries(_quorlax_device PRIVATE quorlax_device quorlax_flags)
  set_target_properties(_quorlax_device PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/python)
endif()
if(TARGET quorlax_device AND QUORLAX_BUILD_TESTS)
  # Against a private PulseAudio server that the tests start and stop.
  set(_device_tests ${PROJECT_SOURCE_DIR}/tests/device)
  add_test(NAME device_python
    COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${_device_tests}/test_device_python.py)
  set_tests_properties(device_python PROPERTIES ENVIRONMENT "${QUORLAX_PYTEST_ENV}" LABELS device TIMEOUT 600)
  if(QUORLAX_BUILD_CLI)
    set(_device_cli_env QUORLAX_CLI=$<TARGET_FILE:quorlax-cli>)
    if(QUORLAX_SANITIZE)
      # ALSA's plugins leak a little and are unloaded before the leak check can name them.
      list(APPEND _device_cli_env ASAN_OPTIONS=detect_leaks=0)
    endif()
    add_test(NAME device_cli
      COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${_device_tests}/test_device_cli.py)
    set_tests_properties(device_cli PROPERTIES ENVIRONMENT "${_device_cli_env}" LABELS device TIMEOUT 600)
  endif()
endif()
