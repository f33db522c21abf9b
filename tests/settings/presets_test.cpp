#include "settings/presets.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "settings/memory_settings_store.h"

namespace mimicore {
namespace {

const std::string kProduct = "SOFTWARE\\Quorvane\\Mimicore";
const std::string kDefault = kProduct + "\\def_settings";

using Bytes = std::vector<uint8_t>;

Bytes Le(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes Le(int32_t v) { return Le(static_cast<uint32_t>(v)); }
uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

class CountingApplier final : public SettingsApplier {
 public:
  explicit CountingApplier(const EngineSettings& settings) : settings_(settings) {}
  void ApplySettings() override {
    ++calls;
    applied.push_back(settings_.Load());
  }
  int calls = 0;
  std::vector<EngineSettingsValues> applied;

 private:
  const EngineSettings& settings_;
};

// One program run's worth of state over a shared store.
struct Session {
  explicit Session(MemorySettingsStore& store) : presets(settings, app, store, applier) {}
  EngineSettings settings;
  AppSettings app;
  CountingApplier applier{settings};
  Presets presets;
};

constexpr EngineSettingsValues kCustom{5000, 55, 820, 1.37F, 1, 99, 0.63F, 1870, 1, 1024};

void StorePreset(MemorySettingsStore& store, const std::string& path,
                 const EngineSettingsValues& v) {
  store.SetValue(path, "Speed", kStoredTypeBinary, Le(SpeedToHundredths(v.Speed)));
  store.SetValue(path, "NThre", kStoredTypeBinary, Le(v.NThre));
  store.SetValue(path, "Echo", kStoredTypeBinary, Le(v.Echo));
  store.SetValue(path, "Delay", kStoredTypeBinary, Le(v.Delay));
  store.SetValue(path, "Decay", kStoredTypeBinary, Le(Bits(v.Decay)));
  store.SetValue(path, "Bpf", kStoredTypeBinary, Le(v.Bpf));
  store.SetValue(path, "SilenceTime", kStoredTypeBinary, Le(v.SilenceTime));
  store.SetValue(path, "peakThreshold", kStoredTypeBinary, Le(v.peakThreshold));
  store.SetValue(path, "Reverse", kStoredTypeBinary, Le(v.Reverse));
  store.SetValue(path, "oscilloDivisor", kStoredTypeBinary, Le(v.oscilloDivisor));
}

void StoreApp(MemorySettingsStore& store, int32_t num, int32_t cur) {
  store.SetValue(kProduct, "NumSettings", kStoredTypeBinary, Le(num));
  store.SetValue(kProduct, "CurSetting", kStoredTypeBinary, Le(cur));
}

// What one run does to the store, in order: |verb| is "put" or "get".
std::vector<std::string> Journal(const std::string& verb) {
  const std::string open = verb == "put" ? "open-write " : "open-read ";
  std::vector<std::string> j{open + kProduct};
  for (const char* name : {"NumSettings", "CurSetting", "winx", "winy"}) {
    j.push_back(verb + " " + name);
  }
  j.push_back("close " + kProduct);
  j.push_back(open + kDefault);
  for (const char* name : {"Speed", "NThre", "Echo", "Delay", "Decay", "Bpf", "SilenceTime",
                           "peakThreshold", "Reverse", "oscilloDivisor"}) {
    j.push_back(verb + " " + name);
  }
  j.push_back("close " + kDefault);
  return j;
}

Bytes Stored(const MemorySettingsStore& store, const std::string& path, const std::string& name) {
  const auto v = store.GetValue(path, name);
  if (!v) {
    return {};
  }
  EXPECT_EQ(v->type, kStoredTypeBinary) << path << " " << name;
  return v->bytes;
}

TEST(Presets, FirstRunKeepsTheFieldsAndWritesEverythingInOrder) {
  MemorySettingsStore store;
  Session run(store);
  run.app = {3, 2, 40, 50};
  run.settings.Store(kCustom);
  run.presets.LoadSettingsAtStartup();
  EXPECT_EQ(run.settings.Load(), kCustom);
  EXPECT_EQ(run.app.NumSettings, 0) << "no count: the default preset";
  EXPECT_EQ(run.app.CurSetting, 2);
  EXPECT_EQ(run.app.winx, 40);
  EXPECT_EQ(run.app.winy, 50);
  EXPECT_EQ(run.applier.calls, 1);
  EXPECT_EQ(store.Journal(),
            (std::vector<std::string>{"open-read " + kProduct, "open-read " + kDefault}));
  EXPECT_EQ(store.KeyCount(), 0U) << "loading must not create keys";

  run.app.winx = 312;
  run.app.winy = -1234;
  store.ClearJournal();
  run.presets.SaveSettingsAtShutdown();
  EXPECT_EQ(store.Journal(), Journal("put"));
  EXPECT_EQ(Stored(store, kProduct, "winx"), Bytes({0x38, 0x01, 0, 0}));
  EXPECT_EQ(Stored(store, kProduct, "winy"), Bytes({0x2E, 0xFB, 0xFF, 0xFF}));
  EXPECT_EQ(Stored(store, kDefault, "Speed"), Bytes({137, 0, 0, 0}));
  EXPECT_EQ(Stored(store, kDefault, "Decay"), Le(Bits(0.63F)));
}

TEST(Presets, ReadsInTheStoredOrderAndAppliesAfterLoading) {
  MemorySettingsStore store;
  StoreApp(store, 0, 0);
  StorePreset(store, kDefault, kCustom);
  Session run(store);
  run.presets.LoadSettingsAtStartup();

  EXPECT_EQ(store.Journal(), Journal("get"));
  EXPECT_EQ(run.settings.Load(), kCustom);
  ASSERT_EQ(run.applier.calls, 1);
  EXPECT_EQ(run.applier.applied[0], kCustom);
  EXPECT_EQ(run.app.winx, -1234) << "a missing value keeps its field";
}

TEST(Presets, EverySliderSpeedRoundTripsBitForBit) {
  for (int32_t p = 50; p <= 220; ++p) {
    MemorySettingsStore store;
    Session saver(store);
    const float slider = static_cast<float>(p) * 0.01F;  // what the speed slider sets
    saver.settings.Speed = slider;
    ASSERT_TRUE(saver.presets.SavePreset("def_settings"));
    ASSERT_EQ(Stored(store, kDefault, "Speed"), Le(p)) << p;

    Session loader(store);  // a new run: nothing remembered from the save
    loader.settings.Speed = 9.0F;
    ASSERT_TRUE(loader.presets.LoadPreset("def_settings"));
    ASSERT_EQ(loader.applier.calls, 0) << "a plain load does not apply";
    EXPECT_EQ(Bits(loader.settings.Speed.load()), Bits(slider)) << p;
  }
}

TEST(Presets, SpeedHundredthsRoundToNearestAndSaturate) {
  const std::pair<uint32_t, int32_t> cases[] = {
      {Bits(0.7F), 70},         {Bits(0.125F), 13},       {Bits(-0.125F), -13},
      {Bits(1e7F), 1000000000}, {Bits(3e7F), INT32_MAX},  {Bits(-3e7F), INT32_MIN},
      {0x7F800000U, INT32_MAX}, {0xFF800000U, INT32_MIN}, {0x7FC00000U, 0}};
  for (auto [bits, hundredths] : cases) {
    EXPECT_EQ(SpeedToHundredths(std::bit_cast<float>(bits)), hundredths) << std::hex << bits;
  }
}

TEST(Presets, UnchangedHostileValuesWriteBackTheirBytesChangedOnesConvertSafely) {
  MemorySettingsStore store;
  StorePreset(store, kDefault, kCustom);
  store.SetValue(kDefault, "Speed", kStoredTypeBinary, Le(INT32_MAX));
  store.SetValue(kDefault, "Decay", kStoredTypeBinary, Le(0x7F800001U));  // signalling NaN
  Session run(store);
  run.presets.LoadPreset("def_settings");
  run.settings.Echo = 1;  // the user changed something else
  run.presets.SavePreset("def_settings");
  EXPECT_EQ(Stored(store, kDefault, "Speed"), Le(INT32_MAX));
  EXPECT_EQ(Stored(store, kDefault, "Decay"), Le(0x7F800001U));
  EXPECT_EQ(Stored(store, kDefault, "Echo"), Le(1));

  const struct {
    float speed, decay;
    int32_t hundredths;
  } cases[] = {{1.5F, 0.2F, 150},
               {std::bit_cast<float>(0x7FC00000U), std::bit_cast<float>(0x7FC00000U), 0},
               {-1e30F, 0.0F, INT32_MIN}};
  for (const auto& c : cases) {
    run.settings.Speed = c.speed;
    run.settings.Decay = c.decay;
    run.presets.SavePreset("def_settings");
    EXPECT_EQ(Stored(store, kDefault, "Speed"), Le(c.hundredths)) << c.speed;
    EXPECT_EQ(Stored(store, kDefault, "Decay"), Le(Bits(c.decay))) << c.speed;
  }
}

TEST(Presets, SignallingNaNQuietenedInTheFieldStillSavesItsStoredBits) {
  // On a 32-bit x87 build a float passing through a register loses its
  // signalling bit; the stored bytes must survive that.
  MemorySettingsStore store;
  store.SetValue(kDefault, "Decay", kStoredTypeBinary, Le(0x7F812345U));
  Session run(store);
  run.presets.LoadPreset("def_settings");
  run.settings.Decay = std::bit_cast<float>(0x7FC12345U);
  run.presets.SavePreset("def_settings");
  EXPECT_EQ(Stored(store, kDefault, "Decay"), Le(0x7F812345U));
}

struct BranchCase {
  int32_t num;
  int32_t cur;
  const char* loadsFrom;  // null: no preset read
  const char* savesTo;    // null: no preset written
  int applies;
};

TEST(Presets, StartupAndShutdownChooseThePresetFromNumAndCurSetting) {
  const BranchCase cases[] = {
      {3, 2, "set_2", "set_2", 2},         {3, 3, "set_3", "set_3", 2},
      {3, 4, nullptr, nullptr, 1},         {3, 0, nullptr, nullptr, 1},
      {3, -1, nullptr, nullptr, 1},        {0, 5, "def_settings", "def_settings", 1},
      {-1, 1, nullptr, "def_settings", 1}, {INT32_MIN, -1, nullptr, "def_settings", 1},
  };
  for (const BranchCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "NumSettings " << c.num << " CurSetting " << c.cur);
    MemorySettingsStore store;
    StoreApp(store, c.num, c.cur);
    const char* names[] = {"def_settings", "set_1", "set_2", "set_3", "set_4"};
    for (int i = 0; i < 5; ++i) {
      EngineSettingsValues v = kCustom;
      v.NThre = i;
      StorePreset(store, kProduct + "\\" + names[i], v);
    }
    Session run(store);
    run.presets.LoadSettingsAtStartup();
    EXPECT_EQ(run.app.NumSettings, c.num);
    EXPECT_EQ(run.app.CurSetting, c.cur);
    EXPECT_EQ(run.applier.calls, c.applies);
    if (c.loadsFrom != nullptr) {
      const int expectedThre = c.loadsFrom[0] == 'd' ? 0 : c.loadsFrom[4] - '0';
      EXPECT_EQ(run.settings.NThre.load(), expectedThre);
    } else {
      EXPECT_EQ(run.settings.Load(), DefaultEngineSettings);
    }

    run.settings.Bpf = 4321;
    run.presets.SaveSettingsAtShutdown();
    for (const char* name : names) {
      const bool written = c.savesTo != nullptr && std::string(name) == c.savesTo;
      EXPECT_EQ(Stored(store, kProduct + "\\" + name, "Bpf") == Le(4321), written) << name;
    }
    EXPECT_EQ(Stored(store, kProduct, "NumSettings"), Le(c.num));
    EXPECT_EQ(Stored(store, kProduct, "CurSetting"), Le(c.cur));
  }
}

TEST(Presets, NumberedPresetsOutsideOneToNumSettingsTouchNothing) {
  MemorySettingsStore store;
  Session run(store);
  run.app.NumSettings = 2;
  for (const int32_t n : {0, 3, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_FALSE(run.presets.SaveNumberedPreset(n)) << n;
    EXPECT_FALSE(run.presets.LoadNumberedPreset(n)) << n;
  }
  EXPECT_TRUE(store.Journal().empty());
  EXPECT_EQ(run.applier.calls, 0);

  // An absent numbered preset still counts as loaded and is applied.
  EXPECT_TRUE(run.presets.LoadNumberedPreset(2));
  EXPECT_EQ(run.applier.calls, 1);
  EXPECT_TRUE(run.presets.SaveNumberedPreset(2));
  EXPECT_TRUE(store.HasKey(kProduct + "\\set_2"));
}

TEST(Presets, StoreThatRefusesWritesReportsFailureAndWritesNothing) {
  MemorySettingsStore store;
  store.SetWritable(false);
  Session run(store);
  EXPECT_FALSE(run.presets.SaveAppSettings());
  EXPECT_FALSE(run.presets.SavePreset("def_settings"));
  run.app.NumSettings = 1;
  run.app.CurSetting = 1;
  EXPECT_FALSE(run.presets.SaveNumberedPreset(1));
  run.presets.SaveSettingsAtShutdown();
  EXPECT_EQ(store.KeyCount(), 0U);
}

}  // namespace
}  // namespace mimicore
