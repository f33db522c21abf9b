#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "../engine/engine_harness.h"
#include "settings/device_names.h"
#include "settings/memory_settings_store.h"
#include "settings/presets.h"
#include "settings/voices.h"

namespace mimicore {
namespace {

const std::string kProduct = kProductKey;
const std::string kDefault = kProduct + "\\def_settings";
using Bytes = std::vector<uint8_t>;

// |size| bytes repeating |v| little-endian.
Bytes Le(uint32_t v, size_t size = 4) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) {
    b[i] = uint8_t(v >> (8 * (i % 4)));
  }
  return b;
}
uint32_t U(int32_t v) { return uint32_t(v); }
uint32_t U(float v) { return std::bit_cast<uint32_t>(v); }

// The preset's values, then the product key's.
const char* const kNames[] = {
    "Speed",       "NThre",         "Echo",      "Delay",          "Decay",       "Bpf",
    "SilenceTime", "peakThreshold", "Reverse",   "oscilloDivisor", "NumSettings", "CurSetting",
    "winx",        "winy",          "EchoGuard", "PreRoll"};
std::array<uint32_t, 16> Fields(const EngineSettingsValues& v, const AppSettings& a,
                                int32_t echoGuard = 1, int32_t preRoll = 0) {
  return {U(v.Speed),       U(v.NThre),       U(v.Echo),          U(v.Delay),   U(v.Decay),
          U(v.Bpf),         U(v.SilenceTime), U(v.peakThreshold), U(v.Reverse), U(v.oscilloDivisor),
          U(a.NumSettings), U(a.CurSetting),  U(a.winx),          U(a.winy),    U(echoGuard),
          U(preRoll)};
}

Bytes Stored(const MemorySettingsStore& store, const std::string& path, const char* name) {
  const auto v = store.GetValue(path, name);
  return v ? v->bytes : Bytes{};
}

// One program run over a shared store, the engine applying what is loaded.
struct Session {
  explicit Session(MemorySettingsStore& store) : presets(settings, app, store, engine) {}
  EngineSettings settings;
  StatusDisplay status;
  testing::FakeClock clock;
  testing::FakeControls controls;
  VoiceEngine engine{settings, status, clock, nullptr, nullptr, &controls};
  AppSettings app;
  Presets presets;
};

// Stored values may hold anything: the engine must stay in range and the bytes survive.
TEST(HostileStoredValues, OnlyFourBytesOfAWrittenTypeAreTakenAndNothingBreaks) {
  const uint32_t types[] = {kStoredTypeBinary, kStoredTypeDword, 11, 1, 0};
  const size_t sizes[] = {0, 1, 3, 4, 5, 64 * 1024};
  const uint32_t patterns[] = {0x7FC00000U, 0x7F800001U, 0x7F800000U, 0xFF800000U, 0x80000000U,
                               0x7FFFFFFFU, 0xFFFFFFFFU, 0x7F7FFFFFU, 1000000000U, U(-5.0F)};
  for (size_t i = 0; i < std::size(kNames); ++i) {
    const std::string& path = i >= 10 ? kProduct : kDefault;
    for (const uint32_t type : types) {
      for (const size_t size : sizes) {
        for (const uint32_t pattern : patterns) {
          SCOPED_TRACE(::testing::Message() << kNames[i] << " type " << type << " size " << size
                                            << " pattern 0x" << std::hex << pattern);
          MemorySettingsStore store;
          store.SetValue(path, kNames[i], type, Le(pattern, size));
          Session run(store);
          run.presets.LoadSettingsAtStartup();
          const bool taken = size == 4 && (type == kStoredTypeBinary || type == kStoredTypeDword);
          auto expected = Fields(DefaultEngineSettings, AppSettings{});
          if (taken) {
            expected[i] = i == 0 ? U(HundredthsToSpeed(int32_t(pattern))) : pattern;
          }
          ASSERT_EQ(
              Fields(run.settings.Load(), run.app, run.settings.EchoGuard, run.settings.PreRoll),
              expected);
          const EngineSettingsValues v = run.settings.Load();
          const EffectiveSettings e = MakeEffective(v);
          const ControlPositions p = PositionsFor(e, v.NThre, v.SilenceTime);
          EXPECT_TRUE(e.peakThreshold >= 1 && e.oscilloDivisor >= 1 && e.speed >= 0.5F &&
                      e.speed <= 2.2F && e.decay >= 0.0F && e.decay <= 1.0F && e.delay >= 0 &&
                      e.delay <= 300 && e.bpf >= 0 && e.bpf <= kBpfMax && p.speedSlider >= 50 &&
                      p.speedSlider <= 220 && p.decayKnob >= 0 && p.decayKnob <= 100 &&
                      p.delayKnob >= 0 && p.delayKnob <= 100);
          if (taken) {  // speech and silence: records, plays, draws, filters, echoes
            testing::Rig rig;
            rig.settings.Store(v);
            rig.settings.EchoGuard = run.settings.EchoGuard.load();
            rig.settings.PreRoll = run.settings.PreRoll.load();
            rig.engine.ApplySettings();
            for (int b = 0; b < 96; ++b) {  // and speech over its own playback
              rig.Blocks(b < 8 || (b > 60 && b < 64) ? int16_t(b % 2 == 0 ? 12000 : -3000)
                                                     : int16_t{0});
            }
          }
          run.presets.SaveSettingsAtShutdown();
          if (taken && (i >= 10 || run.app.NumSettings < 1)) {
            EXPECT_EQ(Stored(store, path, kNames[i]), Le(pattern));
          }
        }
      }
    }
  }
}

// Device names: only a terminated string of at most 255 bytes is taken; a run leaves any as it was.
TEST(DeviceNames, OnlyBoundedTerminatedStringsAreTakenAndARunWritesNone) {
  const auto text = [](const std::string& t) { return Bytes(t.begin(), t.end()); };
  const std::string x255(255, 'x');
  const struct {
    uint32_t type;
    Bytes bytes;
    std::string taken;
  } cases[] = {{kStoredTypeString, text(std::string("USB Mic\0", 8)), "USB Mic"},
               {kStoredTypeString, text(std::string("\0", 1)), ""},
               {kStoredTypeString, text(x255 + '\0'), x255},
               {kStoredTypeString, text(std::string("ab\0cd\0", 6)), "ab"},
               {kStoredTypeString, text(x255 + 'x' + '\0'), ""},  // too long
               {kStoredTypeString, text("USB Mic"), ""},          // no terminator
               {kStoredTypeString, Bytes(64 * 1024, 'x'), ""},
               {kStoredTypeString, {}, ""},
               {2, text(std::string("USB Mic\0", 8)), ""},  // expandable
               {7, text(std::string("USB Mic\0\0", 9)), ""},
               {kStoredTypeBinary, text(std::string("USB\0", 4)), ""},
               {kStoredTypeDword, Le(0x00425355), ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " size " << c.bytes.size());
    MemorySettingsStore store;
    store.SetValue(kProduct, "InDevice", c.type, c.bytes);
    EXPECT_EQ(LoadDeviceName(store, kCaptureDeviceValue), c.taken);
    std::string got;
    EXPECT_EQ(store.OpenForReading(kProductKey)->GetString("InDevice", got),
              !c.taken.empty() || c.bytes == text(std::string("\0", 1)));
    EXPECT_EQ(LoadDeviceName(store, kPlaybackDeviceValue), "");
    Session run(store);
    run.presets.LoadSettingsAtStartup();
    run.presets.SaveSettingsAtShutdown();
    const auto kept = store.GetValue(kProduct, "InDevice");
    EXPECT_TRUE(kept && kept->type == c.type && kept->bytes == c.bytes);
    EXPECT_FALSE(store.GetValue(kProduct, "OutDevice"));
  }
}

TEST(DeviceNames, AChoiceIsStoredAsATerminatedStringOrNotAtAll) {
  MemorySettingsStore store;
  for (const std::string& name :
       {std::string("Mic & Line"), std::string(), std::string(255, 'y')}) {
    ASSERT_TRUE(SaveDeviceName(store, kPlaybackDeviceValue, name));
    const Bytes want = [&] {
      Bytes b(name.begin(), name.end());
      b.push_back(0);
      return b;
    }();
    EXPECT_EQ(Stored(store, kProduct, "OutDevice"), want);
    EXPECT_EQ(store.GetValue(kProduct, "OutDevice")->type, kStoredTypeString);
    EXPECT_EQ(LoadDeviceName(store, kPlaybackDeviceValue), name);
  }
  EXPECT_FALSE(SaveDeviceName(store, kPlaybackDeviceValue, std::string(256, 'z')));
  EXPECT_FALSE(SaveDeviceName(store, kPlaybackDeviceValue, std::string("a\0b", 3)));
  store.SetWritable(false);
  EXPECT_FALSE(SaveDeviceName(store, kPlaybackDeviceValue, "Mic"));
  EXPECT_EQ(LoadDeviceName(store, kPlaybackDeviceValue), std::string(255, 'y'));
}

// A 32-bit x87 build quietens a signalling NaN: unchanged values keep their stored bytes.
TEST(Presets, SpeedsRoundTripAndUnchangedStoredBytesSurvive) {
  for (int32_t p = 50; p <= 220; ++p) {
    MemorySettingsStore store;
    Session saver(store);
    saver.settings.Speed = float(p) * 0.01F;
    ASSERT_TRUE(saver.presets.SavePreset("def_settings"));
    Session loader(store);
    ASSERT_TRUE(loader.presets.LoadPreset("def_settings"));
    ASSERT_EQ(U(loader.settings.Speed.load()), U(float(p) * 0.01F)) << p;
  }
  EXPECT_EQ(std::tuple(SpeedToHundredths(-0.125F), SpeedToHundredths(3e7F),
                       SpeedToHundredths(-INFINITY), SpeedToHundredths(NAN)),
            std::tuple(-13, INT32_MAX, INT32_MIN, 0));
  MemorySettingsStore store;
  store.SetValue(kDefault, "Speed", kStoredTypeBinary, Le(INT32_MAX));
  store.SetValue(kDefault, "Decay", kStoredTypeBinary, Le(0x7F812345U));
  Session run(store);
  run.presets.LoadPreset("def_settings");
  run.settings.Echo = 1;
  run.settings.Decay = std::bit_cast<float>(0x7FC12345U);
  run.presets.SavePreset("def_settings");
  EXPECT_EQ(Stored(store, kDefault, "Speed"), Le(INT32_MAX));
  EXPECT_EQ(Stored(store, kDefault, "Decay"), Le(0x7F812345U));
  EXPECT_EQ(Stored(store, kDefault, "Echo"), Le(1));
}

// A first run on an empty store plays with the built-in settings and leaves them stored.
TEST(Presets, AFirstRunStoresTheBuiltInSettings) {
  MemorySettingsStore store;
  Session run(store);
  run.presets.LoadSettingsAtStartup();
  run.presets.SaveSettingsAtShutdown();
  const uint32_t builtIn[] = {100, 40,    0, 150, U(0.4F),  0,        600, 4096,
                              0,   32768, 0, 0,   U(-1234), U(-1234), 1,   0};
  for (size_t i = 0; i < std::size(kNames); ++i) {
    EXPECT_EQ(Stored(store, i < 10 ? kDefault : kProduct, kNames[i]), Le(builtIn[i])) << kNames[i];
  }
}

TEST(Presets, StartupAndShutdownChooseThePresetFromNumAndCurSetting) {
  const struct {
    int32_t num, cur, loadsFrom, savesTo;  // preset index; -1: none
  } cases[] = {{3, 2, 2, 2},    {3, 3, 3, 3}, {3, 4, -1, -1}, {3, 0, -1, -1},
               {3, -1, -1, -1}, {0, 5, 0, 0}, {-1, 1, -1, 0}, {INT32_MIN, -1, -1, 0}};
  const char* names[] = {"def_settings", "set_1", "set_2", "set_3", "set_4"};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "NumSettings " << c.num << " CurSetting " << c.cur);
    MemorySettingsStore store;
    for (int i = 0; i < 5; ++i) {
      store.SetValue(kProduct + "\\" + names[i], "NThre", kStoredTypeBinary, Le(U(i)));
    }
    store.SetValue(kProduct, "NumSettings", kStoredTypeBinary, Le(U(c.num)));
    store.SetValue(kProduct, "CurSetting", kStoredTypeBinary, Le(U(c.cur)));
    Session run(store);
    run.presets.LoadSettingsAtStartup();
    EXPECT_EQ(run.settings.NThre.load(),
              c.loadsFrom < 0 ? DefaultEngineSettings.NThre : c.loadsFrom);
    run.settings.Bpf = 4321;
    run.presets.SaveSettingsAtShutdown();
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(Stored(store, kProduct + "\\" + names[i], "Bpf") == Le(4321), i == c.savesTo) << i;
    }
  }
}

// The menu's presets: a new one is the next number, made current at once; a switch keeps the
// current one's changes; no stored count reaches past set_9 or wraps.
TEST(Presets, SaveAsNewAndSwitchKeepTheWorkingCopyModelWithinOneToNine) {
  MemorySettingsStore store;
  Session run(store);
  run.presets.LoadSettingsAtStartup();
  run.settings.Speed = 0.7F;
  ASSERT_EQ(run.presets.SaveAsNewPreset(), 1);
  run.settings.Speed = 1.5F;
  ASSERT_EQ(run.presets.SaveAsNewPreset(), 2);
  for (int n = 1; n <= 2; ++n) {
    const std::string set = kProduct + "\\set_" + std::to_string(n);
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(Stored(store, set, kNames[i]).size(), 4U) << set << " " << kNames[i];
    }
  }
  EXPECT_EQ(Stored(store, kProduct, "NumSettings"), Le(2));
  EXPECT_EQ(Stored(store, kProduct, "CurSetting"), Le(2)) << "written at once";
  run.settings.Speed = 2.0F;  // changed on preset 2, then preset 1
  const int calls = run.controls.calls;
  ASSERT_TRUE(run.presets.SwitchToPreset(1));
  EXPECT_EQ(run.settings.Speed.load(), HundredthsToSpeed(70));
  EXPECT_GT(run.controls.calls, calls) << "the controls follow";
  EXPECT_EQ(Stored(store, kProduct + "\\set_2", "Speed"), Le(200));
  EXPECT_EQ(Stored(store, kProduct, "CurSetting"), Le(1));
  Session next(store);
  next.presets.LoadSettingsAtStartup();
  EXPECT_EQ(next.settings.Speed.load(), HundredthsToSpeed(70)) << "the next start";

  const struct {
    int32_t num, cur, switchTo;
    bool switches;
    int32_t made;  // by Save as new preset; 0: none
  } cases[] = {{-1, 1, 1, false, 0},       {0, 0, 1, false, 1},        {8, 8, 8, true, 9},
               {9, 9, 9, true, 0},         {9, 3, 10, false, 0},       {12, 12, 9, true, 0},
               {INT32_MAX, 2, 9, true, 0}, {INT32_MIN, 1, 1, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "NumSettings " << c.num << " CurSetting " << c.cur);
    MemorySettingsStore hostile;
    Session h(hostile);
    h.app.NumSettings = c.num;
    h.app.CurSetting = c.cur;
    EXPECT_EQ(h.presets.SwitchToPreset(c.switchTo), c.switches);
    EXPECT_EQ(h.presets.SaveAsNewPreset(), c.made);
    for (int n : {0, 10, 12, -1}) {
      EXPECT_FALSE(hostile.HasKey(kProduct + "\\set_" + std::to_string(n))) << n;
    }
  }
}

// A voice sets its six effect fields, every one it does not name to Plain's, never a level.
TEST(Voices, EachSetsTheSixEffectFieldsAndNeverTheLevels) {
  const EngineSettingsValues levels{5000, 23, 900, 1.7F, 1, 33, 0.9F, 3000, 1, 777};
  const std::array<EngineSettingsValues, 7> want{{
      {5000, 23, 900, 2.0F, 0, 150, 0.4F, 0, 0, 777},
      {5000, 23, 900, 0.6F, 0, 150, 0.4F, 0, 0, 777},
      {5000, 23, 900, 1.0F, 0, 150, 0.4F, 1520, 0, 777},
      {5000, 23, 900, 1.0F, 1, 150, 0.6F, 0, 0, 777},
      {5000, 23, 900, 1.0F, 1, 6, 0.8F, 0, 0, 777},
      {5000, 23, 900, 1.0F, 0, 150, 0.4F, 0, 1, 777},
      {5000, 23, 900, 1.0F, 0, 150, 0.4F, 0, 0, 777},
  }};
  for (size_t v = 0; v < kVoices.size(); ++v) {
    EngineSettings s(levels);
    ApplyVoice(kVoices[v], s);
    EXPECT_EQ(s.Load(), want[v]) << kVoices[v].statusName;
  }
}

// Loading creates no key, numbers outside 1..NumSettings touch nothing.
TEST(Presets, NothingIsWrittenWithoutCauseAndFailuresAreReported) {
  MemorySettingsStore store;
  Session run(store);
  run.presets.LoadSettingsAtStartup();
  run.app.NumSettings = 2;
  for (const int32_t n : {0, 3, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_FALSE(run.presets.SaveNumberedPreset(n) || run.presets.LoadNumberedPreset(n)) << n;
  }
  EXPECT_EQ(store.KeyCount(), 0U);
  EXPECT_TRUE(run.presets.LoadNumberedPreset(2)) << "an absent preset loads as nothing";
  EXPECT_FALSE(run.presets.LoadPreset(nullptr) || run.presets.SavePreset(nullptr));
  store.SetWritable(false);
  EXPECT_FALSE(run.presets.SaveAppSettings() || run.presets.SavePreset("def_settings") ||
               run.presets.SaveNumberedPreset(1));
  run.presets.SaveSettingsAtShutdown();
  EXPECT_EQ(store.KeyCount(), 0U);
  // Key and value names match whatever the case of their letters, as in the registry.
  store.SetValue(kProduct + "\\AZ", "SPEED", kStoredTypeBinary, Le(150));
  EXPECT_TRUE(run.presets.LoadPreset("az"));
  EXPECT_EQ(run.settings.Speed.load(), 1.5F);
}

}  // namespace
}  // namespace mimicore
