#include "app/device_choice.h"

#include <algorithm>
#include <utility>

namespace mimicore {

int32_t FindDevice(const std::vector<std::string>& listed, std::string_view name) {
  if (name.empty()) {
    return kDefaultDevice;
  }
  const auto found = std::find(listed.begin(), listed.end(), name);
  return found == listed.end() ? kDefaultDevice : int32_t(found - listed.begin());
}

bool DeviceChoice::Open(const std::vector<std::string>& listed,
                        const std::function<bool(int32_t)>& open) {
  const int32_t id = FindDevice(listed, chosen_);
  chosenListed_ = id != kDefaultDevice;
  if (chosen_.empty()) {
    outcome_ = Outcome::kDefault;
  } else if (!chosenListed_) {
    outcome_ = Outcome::kNotFound;
  } else if (open(id)) {
    outcome_ = Outcome::kChosen;
    return true;
  } else {
    outcome_ = Outcome::kFailed;
  }
  if (open(kDefaultDevice)) {
    return true;
  }
  outcome_ = Outcome::kNone;
  return false;
}

bool DeviceChoice::CameBack(const std::vector<std::string>& listed) {
  if (!FellBack()) {
    return false;
  }
  const bool listedNow = FindDevice(listed, chosen_) != kDefaultDevice;
  const bool back = listedNow && !chosenListed_;
  chosenListed_ = listedNow;
  return back;
}

DeviceList DeviceChoice::MenuList(const std::vector<std::string>& listed) const {
  DeviceList list;
  std::copy_if(listed.begin(), listed.end(), std::back_inserter(list.names),
               [](const std::string& name) { return !name.empty(); });
  if (outcome_ == Outcome::kChosen) {
    list.inUse = chosen_;
  }
  return list;
}

DeviceStatusText DeviceChoice::Status() const {
  const bool capture = kind_ == DeviceKind::kCapture;
  const std::string device = capture ? "MICROPHONE" : "SPEAKER";
  switch (outcome_) {
    case Outcome::kChosen:
      return {device, chosen_.substr(0, kStatusDeviceChars)};
    case Outcome::kDefault:
      return {device, "DEFAULT"};
    case Outcome::kNotFound:
      return {device + " NOT FOUND", "DEFAULT"};
    case Outcome::kFailed:
      return {device + " FAILED", "DEFAULT"};
    case Outcome::kNone:
      break;
  }
  return {capture ? "NO MICROPHONE" : "NO SPEAKER", " "};
}

bool FallbackDeviceStatus(const DeviceChoice& capture, const DeviceChoice& playback,
                          DeviceStatusText& text) {
  if (capture.FellBack() && playback.FellBack()) {
    const bool bothMissing = capture.LastOutcome() == DeviceChoice::Outcome::kNotFound &&
                             playback.LastOutcome() == DeviceChoice::Outcome::kNotFound;
    text = {bothMissing ? "DEVICES NOT FOUND" : "DEVICES FAILED", "DEFAULT"};
    return true;
  }
  for (const DeviceChoice* choice : {&capture, &playback}) {
    if (choice->FellBack()) {
      text = choice->Status();
      return true;
    }
  }
  return false;
}

}  // namespace mimicore
