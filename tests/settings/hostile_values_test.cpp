// Every stored value tried with every registry type, odd sizes and hostile
// bit patterns: a value is taken only when it is four bytes of a type the
// program writes, whatever is taken leaves the engine within its ranges,
// and the engine then runs on it without fault (this program runs under
// AddressSanitizer and UndefinedBehaviorSanitizer as well).
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "../engine/engine_harness.h"
#include "settings/memory_settings_store.h"
#include "settings/presets.h"
#include "ui/windows/window_placement.h"

namespace mimicore {
namespace {

const std::string kProduct = "SOFTWARE\\Quorvane\\Mimicore";
const std::string kDefault = kProduct + "\\def_settings";

constexpr uint32_t kTypeNone = 0;
constexpr uint32_t kTypeString = 1;
constexpr uint32_t kTypeQword = 11;

constexpr uint32_t kTypes[] = {kStoredTypeBinary, kStoredTypeDword, kTypeQword, kTypeString,
                               kTypeNone};
constexpr size_t kSizes[] = {0, 1, 3, 4, 5, 64 * 1024};
// NaN, signalling NaN, +inf, -inf, INT_MIN (and -0.0f), INT_MAX, -1, the
// largest float, a huge speed, delay or time, and a negative decay.
constexpr uint32_t kPatterns[] = {
    0x7FC00000U, 0x7F800001U, 0x7F800000U, 0xFF800000U, 0x80000000U,
    0x7FFFFFFFU, 0xFFFFFFFFU, 0x7F7FFFFFU, 1000000000U, std::bit_cast<uint32_t>(-5.0F)};

uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }
uint32_t U(float v) { return std::bit_cast<uint32_t>(v); }

// The preset's values, then the product key's.
const char* const kNames[] = {
    "Speed",       "NThre",       "Echo",          "Delay",   "Decay",
    "Bpf",         "SilenceTime", "peakThreshold", "Reverse", "oscilloDivisor",
    "NumSettings", "CurSetting",  "winx",          "winy"};
constexpr size_t kFirstAppName = 10;

std::array<uint32_t, std::size(kNames)> Fields(const EngineSettingsValues& v,
                                               const AppSettings& a) {
  return {U(v.Speed),       U(v.NThre),       U(v.Echo),          U(v.Delay),   U(v.Decay),
          U(v.Bpf),         U(v.SilenceTime), U(v.peakThreshold), U(v.Reverse), U(v.oscilloDivisor),
          U(a.NumSettings), U(a.CurSetting),  U(a.winx),          U(a.winy)};
}

std::vector<uint8_t> Filled(size_t size, uint32_t pattern) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>(pattern >> (8 * (i % 4)));
  }
  return bytes;
}

void ExpectEngineInRange(const EngineSettingsValues& v) {
  const EffectiveSettings e = MakeEffective(v);
  EXPECT_GE(e.peakThreshold, 1);
  EXPECT_GE(e.oscilloDivisor, 1);
  EXPECT_TRUE(e.speed >= 0.5F && e.speed <= 2.2F) << e.speed;
  EXPECT_TRUE(e.decay >= 0.0F && e.decay <= 1.0F) << e.decay;
  EXPECT_TRUE(e.delay >= 0 && e.delay <= 300) << e.delay;
  EXPECT_TRUE(e.bpf >= 0 && e.bpf <= kBpfMax) << e.bpf;
  const ControlPositions p = PositionsFor(e, v.NThre, v.SilenceTime);
  EXPECT_TRUE(p.speedSlider >= 50 && p.speedSlider <= 220) << p.speedSlider;
  EXPECT_TRUE(p.decayKnob >= 0 && p.decayKnob <= 100) << p.decayKnob;
  EXPECT_TRUE(p.delayKnob >= 0 && p.delayKnob <= 100) << p.delayKnob;
}

// Speech, then silence: records, plays (unless the silence time is out of
// reach), draws, filters and echoes with whatever the record holds.
void RunEngine(testing::Rig& rig) {
  for (int i = 0; i < 8; ++i) {
    rig.Block(testing::Square(int16_t(i % 2 == 0 ? 12000 : -3000)));
  }
  for (int i = 0; i < 40; ++i) {
    rig.Block(int16_t{0});
  }
}

TEST(HostileStoredValues, OnlyFourBytesOfAWrittenTypeAreTakenAndNothingBreaks) {
  const std::vector<ScreenRect> screen{{0, 0, 1024, 768}};
  int ran = 0;
  for (size_t i = 0; i < std::size(kNames); ++i) {
    const bool inApp = i >= kFirstAppName;
    for (const uint32_t type : kTypes) {
      for (const size_t size : kSizes) {
        for (const uint32_t pattern : kPatterns) {
          SCOPED_TRACE(::testing::Message() << kNames[i] << " type " << type << " size " << size
                                            << " pattern 0x" << std::hex << pattern);
          MemorySettingsStore store;
          store.SetValue(inApp ? kProduct : kDefault, kNames[i], type, Filled(size, pattern));
          // The loading engine is the applier, as in the program; the rig
          // with its ring is made only where there is something to run.
          EngineSettings settings;
          StatusDisplay status;
          testing::FakeClock clock;
          testing::FakeControls controls;
          VoiceEngine loader(settings, status, clock, nullptr, nullptr, &controls);
          AppSettings app;
          Presets presets(settings, app, store, loader);
          presets.LoadSettingsAtStartup();

          const bool takes = size == 4 && (type == kStoredTypeBinary || type == kStoredTypeDword);
          // Only this field changes, and the engine gets nothing it cannot use.
          auto expected = Fields(DefaultEngineSettings, AppSettings{});
          if (takes) {
            expected[i] = i == 0 ? U(HundredthsToSpeed(static_cast<int32_t>(pattern))) : pattern;
          }
          EXPECT_EQ(Fields(settings.Load(), app), expected);
          ExpectEngineInRange(settings.Load());
          const WindowOrigin centred{341, 209};
          const WindowOrigin origin =
              ChooseWindowOrigin({app.winx, app.winy}, 342, 350, screen, centred);
          EXPECT_TRUE(origin == centred ||
                      (origin.x > -342 && origin.x < 1024 && origin.y > -350 && origin.y < 768));
          if (takes) {
            testing::Rig rig;
            rig.settings.Store(settings.Load());
            rig.engine.ApplySettings();
            RunEngine(rig);
            ++ran;
          }

          // Shut-down writes the value back as the four bytes it was taken
          // from, or replaces an unusable one with the field's own.
          presets.SaveSettingsAtShutdown();
          if (takes && (inApp || app.NumSettings < 1)) {
            const auto saved = store.GetValue(inApp ? kProduct : kDefault, kNames[i]);
            ASSERT_TRUE(saved.has_value());
            EXPECT_EQ(saved->bytes, Filled(4, pattern));
          }
        }
      }
    }
  }
  EXPECT_EQ(ran, int(std::size(kNames) * 2 * std::size(kPatterns)));
}

}  // namespace
}  // namespace mimicore
