// The right-click menu: the portable model turned into the platform's
// popup menu, and what its items do.
#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <type_traits>

#include "settings/voices.h"
#include "ui/windows/context_menu.h"
#include "ui/windows/skinned_windows_parts_win.h"
#include "ui/windows/skinned_windows_win.h"

namespace mimicore {

namespace {

// Pre-roll is switched between off and this many milliseconds.
constexpr int32_t kMenuPreRollMs = 200;

// A menu handle and, through it, its submenus: destroying the top menu
// destroys the ones inserted into it.
struct MenuDeleter {
  void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using MenuHandle = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;

// Appends |items| to |menu|; false when the platform refuses one.
bool Fill(HMENU menu, const std::vector<MenuEntry>& items) {
  for (const MenuEntry& e : items) {
    if (e.text.empty()) {
      if (AppendMenuA(menu, MF_SEPARATOR, 0, nullptr) == FALSE) {
        return false;
      }
      continue;
    }
    if (!e.items.empty()) {
      MenuHandle sub(CreatePopupMenu());
      if (!sub || !Fill(sub.get(), e.items) ||
          AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub.get()), e.text.c_str()) ==
              FALSE) {
        return false;
      }
      (void)sub.release();  // the top menu owns it now
      continue;
    }
    const UINT flags =
        MF_STRING | (e.checked ? MF_CHECKED : MF_UNCHECKED) | (e.enabled ? MF_ENABLED : MF_GRAYED);
    if (AppendMenuA(menu, flags, e.id, e.text.c_str()) == FALSE) {
      return false;
    }
  }
  return true;
}

bool OursOrChild(HWND window, HWND main, HWND panel) {
  HWND root = window != nullptr ? GetAncestor(window, GA_ROOT) : nullptr;
  return root != nullptr && (root == main || root == panel);
}

}  // namespace

bool SkinnedWindows::TakeMenuKey(const MSG& msg) {
  if (parts_ == nullptr || !OursOrChild(msg.hwnd, MainWindow(), Panel())) {
    return false;
  }
  const bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
  const bool up = msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP;
  if ((!down && !up) || (msg.wParam != VK_F10 && msg.wParam != VK_APPS)) {
    return false;
  }
  const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
  if (down && (msg.wParam == VK_APPS || shift)) {
    OpenMenu(nullptr);
  }
  return true;
}

std::optional<LRESULT> SkinnedWindows::MenuCharChoice(WORD letter, HMENU menu) {
  const int count = menu != nullptr ? GetMenuItemCount(menu) : -1;
  std::array<char, 1> typed{char(letter & 0xFFU)};
  CharUpperBuffA(typed.data(), 1);
  for (int i = 0; i < count; ++i) {
    std::array<char, 64> text{};
    if (GetMenuStringA(menu, UINT(i), text.data(), int(text.size()), MF_BYPOSITION) > 0) {
      CharUpperBuffA(text.data(), 1);
      if (text[0] == typed[0]) {
        return MAKELRESULT(i, MNC_EXECUTE);
      }
    }
  }
  return std::nullopt;
}

bool SkinnedWindows::OnControl(bool isMain, HWND window, POINT at) const {
  ScreenToClient(window, &at);
  return (isMain ? parts_->mainList : parts_->panelList).Covers(at.x, at.y);
}

void SkinnedWindows::OpenMenu(const POINT* at) {
  HWND main = MainWindow();
  if (main == nullptr) {
    return;
  }
  const EngineSettings& s = links_.settings;
  MenuState state;
  state.numSettings = links_.app.NumSettings;
  state.curSetting = links_.app.CurSetting;
  state.reverse = s.Reverse.load() != 0;
  state.echoGuard = s.EchoGuard.load() != 0;
  state.preRoll = s.PreRoll.load() != 0;
  // Listed afresh each time: a device plugged in since shows up.
  state.capture = links_.actions.CaptureDevices();
  state.playback = links_.actions.PlaybackDevices();
  MenuHandle menu(CreatePopupMenu());
  if (!menu || !Fill(menu.get(), BuildContextMenu(state))) {
    return;
  }
  POINT where{};
  if (at != nullptr) {
    where = *at;
  } else {
    // From the keyboard: at the display's top left corner.
    where = POINT{kDisplayArea.left, kDisplayArea.top};
    ClientToScreen(main, &where);
  }
  // The menu closes when the user clicks elsewhere only if its owner is the
  // foreground window, and needs a message after it to close for good.
  SetForegroundWindow(main);
  const auto id = static_cast<uint32_t>(
      TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                     where.x, where.y, 0, main, nullptr));
  PostMessageA(main, WM_NULL, 0, 0);
  menu.reset();
  if (parts_ != nullptr && id != 0) {
    OnMenuChoice(DecodeMenuCommand(id), state);
  }
}

void SkinnedWindows::SwitchPreset(int32_t n) {
  // A preset over a calibration's working values would keep them.
  links_.actions.ResetAutoMode();
  if (links_.actions.SwitchToPreset(n)) {
    DrawThresholdMarker();
    links_.status.ShowStatus("PRESET", "%d", int(n));
  }
}

void SkinnedWindows::OnMenuChoice(const MenuChoice& c, const MenuState& state) {
  EngineSettings& s = links_.settings;
  StatusDisplay& status = links_.status;
  HWND main = MainWindow();
  switch (c.kind) {
    case MenuChoice::kPreset:
      SwitchPreset(c.index);
      break;
    case MenuChoice::kSaveNewPreset: {
      links_.actions.ResetAutoMode();
      if (const int32_t n = links_.actions.SaveAsNewPreset(); n != 0) {
        status.ShowStatus("NEW PRESET", "%d", int(n));
      }
      break;
    }
    case MenuChoice::kVoice: {
      const Voice& voice = kVoices.at(size_t(c.index));
      links_.actions.ResetAutoMode();
      ApplyVoice(voice, s);
      links_.applier.ApplySettings();
      status.ShowStatus("VOICE", "%s", voice.statusName);
      break;
    }
    case MenuChoice::kReverse: {
      const bool on = s.Reverse.load() == 0;
      s.Reverse.store(on ? 1 : 0);
      status.ShowStatus("REVERSE", on ? "ON" : "OFF");
      break;
    }
    case MenuChoice::kEchoGuard: {
      const bool on = s.EchoGuard.load() == 0;
      s.EchoGuard.store(on ? 1 : 0);
      status.ShowStatus("ECHO GUARD", on ? "ON" : "OFF");
      break;
    }
    case MenuChoice::kPreRoll: {
      const bool on = s.PreRoll.load() == 0;
      s.PreRoll.store(on ? kMenuPreRollMs : 0);
      if (on) {
        status.ShowStatus("PRE-ROLL", "%d ms", int(kMenuPreRollMs));
      } else {
        status.ShowStatus("PRE-ROLL", "OFF");
      }
      break;
    }
    case MenuChoice::kCapture:
    case MenuChoice::kPlayback: {
      const DeviceList& list = c.kind == MenuChoice::kCapture ? state.capture : state.playback;
      // The name as listed when the menu opened; 0 is the default device.
      const std::string name = c.index >= 1 && size_t(c.index) <= list.names.size()
                                   ? list.names[size_t(c.index) - 1]
                                   : std::string();
      if (c.kind == MenuChoice::kCapture) {
        links_.actions.ChooseCaptureDevice(name);
      } else {
        links_.actions.ChoosePlaybackDevice(name);
      }
      break;
    }
    case MenuChoice::kSaveTake:
      links_.actions.SaveLastTake(main);
      break;
    case MenuChoice::kManual:
      links_.actions.OpenManual(main);
      break;
    case MenuChoice::kExit:
      Close();
      break;
    case MenuChoice::kNone:
      break;
  }
}

}  // namespace mimicore
