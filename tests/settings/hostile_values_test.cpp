// Every stored value tried with every registry type, odd sizes and hostile
// bit patterns: a value is taken only when it is four bytes of a type the
// program writes, whatever is taken leaves the engine within its ranges,
// and the engine then runs on it without fault (this program runs under
// AddressSanitizer and UndefinedBehaviorSanitizer as well).
#include <gtest/gtest.h>

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
constexpr uint32_t kPatterns[] = {
    0x7FC00000U,                     // NaN
    0x7F800001U,                     // signalling NaN
    0x7F800000U,                     // +inf
    0xFF800000U,                     // -inf
    0x80000000U,                     // INT_MIN, and -0.0f
    0x7FFFFFFFU,                     // INT_MAX
    0xFFFFFFFFU,                     // -1
    0x7F7FFFFFU,                     // largest float
    1000000000U,                     // a huge speed, delay or time
    std::bit_cast<uint32_t>(-5.0F),  // a negative decay
};

struct Name {
  const char* name;
  bool app;  // in the product key rather than the preset
  uint32_t (*field)(const EngineSettingsValues&, const AppSettings&);
};

uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }
uint32_t U(float v) { return std::bit_cast<uint32_t>(v); }

const Name kNames[] = {
    {"Speed", false, [](const EngineSettingsValues& v, const AppSettings&) { return U(v.Speed); }},
    {"NThre", false, [](const EngineSettingsValues& v, const AppSettings&) { return U(v.NThre); }},
    {"Echo", false, [](const EngineSettingsValues& v, const AppSettings&) { return U(v.Echo); }},
    {"Delay", false, [](const EngineSettingsValues& v, const AppSettings&) { return U(v.Delay); }},
    {"Decay", false, [](const EngineSettingsValues& v, const AppSettings&) { return U(v.Decay); }},
    {"Bpf", false, [](const EngineSettingsValues& v, const AppSettings&) { return U(v.Bpf); }},
    {"SilenceTime", false,
     [](const EngineSettingsValues& v, const AppSettings&) { return U(v.SilenceTime); }},
    {"peakThreshold", false,
     [](const EngineSettingsValues& v, const AppSettings&) { return U(v.peakThreshold); }},
    {"Reverse", false,
     [](const EngineSettingsValues& v, const AppSettings&) { return U(v.Reverse); }},
    {"oscilloDivisor", false,
     [](const EngineSettingsValues& v, const AppSettings&) { return U(v.oscilloDivisor); }},
    {"NumSettings", true,
     [](const EngineSettingsValues&, const AppSettings& a) { return U(a.NumSettings); }},
    {"CurSetting", true,
     [](const EngineSettingsValues&, const AppSettings& a) { return U(a.CurSetting); }},
    {"winx", true, [](const EngineSettingsValues&, const AppSettings& a) { return U(a.winx); }},
    {"winy", true, [](const EngineSettingsValues&, const AppSettings& a) { return U(a.winy); }},
};

std::vector<uint8_t> Filled(size_t size, uint32_t pattern) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>(pattern >> (8 * (i % 4)));
  }
  return bytes;
}

// What the field should hold after a start-up that took |pattern|.
uint32_t Taken(const Name& n, uint32_t pattern) {
  if (std::string(n.name) == "Speed") {
    return U(HundredthsToSpeed(static_cast<int32_t>(pattern)));
  }
  return pattern;
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
  const EngineSettingsValues defaults = DefaultEngineSettings;
  const AppSettings appDefaults{};
  const std::vector<ScreenRect> screen{{0, 0, 1024, 768}};
  int ran = 0;
  for (const Name& n : kNames) {
    for (const uint32_t type : kTypes) {
      for (const size_t size : kSizes) {
        for (const uint32_t pattern : kPatterns) {
          SCOPED_TRACE(::testing::Message() << n.name << " type " << type << " size " << size
                                            << " pattern 0x" << std::hex << pattern);
          MemorySettingsStore store;
          store.SetValue(n.app ? kProduct : kDefault, n.name, type, Filled(size, pattern));
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
          const uint32_t before = n.field(defaults, appDefaults);
          EXPECT_EQ(n.field(settings.Load(), app), takes ? Taken(n, pattern) : before);
          // The other fields stay at their defaults; the engine gets nothing
          // it cannot use.
          for (const Name& other : kNames) {
            if (&other != &n) {
              EXPECT_EQ(other.field(settings.Load(), app), other.field(defaults, appDefaults))
                  << other.name;
            }
          }
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
          if (takes && (n.app || app.NumSettings < 1)) {
            const auto saved = store.GetValue(n.app ? kProduct : kDefault, n.name);
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
