# WebAssembly build of the library with Debian's emscripten, for the browser
# package in web/:  cmake -S . -B build-wasm --toolchain cmake/wasm.cmake
# (npm --prefix web run build does this). 128-bit vectors become wasm SIMD.
if(NOT EMSCRIPTEN_ROOT_PATH)
  find_program(QUORLAX_EMCC emcc REQUIRED)
  get_filename_component(QUORLAX_EMCC "${QUORLAX_EMCC}" REALPATH)
  get_filename_component(EMSCRIPTEN_ROOT_PATH "${QUORLAX_EMCC}" DIRECTORY)
endif()
include("${EMSCRIPTEN_ROOT_PATH}/cmake/Modules/Platform/Emscripten.cmake")
set(CMAKE_C_FLAGS_INIT "-msimd128 -msse2")
set(CMAKE_CXX_FLAGS_INIT "-msimd128 -msse2")
