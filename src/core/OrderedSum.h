// Sums in a fixed order, without waiting on every addition. The detectors'
// band levels add spectrum values one by one in double precision, and their
// results depend on exactly those roundings. Mostly no addition rounds at
// all, and then any order gives the same sum.
#pragma once

namespace QUORLAX {

// acc + x[0] + x[1] + ... + x[n-1], added one at a time in double precision:
// the same bits as that loop. A block of values is added in any order when
// none of its additions can round: its values are finite and non-negative,
// and the running sum stays below 2^53 times the lowest bit that acc or any
// of the values holds. Other blocks are added one by one.
double SumInOrder(double acc, const float* x, int n);

// x[0] + ... + x[n-1] in any order, for estimates: within 1e-5 of the sum of
// up to 1025 non-negative values (single precision, eight partial sums).
double RoughSum(const float* x, int n);

}  // namespace QUORLAX
