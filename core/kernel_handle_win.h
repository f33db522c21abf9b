// Owner of a kernel handle (event, thread, mutex). Like the GDI guards it
// keeps a process-wide count of what it holds: the system's own handle
// counter is not available everywhere, and a long run must be able to show
// that reopening devices gives every handle back.
#pragma once

#include <windows.h>

#include <cstdint>

namespace mimicore {

int32_t LiveKernelHandles();

class KernelHandle {
 public:
  KernelHandle() = default;
  explicit KernelHandle(HANDLE handle) { Reset(handle); }
  ~KernelHandle() { Reset(); }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;

  // Closes what is held and takes |handle| (null holds nothing).
  void Reset(HANDLE handle = nullptr);
  // Gives ownership away without closing: for a handle that must outlive
  // its owner (the system may still signal it).
  HANDLE Release();

  [[nodiscard]] HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace mimicore
