#include "SpectraRing.h"

#include <algorithm>

#include "fftooura/fftsg.h"

namespace QUORLAX {

SpectraRing::SpectraRing(int slots, int specSize, int toleranceFrames, const std::vector<Range>& ranges)
    : slots_(slots), specSize_(specSize), tolerance_(toleranceFrames), offsets_(specSize, -1), ranges_(ranges) {
  const int margin = CFFTOoura::kBinMargin;
  std::vector<char> kept(specSize, 0);
  for (const Range& r : ranges) {
    if (r.lo > r.hi) continue;
    for (int b = std::max(0, r.lo - margin); b <= std::min(specSize - 1, r.hi + margin); ++b) kept[b] = 1;
  }
  int place = 0;
  for (int b = 0; b < specSize; ++b)
    if (kept[b]) offsets_[b] = place++;
  stride_ = place;
  // Room in front for the views' bases (bin 0 of a row may lie before it).
  int front = 0;
  for (const Range& r : ranges)
    if (r.lo <= r.hi && r.lo >= 0 && r.lo < specSize) front = std::max(front, r.lo - offsets_[r.lo]);
  store_.assign(static_cast<size_t>(front) + static_cast<size_t>(slots) * stride_, 0.0f);
  data_ = store_.data() + front;
  for (const Range& r : ranges) {
    Run run{0, -1};
    if (r.lo <= r.hi && r.lo >= 0 && r.lo < specSize) {
      run.first = run.last = r.lo;
      while (run.first > 0 && kept[run.first - 1]) --run.first;
      while (run.last + 1 < specSize && kept[run.last + 1]) ++run.last;
    }
    runs_.push_back(run);
  }
}

SpectraView SpectraRing::View(int range) const {
  const Run& run = runs_[range];
  float* base = data_;
  if (run.first <= run.last) base = data_ + (offsets_[run.first] - run.first);
  return {base, stride_, slots_, specSize_, tolerance_, run.first, run.last};
}

}  // namespace QUORLAX
