#include "engine/fixed_fft.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace mimicore {

namespace {

std::array<int16_t, 768> MakeSineTable() {
  std::array<int16_t, 768> t{};
  for (size_t i = 0; i < t.size(); ++i) {
    t[i] = static_cast<int16_t>(32767.0 * std::sin(2.0 * std::numbers::pi * double(i) / 1024.0));
  }
  return t;
}

inline int16_t Mul(int16_t a, int16_t b) {
  return static_cast<int16_t>((int32_t{a} * int32_t{b}) >> 15);
}

inline int16_t Wrap16(int32_t v) { return static_cast<int16_t>(v); }

// One radix-2 butterfly in 16-bit arithmetic; |half| halves the upper input
// (and the twiddles were halved with it) to keep the pass from overflowing.
inline void Butterfly(int16_t* ri, int16_t* ii, int16_t* rj, int16_t* ij, int16_t wr, int16_t wi,
                      int32_t half) {
  const int32_t tr = Wrap16(int32_t{Mul(wr, *rj)} - int32_t{Mul(wi, *ij)});
  const int32_t ti = Wrap16(int32_t{Mul(wr, *ij)} + int32_t{Mul(wi, *rj)});
  const int32_t qr = int32_t{*ri} >> half;
  const int32_t qi = int32_t{*ii} >> half;
  *rj = Wrap16(qr - tr);
  *ij = Wrap16(qi - ti);
  *ri = Wrap16(qr + tr);
  *ii = Wrap16(qi + ti);
}

}  // namespace

const std::array<int16_t, 768>& SineTable() {
  static const std::array<int16_t, 768> table = MakeSineTable();
  return table;
}

int32_t FixedFft(int16_t* re, int16_t* im, int32_t m, int32_t inverse) {
  if (m < 0 || m > kFftMaxLog2) {
    return -1;
  }
  const auto& sine = SineTable();
  const int32_t n = 1 << m;

  int32_t mr = 0;
  for (int32_t i = 1; i < n; ++i) {
    int32_t l = n;
    do {
      l >>= 1;
    } while (mr + l > n - 1);
    mr = (mr & (l - 1)) + l;
    if (mr > i) {
      std::swap(re[i], re[mr]);
      std::swap(im[i], im[mr]);
    }
  }

  int32_t l = 1;
  int32_t k = kFftMaxLog2 - 1;
  int32_t scale = 0;
  while (l < n) {
    bool shift = true;
    if (inverse != 0) {
      shift = false;
      for (int32_t i = 0; i < n; ++i) {
        if (std::abs(int32_t{re[i]}) > 16383 || std::abs(int32_t{im[i]}) > 16383) {
          shift = true;
          ++scale;
          break;
        }
      }
    }
    const int32_t istep = l << 1;
    // The twiddles of this pass, then the butterflies group by group: the
    // inner loop runs over neighbouring entries and independent butterflies,
    // which the compiler can vectorise. Same arithmetic, same order per
    // butterfly, so the same result as the classic loop nest.
    std::array<int16_t, 512> wrs{};
    std::array<int16_t, 512> wis{};
    for (int32_t j0 = 0; j0 < l; ++j0) {
      const int32_t t = j0 << k;
      auto wr = sine[static_cast<size_t>(t) + 256U];
      auto wi = static_cast<int16_t>(-sine[static_cast<size_t>(t)]);
      if (inverse != 0) {
        wi = static_cast<int16_t>(-wi);
      }
      if (shift) {
        wr = static_cast<int16_t>(wr >> 1);
        wi = static_cast<int16_t>(wi >> 1);
      }
      wrs[size_t(j0)] = wr;
      wis[size_t(j0)] = wi;
    }
    const int32_t half = shift ? 1 : 0;
    if (l < 8) {
      // Groups shorter than a vector: run each twiddle down the whole
      // array instead, so the long loop is the inner one.
      for (int32_t j0 = 0; j0 < l; ++j0) {
        const int16_t wr = wrs[size_t(j0)];
        const int16_t wi = wis[size_t(j0)];
        for (int32_t i = j0; i < n; i += istep) {
          Butterfly(re + i, im + i, re + i + l, im + i + l, wr, wi, half);
        }
      }
    } else {
      for (int32_t base = 0; base < n; base += istep) {
        int16_t* __restrict ri = re + base;
        int16_t* __restrict ii = im + base;
        int16_t* __restrict rj = re + base + l;
        int16_t* __restrict ij = im + base + l;
        for (int32_t j0 = 0; j0 < l; ++j0) {
          Butterfly(ri + j0, ii + j0, rj + j0, ij + j0, wrs[size_t(j0)], wis[size_t(j0)], half);
        }
      }
    }
    --k;
    l = istep;
  }
  return scale;
}

}  // namespace mimicore
