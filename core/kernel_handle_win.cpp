#include "core/kernel_handle_win.h"

#include <atomic>
#include <utility>

namespace mimicore {

namespace {
std::atomic<int32_t> g_live{0};
}  // namespace

int32_t LiveKernelHandles() { return g_live.load(); }

void KernelHandle::Reset(HANDLE handle) {
  if (handle == handle_) {
    return;  // closing it would leave this guard holding a dead handle
  }
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
  if (handle_ != nullptr) {
    g_live.fetch_sub(1);
  }
  return std::exchange(handle_, nullptr);
}

}  // namespace mimicore
