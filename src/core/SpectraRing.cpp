#include "core/SpectraRing.h"

#include <algorithm>

#include "fftooura/fftsg.h"

namespace QUORLAX {

bool SpectraRing::Kept(int bin) const {
  const int margin = CFFTOoura::kBinMargin;
  for (int i = 0; i < count_; ++i)
    if (ranges_[i].lo <= ranges_[i].hi && bin >= ranges_[i].lo - margin && bin <= ranges_[i].hi + margin) return true;
  return false;
}

SpectraRing::SpectraRing(int slots, int specSize, int toleranceFrames, const Range* ranges, int count, Arena& arena)
    : slots_(slots), specSize_(specSize), tolerance_(toleranceFrames), count_(std::min(count, kMaxRanges)) {
  for (int i = 0; i < count_; ++i) ranges_[i] = ranges[i];
  // Places of the kept bins, counted before anything is stored.
  int place = 0;
  for (int b = 0; b < specSize; ++b) place += Kept(b);
  stride_ = place;
  // Room in front for the views' bases (bin 0 of a row may lie before it):
  // a range's first bin sits at the count of kept bins below it.
  int front = 0;
  for (int i = 0; i < count_; ++i) {
    const Range& r = ranges_[i];
    if (r.lo > r.hi || r.lo < 0 || r.lo >= specSize) continue;
    int below = 0;
    for (int b = 0; b < r.lo; ++b) below += Kept(b);
    front = std::max(front, r.lo - below);
  }
  offsets_ = arena.Take<int>(static_cast<size_t>(specSize));
  float* store = arena.Take<float>(static_cast<size_t>(front) + static_cast<size_t>(slots) * stride_);
  if (offsets_ == nullptr || store == nullptr) {
    offsets_ = nullptr;
    return;  // counting, or no room: the owner checks the arena
  }
  data_ = store + front;
  place = 0;
  for (int b = 0; b < specSize; ++b) offsets_[b] = Kept(b) ? place++ : -1;
  for (int i = 0; i < count_; ++i) {
    const Range& r = ranges_[i];
    Run run{0, -1};
    if (r.lo <= r.hi && r.lo >= 0 && r.lo < specSize) {
      run.first = run.last = r.lo;
      while (run.first > 0 && offsets_[run.first - 1] >= 0) --run.first;
      while (run.last + 1 < specSize && offsets_[run.last + 1] >= 0) ++run.last;
    }
    runs_[i] = run;
  }
}

SpectraView SpectraRing::View(int range) const {
  const Run& run = runs_[range];
  float* base = data_;
  if (run.first <= run.last) base = data_ + (offsets_[run.first] - run.first);
  return {base, stride_, slots_, specSize_, tolerance_, run.first, run.last};
}

}  // namespace QUORLAX
