#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "engine/biquad_filter.h"
#include "engine/echo_effect.h"
#include "engine/fixed_fft.h"

namespace mimicore {
namespace {

TEST(BandPass, CoefficientsFollowTheCookbookFormulas) {
  for (auto [hz, octaves] : {std::pair{121.0, 0.4}, {1000.0, 0.4}, {5120.0, 0.4}, {3000.0, 2.0}}) {
    const double w = 2.0 * std::numbers::pi * hz / 44100.0;
    const double alpha = std::sin(w) * std::sinh(std::log(2.0) / 2.0 * octaves * w / std::sin(w));
    const double a0 = 1.0 + alpha;
    const BiquadFilter f(FilterType::BandPass, 1.0F, float(hz), 44100.0F, float(octaves));
    EXPECT_NEAR(f.B0(), alpha / a0, 1e-5) << hz;
    EXPECT_EQ(f.B1(), 0.0F) << hz;
    EXPECT_NEAR(f.B2(), -alpha / a0, 1e-5) << hz;
    EXPECT_NEAR(f.A1(), -2.0 * std::cos(w) / a0, 1e-5) << hz;
    EXPECT_NEAR(f.A2(), (1.0 - alpha) / a0, 1e-5) << hz;
  }
}

TEST(BandPass, PassesTheCentreDampsTheFlanksAndRedesignStartsFromRest) {
  BiquadFilter f(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
  for (auto [hz, db] : {std::pair{1000.0, 0.0}, {100.0, -30.0}, {8000.0, -30.0}}) {
    f.Design(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
    double in = 0;
    double out = 0;
    for (int i = 0; i < 44100; ++i) {
      const auto x = int16_t(10000.0 * std::sin(2.0 * std::numbers::pi * hz * i / 44100.0));
      const int32_t y = f.Process(x);
      if (i >= 22050) {
        in += double(x) * x;
        out += double(y) * y;
      }
    }
    EXPECT_NEAR(10.0 * std::log10(out / in), db, db == 0.0 ? 0.1 : 3.0) << hz;
  }
  f.Design(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
  EXPECT_EQ(f.Process(10000), int32_t(double(f.B0()) * 10000.0));
}

TEST(BandPass, UnusableDesignsAreSilentNotNaN) {
  for (float hz : {0.0F, -5.0F, 22050.0F, 1e9F, std::nanf("")}) {
    BiquadFilter f(FilterType::BandPass, 1.0F, hz, 44100.0F, 0.4F);
    EXPECT_EQ(f.Process(12345), 0) << hz;
  }
  BiquadFilter odd(static_cast<FilterType>(0), 1.0F, 1000.0F, 44100.0F, 0.4F);
  EXPECT_EQ(odd.Process(12345), 0);
}

// The transform in its plainest loop nest, as a reference for the
// reordered, vectorisable one.
int32_t ReferenceFft(int16_t* re, int16_t* im, int32_t m, bool inverse) {
  const int32_t n = 1 << m;
  auto mul = [](int16_t a, int16_t b) { return int16_t((int32_t{a} * b) >> 15); };
  for (int32_t i = 1, mr = 0; i < n; ++i) {
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
  int32_t scale = 0;
  for (int32_t l = 1, k = 9; l < n; l *= 2, --k) {
    bool shift = !inverse;
    for (int32_t i = 0; inverse && i < n && !shift; ++i) {
      shift = std::abs(re[i]) > 16383 || std::abs(im[i]) > 16383;
    }
    scale += (inverse && shift) ? 1 : 0;
    for (int32_t j0 = 0; j0 < l; ++j0) {
      int16_t wr = SineTable()[size_t(j0 << k) + 256];
      auto wi = int16_t(-SineTable()[size_t(j0 << k)]);
      if (inverse) {
        wi = int16_t(-wi);
      }
      if (shift) {
        wr = int16_t(wr >> 1);
        wi = int16_t(wi >> 1);
      }
      for (int32_t i = j0; i < n; i += 2 * l) {
        const int32_t j = i + l;
        const auto tr = int16_t(mul(wr, re[j]) - mul(wi, im[j]));
        const auto ti = int16_t(mul(wr, im[j]) + mul(wi, re[j]));
        int16_t qr = re[i];
        int16_t qi = im[i];
        if (shift) {
          qr = int16_t(qr >> 1);
          qi = int16_t(qi >> 1);
        }
        re[j] = int16_t(qr - tr);
        im[j] = int16_t(qi - ti);
        re[i] = int16_t(qr + tr);
        im[i] = int16_t(qi + ti);
      }
    }
  }
  return scale;
}

TEST(FixedFft, MatchesThePlainLoopNestAndRefusesOtherSizes) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 400; ++trial) {
    const int32_t m = trial % 11;
    const bool inverse = (trial / 11) % 2 == 1;
    std::array<int16_t, 1024> re{};
    std::array<int16_t, 1024> im{};
    for (int32_t i = 0; i < (1 << m); ++i) {
      re[size_t(i)] = int16_t(rng());
      im[size_t(i)] = int16_t(rng());
    }
    auto wantRe = re;
    auto wantIm = im;
    const int32_t want = ReferenceFft(wantRe.data(), wantIm.data(), m, inverse);
    ASSERT_EQ(FixedFft(re.data(), im.data(), m, inverse ? 1 : 0), want) << trial;
    ASSERT_EQ(re, wantRe) << trial;
    ASSERT_EQ(im, wantIm) << trial;
  }
  // The reference shares the sine table: an impulse must come out flat.
  std::array<int16_t, 2048> re{};
  std::array<int16_t, 2048> im{};
  re[0] = 16384;
  EXPECT_EQ(FixedFft(re.data(), im.data(), 9, 0), 0);
  EXPECT_EQ(std::count(re.begin(), re.begin() + 512, 32), 512);
  EXPECT_EQ(FixedFft(re.data(), im.data(), 11, 0), -1);
  EXPECT_EQ(FixedFft(re.data(), im.data(), -1, 0), -1);
  EXPECT_EQ(re[0], 32);
}

TEST(Echo, LeadIsTwiceTheDelayWithinTheLine) {
  const std::pair<int32_t, int32_t> cases[] = {
      {150, 13230}, {300, 26460}, {0, 0}, {-100, 0}, {100000, kEchoLineSamples - 1}};
  for (auto [delay, lead] : cases) {
    EXPECT_EQ(EchoEffect::Lead(44100, delay), lead) << delay;
  }
}

// One impulse through the line, fed in pieces of |piece| samples: it comes
// back after exactly the lead, decayed, and again after twice the lead.
TEST(Echo, RepeatsAfterTheLeadAcrossPiecesAndTheLinesEnd) {
  struct Case {
    int32_t delay, piece;
    float decay;
    int16_t first, second;
  } cases[] = {
      {10, 1 << 20, 1.0F, 30000, 30000},
      {10, 97, 0.5F, 15000, 7500},
      {300, 1000, 0.5F, 15000, 7500},  // crosses the line's end
      {0, 4096, 0.5F, 15000, 7500},    // no delay: the whole line
  };
  for (const Case& c : cases) {
    const int32_t lead = c.delay == 0 ? kEchoLineSamples : EchoEffect::Lead(44100, c.delay);
    std::vector<int16_t> s(size_t(lead) * 2 + 1, 0);
    s[0] = 30000;
    EchoEffect echo;
    for (size_t at = 0; at < s.size(); at += size_t(c.piece)) {
      const auto n = std::min(s.size() - at, size_t(c.piece));
      echo.Process(s.data() + at, int32_t(n), 44100, c.delay, c.decay, 32768);
    }
    std::vector<int16_t> want(s.size(), 0);
    want[0] = 30000;
    want[size_t(lead)] = c.first;
    want[size_t(lead) * 2] = c.second;
    EXPECT_EQ(s, want) << c.delay << " in pieces of " << c.piece;
  }
}

TEST(Echo, SaturatesAndTamesHostileValues) {
  const int32_t lead = EchoEffect::Lead(44100, 10);
  for (int16_t v : {int16_t{30000}, int16_t{-30000}}) {
    EchoEffect echo;
    std::vector<int16_t> t(size_t(lead) + 1, 0);
    t[0] = t[size_t(lead)] = v;
    echo.Process(t.data(), int32_t(t.size()), 44100, 10, 1.0F, 32768);
    EXPECT_EQ(t[size_t(lead)], v > 0 ? 32767 : -32768);
  }
  EchoEffect echo;
  std::vector<int16_t> h(1000, 20000);
  echo.Process(h.data(), 0, 44100, 1, 0.5F, 32768);
  echo.Process(h.data(), -5, 44100, 1, 0.5F, 32768);
  EXPECT_EQ(echo.ReadIndex(), 0);
  echo.Process(h.data(), 1000, 44100, 1 << 30, std::nanf(""), 32768);
  EXPECT_EQ(h, std::vector<int16_t>(1000, 20000)) << "no decay: the samples stay";
  echo.Process(h.data(), 1000, 44100, -(1 << 30), 1e30F, 32768);
  EXPECT_EQ(echo.ReadIndex(), 2000);
}

}  // namespace
}  // namespace mimicore
