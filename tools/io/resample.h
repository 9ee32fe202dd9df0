// Rate conversion through libsoxr, for inputs at rates the library does not
// work at and for sending at rates it does not synthesise at.
#pragma once

#include <memory>
#include <vector>

#include "io/sample_source.h"

namespace cli {

// `inner` converted to `rate` Hz (all its channels); `inner` itself when it
// already runs at `rate`.
std::unique_ptr<SampleSource> Resample(std::unique_ptr<SampleSource> inner, int rate);

// Mono `samples` at `from` Hz converted to `to` Hz, as a whole.
std::vector<float> ResampleAll(const std::vector<float>& samples, int from, int to);

}  // namespace cli
