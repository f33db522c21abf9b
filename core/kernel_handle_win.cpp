#include "core/kernel_handle_win.h"

#include <atomic>

namespace mimicore {

namespace {
std::atomic<int32_t> g_live{0};
}  // namespace

int32_t LiveKernelHandles() { return g_live.load(); }

void KernelHandle::Reset(HANDLE handle) {
  if (handle_ != nullptr) {
    CloseHandle(handle_);
    g_live.fetch_sub(1);
  }
  handle_ = handle;
  if (handle_ != nullptr) {
    g_live.fetch_add(1);
  }
}

HANDLE KernelHandle::Release() {
  HANDLE handle = handle_;
  if (handle_ != nullptr) {
    g_live.fetch_sub(1);
  }
  handle_ = nullptr;
  return handle;
}

}  // namespace mimicore
