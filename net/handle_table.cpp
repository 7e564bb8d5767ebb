#include "net/handle_table.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "net/net_messages.h"
#include "sys/error.h"
#include "sys/fault.h"
#include "sys/mutex.h"

namespace volsten {
namespace {

// The attach count sits in front of the slots, padded so that the slots keep
// the strictest alignment a record may need.
constexpr size_t kBlockHeader = alignof(std::max_align_t);

void report(DiagContext* diag, const char* text1, const char* text2) {
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, text1, text2, nullptr);
}

// The system text goes into a 256-byte buffer of which the system may fill
// 255 bytes.
void reportSemaphore(DiagContext* diag) {
  uint32_t code = sysLastError();
  char text[256];
  sysErrorText(code, text, 255);
  report(diag, kNetSemaphoreError, text);
}

int32_t* attachCount(char* block) { return reinterpret_cast<int32_t*>(block); }

}  // namespace

int32_t* HandleTableCore::inUseWord(int32_t index) const {
  return reinterpret_cast<int32_t*>(slots_ + static_cast<size_t>(index) * slotSize_);
}

bool HandleTableCore::createMutex(DiagContext* diag) {
  if (mutex_ != nullptr) return true;
  mutex_ = sysMutexCreate(false);
  if (mutex_ != nullptr) return true;
  reportSemaphore(diag);
  return false;
}

bool HandleTableCore::createBlock(DiagContext* diag) {
  if (block_ != nullptr) return true;
  size_t bytes = kBlockHeader + static_cast<size_t>(kHandleCount) * slotSize_;
  if (!faultShouldFail(FaultPoint::GeneralAlloc))
    block_ = static_cast<char*>(std::calloc(1, bytes));
  if (block_ != nullptr) return true;
  report(diag, kNetSharedMemoryError, kNetNotEnoughMemory);
  return false;
}

bool HandleTableCore::lock(DiagContext* diag) {
  if (sysMutexLock(mutex_)) return true;
  reportSemaphore(diag);
  return false;
}

bool HandleTableCore::unlock(DiagContext* diag) {
  if (mutex_ == nullptr || sysMutexRelease(mutex_)) return true;
  reportSemaphore(diag);
  return false;
}

bool HandleTableCore::attach(DiagContext* diag) {
  // A failed attach leaves an earlier attachment's slots in place: clearing
  // them would strand the handles of every other user while the count still
  // holds their attachments.
  if (!createMutex(diag) || !lock(diag)) return false;
  if (!createBlock(diag)) {
    unlock(diag);
    return false;
  }
  ++*attachCount(block_);
  unlock(diag);
  slots_ = block_ + kBlockHeader;
  return true;
}

bool HandleTableCore::detach(DiagContext* diag) {
  if (!isAttached()) return true;
  if (lock(diag)) {
    if (--*attachCount(block_) == 0) {
      std::free(block_);
      block_ = nullptr;
      // Released before it is closed: a POSIX mutex cannot be destroyed
      // while it is held.
      unlock(diag);
      sysMutexClose(mutex_);
      mutex_ = nullptr;
    } else {
      unlock(diag);
    }
  }
  if (block_ == nullptr) slots_ = nullptr;
  return true;
}

bool HandleTableCore::validate(DiagContext* diag, int32_t handle) const {
  if (!isAttached()) {
    report(diag, kNetCallOrder, nullptr);
    return false;
  }
  if (handle < 1 || handle > kHandleCount) {
    report(diag, kNetInvalidHandle, nullptr);
    return false;
  }
  return *inUseWord(handle - 1) != 0;
}

void* HandleTableCore::recordOf(DiagContext* diag, int32_t handle) const {
  if (!validate(diag, handle)) return nullptr;
  return reinterpret_cast<char*>(inUseWord(handle - 1)) + recordOffset_;
}

int32_t HandleTableCore::allocate(DiagContext* diag) {
  if (!isAttached()) {
    report(diag, kNetCallOrder, nullptr);
    return 0;
  }
  if (!lock(diag)) return 0;
  for (int32_t i = 0; i < kHandleCount; ++i) {
    if (*inUseWord(i) == 0) {
      *inUseWord(i) = 1;
      unlock(diag);
      return i + 1;
    }
  }
  unlock(diag);
  report(diag, kNetNoFreeHandles, nullptr);
  return 0;
}

bool HandleTableCore::release(DiagContext* diag, int32_t handle) {
  if (!validate(diag, handle) || !lock(diag)) return false;
  std::memset(inUseWord(handle - 1), 0, slotSize_);
  unlock(diag);
  return true;
}

bool HandleTableCore::hasType(DiagContext* diag, int32_t handle, uint8_t type) const {
  auto* record = static_cast<const uint8_t*>(recordOf(diag, handle));
  if (record == nullptr) {
    report(diag, kNetInvalidHandle, nullptr);
    return false;
  }
  if (*record == type) return true;
  report(diag, kNetWrongHandleType, nullptr);
  return false;
}

}  // namespace volsten
