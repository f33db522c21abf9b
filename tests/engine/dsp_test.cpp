#include <gtest/gtest.h>

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

double SineGainDb(BiquadFilter& f, double hz) {
  const int total = 44100;
  const int settle = 22050;
  double inEnergy = 0;
  double outEnergy = 0;
  for (int i = 0; i < total; ++i) {
    const auto x =
        static_cast<int16_t>(10000.0 * std::sin(2.0 * std::numbers::pi * hz * i / 44100.0));
    const int32_t y = f.Process(x);
    if (i >= settle) {
      inEnergy += double(x) * x;
      outEnergy += double(y) * y;
    }
  }
  return 10.0 * std::log10(outEnergy / inEnergy);
}

TEST(BandPass, PassesTheCentreAndDampsTheFlanks) {
  BiquadFilter f(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
  EXPECT_NEAR(SineGainDb(f, 1000.0), 0.0, 0.1);
  f.Design(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
  EXPECT_NEAR(SineGainDb(f, 100.0), -30.0, 3.0);
  f.Design(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
  EXPECT_NEAR(SineGainDb(f, 8000.0), -30.0, 3.0);
}

TEST(BandPass, RedesignStartsFromRestAndFeedsBackTheLow16Bits) {
  BiquadFilter f(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
  for (int i = 0; i < 100; ++i) {
    f.Process(int16_t(i * 300));
  }
  f.Design(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
  EXPECT_EQ(f.Process(10000), int32_t(double(f.B0()) * 10000.0));

  // A resonant peaking section driven hard leaves the 16-bit range.
  BiquadFilter loud(FilterType::Peaking, 24.0F, 1000.0F, 44100.0F, 0.1F);
  int32_t big = 0;
  for (int i = 0; i < 4000 && big == 0; ++i) {
    const auto x = int16_t(30000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 44100.0));
    const int32_t r = loud.Process(x);
    if (r > 32767 || r < -32768) {
      big = r;
      EXPECT_EQ(loud.Y1(), float(int16_t(r)));
    }
  }
  EXPECT_NE(big, 0);
}

TEST(BandPass, UnusableDesignsAreSilentNotNaN) {
  for (float hz : {0.0F, -5.0F, 22050.0F, 1e9F, std::nanf("")}) {
    BiquadFilter f(FilterType::BandPass, 1.0F, hz, 44100.0F, 0.4F);
    EXPECT_EQ(f.Process(12345), 0) << hz;
  }
  BiquadFilter odd(static_cast<FilterType>(9), 1.0F, 1000.0F, 44100.0F, 0.4F);
  EXPECT_EQ(odd.Process(12345), 0);
  // All seven kinds design finite coefficients.
  for (int t = 0; t <= 6; ++t) {
    BiquadFilter k(static_cast<FilterType>(t), 6.0F, 1000.0F, 44100.0F, 1.0F);
    EXPECT_TRUE(std::isfinite(k.B0()) && std::isfinite(k.A1()) && std::isfinite(k.A2())) << t;
  }
}

TEST(FixedFft, ImpulseAndConstant) {
  std::array<int16_t, 512> re{};
  std::array<int16_t, 512> im{};
  re[0] = 16384;
  EXPECT_EQ(FixedFft(re.data(), im.data(), 9, 0), 0);
  for (size_t k = 0; k < 512; ++k) {
    ASSERT_EQ(re[k], 32) << k;
    ASSERT_EQ(im[k], 0) << k;
  }

  re.fill(8000);
  im.fill(0);
  FixedFft(re.data(), im.data(), 9, 0);
  EXPECT_NEAR(re[0], 8000, 16);
  for (size_t k = 1; k < 512; ++k) {
    ASSERT_LE(std::abs(re[k]), 8) << k;  // rounding of 9 fixed-point passes
    ASSERT_LE(std::abs(im[k]), 8) << k;
  }
}

TEST(FixedFft, SizeLimitAndInverseScaling) {
  std::array<int16_t, 2048> re{};
  std::array<int16_t, 2048> im{};
  re[3] = 77;
  EXPECT_EQ(FixedFft(re.data(), im.data(), 11, 0), -1);
  EXPECT_EQ(re[3], 77);
  EXPECT_EQ(FixedFft(re.data(), im.data(), -1, 0), -1);

  // Sine table anchors.
  EXPECT_EQ(SineTable()[0], 0);
  EXPECT_EQ(SineTable()[256], 32767);
  EXPECT_EQ(SineTable()[512], 0);

  std::array<int16_t, 16> r{};
  std::array<int16_t, 16> i{};
  r[0] = 20000;  // above 16383: the first inverse pass halves
  EXPECT_GE(FixedFft(r.data(), i.data(), 4, 1), 1);
  std::array<int16_t, 16> small{};
  std::array<int16_t, 16> zero{};
  small[0] = 100;
  EXPECT_EQ(FixedFft(small.data(), zero.data(), 4, 1), 0);
  for (int16_t v : small) {
    EXPECT_EQ(v, 100);  // an impulse's inverse is flat, unscaled
  }
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

TEST(FixedFft, MatchesThePlainLoopNestBitForBit) {
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
}

TEST(Echo, LeadFollowsTwiceTheDelayAndZeroMeansTheWholeLine) {
  EXPECT_EQ(EchoEffect::Lead(44100, 150), 13230);
  EXPECT_EQ(EchoEffect::Lead(44100, 300), 26460);
  EXPECT_EQ(EchoEffect::Lead(44100, 0), 0);
  EXPECT_EQ(EchoEffect::Lead(44100, 100000), kEchoLineSamples - 1);
  EXPECT_EQ(EchoEffect::Lead(44100, -100), 0);

  // Delay 0: the impulse comes back 30800 samples later.
  EchoEffect echo;
  std::vector<int16_t> s(30801, 0);
  s[0] = 10000;
  echo.Process(s.data(), int32_t(s.size()), 44100, 0, 0.5F, 32768);
  EXPECT_EQ(s[30800], 5000);
  for (size_t i = 1; i < 30800; ++i) {
    ASSERT_EQ(s[i], 0) << i;
  }
}

TEST(Echo, RepeatsDecaysAndSaturates) {
  EchoEffect echo;
  const int32_t lead = EchoEffect::Lead(44100, 10);  // 882
  std::vector<int16_t> s(size_t(lead) * 3 + 1, 0);
  s[0] = 30000;
  echo.Process(s.data(), int32_t(s.size()), 44100, 10, 1.0F, 32768);
  EXPECT_EQ(s[size_t(lead)], 30000);
  EXPECT_EQ(s[size_t(lead) * 2], 30000);

  EchoEffect sat;
  std::vector<int16_t> t(size_t(lead) + 1, 0);
  t[0] = 30000;
  t[size_t(lead)] = 30000;
  sat.Process(t.data(), int32_t(t.size()), 44100, 10, 1.0F, 32768);
  EXPECT_EQ(t[size_t(lead)], 32767);
  EchoEffect neg;
  std::vector<int16_t> u(size_t(lead) + 1, 0);
  u[0] = -30000;
  u[size_t(lead)] = -30000;
  neg.Process(u.data(), int32_t(u.size()), 44100, 10, 1.0F, 32768);
  EXPECT_EQ(u[size_t(lead)], -32768);
}

TEST(Echo, DecayZeroLeavesSamplesButWritesTheLine) {
  EchoEffect echo;
  std::vector<int16_t> s(100, 1234);
  echo.Process(s.data(), 100, 44100, 1, 0.0F, 32768);
  EXPECT_EQ(s, std::vector<int16_t>(100, 1234));
  EXPECT_EQ(echo.Line()[size_t(EchoEffect::Lead(44100, 1))], 1234);
  EXPECT_EQ(echo.ReadIndex(), 100);

  // A count of 0 or less changes nothing.
  echo.Process(s.data(), 0, 44100, 1, 0.5F, 32768);
  echo.Process(s.data(), -5, 44100, 1, 0.5F, 32768);
  EXPECT_EQ(echo.ReadIndex(), 100);

  // Hostile decay and delay are tamed, not trusted.
  std::vector<int16_t> h(1000, 20000);
  echo.Process(h.data(), 1000, 44100, 1 << 30, std::nanf(""), 32768);
  echo.Process(h.data(), 1000, 44100, -(1 << 30), 1e30F, 32768);
  for (int16_t v : h) {
    ASSERT_GE(v, -32768);
  }
}

}  // namespace
}  // namespace mimicore
