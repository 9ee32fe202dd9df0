// The listener's analysis windows, worked out by the compiler: the decoders'
// window with each cosine rounded correctly from double precision, so every
// build on every processor has the same values (libraries' single-precision
// cosines differ in their last bit), and no listener holds them in RAM.
#pragma once

namespace QUORLAX {

// The window of `size` samples (1024 or 2048: the listener's sizes), or
// null for another size.
const float* ListenerWindow(int size);

}  // namespace QUORLAX
