#include "ui/controls/trackbar_skin_win.h"

#include <commctrl.h>

#include <array>
#include <new>
#include <type_traits>

#include "ui/controls/control_win.h"

namespace mimicore {

namespace {

TrackbarSkin* g_current = nullptr;

// Window messages and window longs carry pointers in integers; this is the
// one place that turns them back.
template <typename T>
T* PointerFrom(LONG_PTR value) {
  return reinterpret_cast<T*>(value);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

std::unique_ptr<TrackbarSkin> TrackbarSkin::Create(HWND window, HBITMAP horizontalThumb,
                                                   HBITMAP verticalThumb, HDC background) {
  // The thumbs are taken at once, so every way out below gives them back.
  // One bitmap cannot be selected into two contexts, so the same handle
  // twice is a failure.
  HBITMAP verticalOwn = verticalThumb != horizontalThumb ? verticalThumb : nullptr;
  std::unique_ptr<TrackbarSkin> skin(new (std::nothrow) TrackbarSkin());
  if (!skin) {
    GdiObject horizontal(horizontalThumb);
    GdiObject vertical(verticalOwn);
    return nullptr;
  }
  skin->horizontalThumb_.Reset(horizontalThumb);
  skin->verticalThumb_.Reset(verticalOwn);
  if (g_current != nullptr || IsWindow(window) == FALSE ||
      GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) {
    return nullptr;
  }
  if (!BitmapSize(skin->horizontalThumb_.Bitmap(), &skin->horizontalSize_) ||
      !BitmapSize(skin->verticalThumb_.Bitmap(), &skin->verticalSize_)) {
    return nullptr;
  }
  {
    WindowDc windowDc;
    if (!windowDc.Take(window) || !skin->horizontalDc_.Create(windowDc.Get()) ||
        !skin->verticalDc_.Create(windowDc.Get())) {
      return nullptr;
    }
  }
  skin->horizontalDc_.Select(skin->horizontalThumb_.Get());
  skin->verticalDc_.Select(skin->verticalThumb_.Get());
  skin->background_ = background;
  skin->window_ = window;

  // Current before the procedure is in place, so the first message the
  // window gets through it finds the skin.
  g_current = skin.get();
  SetLastError(0);
  const LONG_PTR previous =
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
  if (previous == 0 && GetLastError() != 0) {
    skin->window_ = nullptr;
    return nullptr;  // the destructor clears the current pointer
  }
  skin->previous_ = PointerFrom<std::remove_pointer_t<WNDPROC>>(previous);
  return skin;
}

TrackbarSkin::~TrackbarSkin() {
  Uninstall();
  if (g_current == this) {
    g_current = nullptr;
  }
}

void TrackbarSkin::Uninstall() {
  // Only while the skin's procedure is the window's: someone who subclassed
  // on top of it would otherwise be cut out of the chain.
  if (window_ != nullptr && previous_ != nullptr &&
      GetWindowLongPtrA(window_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&Procedure)) {
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
  }
  window_ = nullptr;
}

LRESULT CALLBACK TrackbarSkin::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TrackbarSkin* skin = g_current;
  if (skin == nullptr || skin->window_ == nullptr || window != skin->window_ ||
      skin->previous_ == nullptr) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  return skin->Handle(window, message, wParam, lParam);
}

LRESULT TrackbarSkin::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (CustomDraw(lParam, &result)) {
        return result;
      }
      break;
    }
    case WM_NCDESTROY: {
      // The window's last message: its own procedure gets it, and the skin
      // keeps no handle that could later name another window.
      WNDPROC previous = previous_;
      Uninstall();
      return CallWindowProcA(previous, window, message, wParam, lParam);
    }
    default:
      break;
  }
  return CallWindowProcA(previous_, window, message, wParam, lParam);
}

bool TrackbarSkin::IsOwnTrackbar(HWND child) const {
  // The notification structure is only known to be NMCUSTOMDRAW, and its
  // stages and items only mean trackbar parts, when a trackbar sent it.
  if (child == nullptr || IsWindow(child) == FALSE || GetParent(child) != window_) {
    return false;
  }
  std::array<char, 64> name{};
  return GetClassNameA(child, name.data(), static_cast<int>(name.size())) > 0 &&
         lstrcmpiA(name.data(), TRACKBAR_CLASSA) == 0;
}

bool TrackbarSkin::CustomDraw(LPARAM lParam, LRESULT* result) const {
  const auto* header = PointerFrom<const NMHDR>(lParam);
  if (header == nullptr || header->code != static_cast<UINT>(NM_CUSTOMDRAW) ||
      !IsOwnTrackbar(header->hwndFrom)) {
    return false;
  }
  const auto* draw = PointerFrom<const NMCUSTOMDRAW>(lParam);
  if (draw->dwDrawStage == CDDS_PREPAINT) {
    *result = CDRF_NOTIFYITEMDRAW;  // ask again for each part
    return true;
  }
  if (draw->dwDrawStage != CDDS_ITEMPREPAINT || draw->hdc == nullptr) {
    return false;
  }
  HWND trackbar = header->hwndFrom;
  if (draw->dwItemSpec == TBCD_THUMB) {
    const LONG_PTR style = GetWindowLongPtrA(trackbar, GWL_STYLE);
    const bool vertical = (style & TBS_VERT) != 0;
    const SIZE size = vertical ? verticalSize_ : horizontalSize_;
    // Disabled: ORed over what is there, a lightened thumb.
    const DWORD operation = (style & WS_DISABLED) != 0 ? SRCPAINT : SRCCOPY;
    BitBlt(draw->hdc, draw->rc.left, draw->rc.top, size.cx, size.cy,
           vertical ? verticalDc_.Get() : horizontalDc_.Get(), 0, 0, operation);
    *result = CDRF_SKIPDEFAULT;
    return true;
  }
  if (draw->dwItemSpec == TBCD_CHANNEL && background_ != nullptr) {
    // The skin behind the whole trackbar, in place of its channel.
    RECT area{};
    GetWindowRect(trackbar, &area);
    POINT origin{area.left, area.top};
    ScreenToClient(window_, &origin);
    BitBlt(draw->hdc, 0, 0, area.right - area.left, area.bottom - area.top, background_, origin.x,
           origin.y, SRCCOPY);
    *result = CDRF_SKIPDEFAULT;
    return true;
  }
  return false;  // tick marks and anything unknown: the default look
}

}  // namespace mimicore
