// A sound device chosen by its name. Device numbers change between runs and
// whenever devices come and go, so the name is looked up among those the
// platform lists each time the device is opened; a name not listed, or a
// device that will not open, gives way to the platform's default device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/windows/context_menu.h"

namespace mimicore {

// The platform's default device among the device numbers.
inline constexpr int32_t kDefaultDevice = -1;
// The status value is drawn in the large font: about this many characters
// fit across the display.
inline constexpr size_t kStatusDeviceChars = 14;

enum class DeviceKind : uint8_t { kCapture, kPlayback };

struct DeviceStatusText {
  std::string title;
  std::string value;
};

// The number of the first device listed under |name| (the list is by
// device number); kDefaultDevice for an empty name or one not listed.
int32_t FindDevice(const std::vector<std::string>& listed, std::string_view name);

class DeviceChoice {
 public:
  enum class Outcome : uint8_t {
    kDefault,   // none chosen: the default device is in use
    kChosen,    // the chosen device is in use
    kNotFound,  // the chosen device is not listed: the default is in use
    kFailed,    // the chosen device would not open: the default is in use
    kNone,      // not even the default device opened
  };

  explicit DeviceChoice(DeviceKind kind) : kind_(kind) {}

  // Empty: the default device.
  void Choose(std::string name) { chosen_ = std::move(name); }
  [[nodiscard]] const std::string& Chosen() const { return chosen_; }

  // Opens the chosen device among |listed| through |open| (given a device
  // number or kDefaultDevice), or else the default device. False when
  // nothing opened.
  bool Open(const std::vector<std::string>& listed, const std::function<bool(int32_t)>& open);
  [[nodiscard]] Outcome LastOutcome() const { return outcome_; }
  // The default device stands in for the chosen one.
  [[nodiscard]] bool FellBack() const {
    return outcome_ == Outcome::kNotFound || outcome_ == Outcome::kFailed;
  }
  // While the default device stands in: true once the chosen device has
  // appeared in the list since the last Open or call, so it is opened
  // again. A device that was listed but would not open has to go and come
  // back first, so that it is not tried over and over.
  bool CameBack(const std::vector<std::string>& listed);

  // For the menu: the names listed (those the platform could name) and the
  // one in use (empty: the default device).
  [[nodiscard]] DeviceList MenuList(const std::vector<std::string>& listed) const;
  // What the display says about the last Open.
  [[nodiscard]] DeviceStatusText Status() const;

 private:
  DeviceKind kind_;
  std::string chosen_;
  Outcome outcome_ = Outcome::kDefault;
  bool chosenListed_ = false;
};

// What to show when devices were opened without being chosen anew (at
// start-up, or found again after being lost) and a chosen one is not in
// use; false when there is nothing to say.
bool FallbackDeviceStatus(const DeviceChoice& capture, const DeviceChoice& playback,
                          DeviceStatusText& text);

}  // namespace mimicore
