# WebAssembly build of the library with Debian's emscripten, for the browser
# package in web/:  cmake -S . -B build-wasm --toolchain cmake/wasm.cmake
# (npm --prefix web run build does this, twice). 128-bit vectors become wasm
# SIMD; -DQUORLAX_WASM_SIMD=OFF builds the module for engines without it
# (Safari before 16.4), the same code with its vectors lowered to scalars.
if(NOT EMSCRIPTEN_ROOT_PATH)
  find_program(QUORLAX_EMCC emcc REQUIRED)
  get_filename_component(QUORLAX_EMCC "${QUORLAX_EMCC}" REALPATH)
  get_filename_component(EMSCRIPTEN_ROOT_PATH "${QUORLAX_EMCC}" DIRECTORY)
endif()
include("${EMSCRIPTEN_ROOT_PATH}/cmake/Modules/Platform/Emscripten.cmake")
if(DEFINED QUORLAX_WASM_SIMD AND NOT QUORLAX_WASM_SIMD)
  set(CMAKE_C_FLAGS_INIT "-mno-simd128")
  set(CMAKE_CXX_FLAGS_INIT "-mno-simd128")
else()
  set(CMAKE_C_FLAGS_INIT "-msimd128 -msse2")
  set(CMAKE_CXX_FLAGS_INIT "-msimd128 -msse2")
endif()
