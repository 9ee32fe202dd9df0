# The freestanding profile of the library, for processors without an
# operating system: the core, the listener, the sender and the queries of the
# C interface, built without exceptions, RTTI or a heap (objects live in the
# caller's memory through the ...Size / ...Init calls; the ...Create calls
# answer -8). The handle interface, the decoders and the encoders are not in
# it. Functions and data get sections of their own, so a firmware links only
# what it calls.
set(QUORLAX_FREESTANDING_SOURCES
  src/core/BandGeometry.cpp src/core/BandTable.cpp src/core/CInterface.cpp src/core/DoorFinder.cpp
  src/core/ErasureDecode.cpp src/core/FftKernel1.cpp src/core/FftKernel4.cpp src/core/FftPlan.cpp
  src/core/Listener.cpp src/core/ListenerWindow.cpp src/core/MessageReadOut.cpp src/core/Modes.cpp
  src/core/MultiToneBand.cpp src/core/MultiToneSynth.cpp src/core/OrderedSum.cpp src/core/Sender.cpp
  src/core/TokenFollow.cpp src/core/ToneMatch.cpp src/Globals.cpp src/ReedSolomon.cpp)
list(TRANSFORM QUORLAX_FREESTANDING_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
add_library(quorlax STATIC ${QUORLAX_FREESTANDING_SOURCES})
target_include_directories(quorlax PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(quorlax PRIVATE QUORLAX_BUILDING_LIBRARY QUORLAX_VERSION="${PROJECT_VERSION}"
  PUBLIC QUORLAX_FREESTANDING)
target_compile_options(quorlax PRIVATE -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
target_link_libraries(quorlax PRIVATE quorlax_flags)
# The 4-lane kernel, which only sizes below 64 reach on a processor without
# vectors, small rather than fast.
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/core/FftKernel4.cpp PROPERTIES COMPILE_OPTIONS -Os)
add_library(Quorlax::quorlax ALIAS quorlax)
