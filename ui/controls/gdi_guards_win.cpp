#include "ui/controls/gdi_guards_win.h"

#include <atomic>

namespace mimicore {

namespace {
std::atomic<int32_t> g_objects{0};
std::atomic<int32_t> g_memoryDcs{0};
std::atomic<int32_t> g_windowDcs{0};
}  // namespace

GdiLiveCounts LiveGdiCounts() { return {g_objects.load(), g_memoryDcs.load(), g_windowDcs.load()}; }

void GdiObject::Reset(HGDIOBJ object) {
  if (object_ != nullptr) {
    DeleteObject(object_);
    g_objects.fetch_sub(1);
  }
  object_ = object;
  if (object_ != nullptr) {
    g_objects.fetch_add(1);
  }
}

HGDIOBJ GdiObject::Release() {
  HGDIOBJ object = object_;
  if (object_ != nullptr) {
    g_objects.fetch_sub(1);
  }
  object_ = nullptr;
  return object;
}

bool MemoryDc::Create(HDC compatibleWith) {
  Reset();
  dc_ = CreateCompatibleDC(compatibleWith);
  if (dc_ != nullptr) {
    g_memoryDcs.fetch_add(1);
  }
  return dc_ != nullptr;
}

void MemoryDc::Select(HGDIOBJ object) {
  if (dc_ == nullptr || object == nullptr) {
    return;
  }
  HGDIOBJ* saved = nullptr;
  switch (GetObjectType(object)) {
    case OBJ_BITMAP:
      saved = &savedBitmap_;
      break;
    case OBJ_PEN:
    case OBJ_EXTPEN:
      saved = &savedPen_;
      break;
    case OBJ_FONT:
      saved = &savedFont_;
      break;
    case OBJ_BRUSH:
      saved = &savedBrush_;
      break;
    default:
      return;
  }
  HGDIOBJ replaced = SelectObject(dc_, object);
  if (*saved == nullptr) {
    *saved = replaced;
  }
}

void MemoryDc::Restore() {
  for (HGDIOBJ* saved : {&savedBitmap_, &savedPen_, &savedFont_, &savedBrush_}) {
    if (*saved != nullptr && dc_ != nullptr) {
      SelectObject(dc_, *saved);
    }
    *saved = nullptr;
  }
}

void MemoryDc::Reset() {
  Restore();
  if (dc_ != nullptr) {
    DeleteDC(dc_);
    g_memoryDcs.fetch_sub(1);
    dc_ = nullptr;
  }
}

bool Surface::Create(HDC compatibleWith, HBITMAP bitmap) {
  Reset();
  bitmap_.Reset(bitmap);
  if (!bitmap_ || !dc_.Create(compatibleWith)) {
    Reset();
    return false;
  }
  dc_.Select(bitmap);
  return true;
}

void Surface::Reset() {
  dc_.Reset();
  bitmap_.Reset();
}

bool WindowDc::Take(HWND window) {
  Reset();
  dc_ = window != nullptr ? GetDC(window) : nullptr;
  if (dc_ != nullptr) {
    window_ = window;
    g_windowDcs.fetch_add(1);
  }
  return dc_ != nullptr;
}

void WindowDc::Reset() {
  if (dc_ != nullptr) {
    ReleaseDC(window_, dc_);
    g_windowDcs.fetch_sub(1);
  }
  dc_ = nullptr;
  window_ = nullptr;
}

ScreenDc::ScreenDc() : dc_(GetDC(nullptr)) {
  if (dc_ != nullptr) {
    g_windowDcs.fetch_add(1);
  }
}

ScreenDc::~ScreenDc() {
  if (dc_ != nullptr) {
    ReleaseDC(nullptr, dc_);
    g_windowDcs.fetch_sub(1);
  }
}

}  // namespace mimicore
