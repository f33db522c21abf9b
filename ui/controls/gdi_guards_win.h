// Owners of the GDI objects and device contexts the program creates. Each
// guard keeps a process-wide count of what it holds, so a test can prove
// that a start/close cycle gives everything back (the system's own counters
// are not available everywhere).
//
// Release order: an object must not be deleted while it is selected into a
// context. Declare an object before the context it is selected into; the
// context is destroyed first and puts back what each selection replaced.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

namespace mimicore {

struct GdiLiveCounts {
  int32_t objects = 0;    // bitmaps, pens, fonts, regions
  int32_t memoryDcs = 0;  // CreateCompatibleDC
  int32_t windowDcs = 0;  // GetDC
  friend bool operator==(const GdiLiveCounts&, const GdiLiveCounts&) = default;
};
GdiLiveCounts LiveGdiCounts();

// A bitmap, pen, font or region this program created.
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(HGDIOBJ object) { Reset(object); }
  ~GdiObject() { Reset(); }
  // A move hands the object over; the live count stays as it is.
  GdiObject(GdiObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  // Deletes what is held and takes |object| (null holds nothing).
  void Reset(HGDIOBJ object = nullptr);
  // Gives ownership away (SetWindowRgn takes the region it is given).
  HGDIOBJ Release();

  [[nodiscard]] HGDIOBJ Get() const { return object_; }
  [[nodiscard]] HBITMAP Bitmap() const { return static_cast<HBITMAP>(object_); }
  [[nodiscard]] HPEN Pen() const { return static_cast<HPEN>(object_); }
  [[nodiscard]] HFONT Font() const { return static_cast<HFONT>(object_); }
  [[nodiscard]] HRGN Region() const { return static_cast<HRGN>(object_); }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  HGDIOBJ object_ = nullptr;
};

// A memory device context. The first selection of each kind of object
// remembers what it replaced; Restore (and the destructor, before DeleteDC)
// selects those back.
class MemoryDc {
 public:
  MemoryDc() = default;
  ~MemoryDc() { Reset(); }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;

  // CreateCompatibleDC(|compatibleWith|); false when it failed.
  bool Create(HDC compatibleWith);
  // Selects |object| (a bitmap, pen, font or brush) into the context.
  void Select(HGDIOBJ object);
  void Restore();
  void Reset();

  [[nodiscard]] HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ savedBitmap_ = nullptr;
  HGDIOBJ savedPen_ = nullptr;
  HGDIOBJ savedFont_ = nullptr;
  HGDIOBJ savedBrush_ = nullptr;
};

// A memory context with a bitmap of its own selected for its whole life.
class Surface {
 public:
  // Takes |bitmap| (may come from LoadImage or CreateCompatibleBitmap);
  // false, holding nothing, when the bitmap or the context is missing.
  bool Create(HDC compatibleWith, HBITMAP bitmap);
  void Reset();

  [[nodiscard]] HDC Dc() const { return dc_.Get(); }
  [[nodiscard]] HBITMAP Bitmap() const { return bitmap_.Bitmap(); }
  MemoryDc& Context() { return dc_; }
  explicit operator bool() const { return static_cast<bool>(dc_); }

 private:
  GdiObject bitmap_;  // declared first: the context goes first
  MemoryDc dc_;
};

// A window's device context from GetDC, given back with ReleaseDC. With
// CS_OWNDC the context is the window's own for its life; the guard is
// released before the window is destroyed.
class WindowDc {
 public:
  WindowDc() = default;
  ~WindowDc() { Reset(); }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  bool Take(HWND window);
  void Reset();
  [[nodiscard]] HDC Get() const { return dc_; }

 private:
  HWND window_ = nullptr;
  HDC dc_ = nullptr;
};

// The screen's device context (GetDC of no window), for the screen's colour
// depth and screen-compatible bitmaps. Held only for the scope that needs it.
class ScreenDc {
 public:
  ScreenDc();
  ~ScreenDc();
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;

  [[nodiscard]] HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HDC dc_ = nullptr;
};

}  // namespace mimicore
