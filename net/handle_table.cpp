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

char* HandleTableCore::slotAt(char* slots, int32_t index) const {
  return slots + static_cast<size_t>(index) * slotSize_;
}

// In-use words are written under the mutex and read without it by
// validate, hence atomic.
std::atomic_ref<int32_t> HandleTableCore::inUseWord(char* slots, int32_t index) const {
  return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(slotAt(slots, index)));
}

// Threads racing through the first attach may each create a mutex; the first
// to publish wins and the others close theirs. Once published the mutex is
// never closed, so no thread can wait on a handle that another one closed.
SysMutex HandleTableCore::tableMutex(DiagContext* diag) {
  SysMutex mutex = mutex_.load(std::memory_order_acquire);
  if (mutex != nullptr) return mutex;
  SysMutex fresh = sysMutexCreate(false);
  if (fresh == nullptr) {
    reportSemaphore(diag);
    return nullptr;
  }
  if (mutex_.compare_exchange_strong(mutex, fresh, std::memory_order_acq_rel)) return fresh;
  sysMutexClose(fresh);
  return mutex;
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

bool HandleTableCore::lock(DiagContext* diag, SysMutex mutex) {
  if (sysMutexLock(mutex)) return true;
  reportSemaphore(diag);
  return false;
}

// A failed unlock is recorded; it does not change the result of the
// operation that locked.
void HandleTableCore::unlock(DiagContext* diag, SysMutex mutex) {
  if (!sysMutexRelease(mutex)) reportSemaphore(diag);
}

bool HandleTableCore::attach(DiagContext* diag) {
  // A failed attach leaves an earlier attachment's slots in place: clearing
  // them would strand the handles of every other user while the count still
  // holds their attachments.
  SysMutex mutex = tableMutex(diag);
  if (mutex == nullptr || !lock(diag, mutex)) return false;
  bool attached = createBlock(diag);
  if (attached) {
    ++*attachCount(block_);
    slots_.store(block_ + kBlockHeader, std::memory_order_release);
  }
  unlock(diag, mutex);
  return attached;
}

bool HandleTableCore::detach(DiagContext* diag) {
  SysMutex mutex = mutex_.load(std::memory_order_acquire);
  if (!isAttached() || mutex == nullptr || !lock(diag, mutex)) return true;
  // Checked again under the lock: another thread's detach may have ended
  // the last attachment meanwhile.
  if (block_ != nullptr && --*attachCount(block_) == 0) {
    // The block is emptied, not freed: a thread may be validating a handle
    // that it read the slots for just before this, and must find a slot
    // not in use rather than freed memory. The next attach reuses it.
    slots_.store(nullptr, std::memory_order_release);
    char* slots = block_ + kBlockHeader;
    for (int32_t i = 0; i < kHandleCount; ++i) {
      inUseWord(slots, i).store(0, std::memory_order_relaxed);
      std::memset(slotAt(slots, i) + recordOffset_, 0, slotSize_ - recordOffset_);
    }
  }
  unlock(diag, mutex);
  return true;
}

bool HandleTableCore::validate(DiagContext* diag, int32_t handle) const {
  char* slots = slots_.load(std::memory_order_acquire);
  if (slots == nullptr) {
    report(diag, kNetCallOrder, nullptr);
    return false;
  }
  if (handle < 1 || handle > kHandleCount) {
    report(diag, kNetInvalidHandle, nullptr);
    return false;
  }
  return inUseWord(slots, handle - 1).load(std::memory_order_acquire) != 0;
}

void* HandleTableCore::recordOf(DiagContext* diag, int32_t handle) const {
  if (!validate(diag, handle)) return nullptr;
  return slotAt(slots_.load(std::memory_order_acquire), handle - 1) + recordOffset_;
}

int32_t HandleTableCore::allocate(DiagContext* diag) { return allocateCopy(diag, nullptr, 0); }

int32_t HandleTableCore::allocateCopy(DiagContext* diag, const void* initial, size_t size) {
  SysMutex mutex = mutex_.load(std::memory_order_acquire);
  if (!isAttached() || mutex == nullptr) {
    report(diag, kNetCallOrder, nullptr);
    return 0;
  }
  if (!lock(diag, mutex)) return 0;
  char* slots = slots_.load(std::memory_order_relaxed);
  int32_t handle = 0;
  for (int32_t i = 0; slots != nullptr && i < kHandleCount; ++i) {
    std::atomic_ref<int32_t> inUse = inUseWord(slots, i);
    if (inUse.load(std::memory_order_relaxed) == 0) {
      // A free slot's record is zero already (release clears it).
      if (initial != nullptr) {
        std::memcpy(slotAt(slots, i) + recordOffset_, initial, size);
      }
      inUse.store(1, std::memory_order_release);
      handle = i + 1;
      break;
    }
  }
  unlock(diag, mutex);
  if (slots == nullptr) {
    report(diag, kNetCallOrder, nullptr);
  } else if (handle == 0) {
    report(diag, kNetNoFreeHandles, nullptr);
  }
  return handle;
}

bool HandleTableCore::visitInUse(DiagContext* diag, Visitor visit, void* user) {
  return visitRange(diag, 1, kHandleCount, visit, user);
}

bool HandleTableCore::visitHandle(DiagContext* diag, int32_t handle, Visitor visit, void* user) {
  if (handle < 1 || handle > kHandleCount) return false;
  return visitRange(diag, handle, handle, visit, user);
}

bool HandleTableCore::visitRange(DiagContext* diag, int32_t first, int32_t last, Visitor visit,
                                 void* user) {
  SysMutex mutex = mutex_.load(std::memory_order_acquire);
  if (!isAttached() || mutex == nullptr || !lock(diag, mutex)) return false;
  char* slots = slots_.load(std::memory_order_relaxed);
  for (int32_t i = first - 1; slots != nullptr && i < last; ++i) {
    if (inUseWord(slots, i).load(std::memory_order_relaxed) != 0) {
      visit(slotAt(slots, i) + recordOffset_, i + 1, user);
    }
  }
  unlock(diag, mutex);
  return slots != nullptr;
}

bool HandleTableCore::release(DiagContext* diag, int32_t handle) {
  if (!validate(diag, handle)) return false;
  SysMutex mutex = mutex_.load(std::memory_order_acquire);
  if (!lock(diag, mutex)) return false;
  // The record is cleared before the slot is marked free, so that the next
  // allocate hands out a zero record.
  char* slots = slots_.load(std::memory_order_relaxed);
  if (slots != nullptr) {
    std::memset(slotAt(slots, handle - 1) + recordOffset_, 0, slotSize_ - recordOffset_);
    inUseWord(slots, handle - 1).store(0, std::memory_order_release);
  }
  unlock(diag, mutex);
  return slots != nullptr;
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
