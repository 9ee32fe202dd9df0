# Freestanding build for Cortex-M with Debian's gcc-arm-none-eabi and
# picolibc: the core, the listener and the sender as a static library (no
# exceptions, no RTTI, no heap), and the example firmware under embedded/.
#   cmake -S . -B build-an386 --toolchain cmake/arm-none-eabi.cmake -DQUORLAX_CPU=cortex-m4
#   cmake -S . -B build-an500 --toolchain cmake/arm-none-eabi.cmake -DQUORLAX_CPU=cortex-m7
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(QUORLAX_CPU cortex-m4 CACHE STRING "Cortex-M core: cortex-m4 (single-precision FPU) or cortex-m7")
if(QUORLAX_CPU STREQUAL "cortex-m7")
  set(_quorlax_fpu fpv5-d16)
else()
  set(_quorlax_fpu fpv4-sp-d16)
endif()
set(_quorlax_arch "-mcpu=${QUORLAX_CPU} -mfpu=${_quorlax_fpu} -mfloat-abi=hard -mthumb")
set(CMAKE_C_FLAGS_INIT "${_quorlax_arch} --specs=picolibc.specs")
set(CMAKE_CXX_FLAGS_INIT "${_quorlax_arch} --specs=picolibcpp.specs")
