// Handle tables: every module of the connection layer names its
// environments, listeners and connections by handles 1..500 in a process-wide
// table of its own. The slots are usable while at least one attachment is
// outstanding; the last detach empties them. Their memory and the table's
// mutex, both created by the first attach, are kept for the life of the
// process, so that a lookup racing with the last detach never reads freed
// memory. The mutex serialises attach, detach, allocate and release;
// lookups read without it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "base/diag.h"
#include "sys/mutex.h"

namespace volsten {

constexpr int32_t kHandleCount = 500;

// Record types, the first byte of every record.
constexpr uint8_t HANDLE_ENVIRONMENT = 1;
constexpr uint8_t HANDLE_LISTENER = 2;
constexpr uint8_t HANDLE_CONNECTION = 3;

// The logic every table shares; the record type only sets the slot size.
// Tables live for the whole process (the modules' tables are globals): the
// mutex is never closed, because a thread may still be waiting on it.
class HandleTableCore {
 protected:
  // Bytes of one slot, which holds the in-use word at its start and the
  // record at recordOffset.
  constexpr HandleTableCore(uint32_t slotSize, uint32_t recordOffset)
      : slotSize_(slotSize), recordOffset_(recordOffset) {}

 public:
  HandleTableCore(const HandleTableCore&) = delete;
  HandleTableCore& operator=(const HandleTableCore&) = delete;

  bool attach(DiagContext* diag);
  bool detach(DiagContext* diag);
  bool isAttached() const { return slots_.load(std::memory_order_acquire) != nullptr; }
  bool validate(DiagContext* diag, int32_t handle) const;
  int32_t allocate(DiagContext* diag);
  bool release(DiagContext* diag, int32_t handle);

 protected:
  // Allocates a slot whose record is a copy of initial, written under the
  // mutex before the slot shows as in use: a thread that scans the table
  // never sees the record half filled.
  int32_t allocateCopy(DiagContext* diag, const void* initial, size_t size);
  // Calls visit(record, handle, user) for every slot in use, under the
  // mutex, so that no slot is handed out or cleared meanwhile. visit may
  // release the handle it is given (the mutex is recursive). False when the
  // table is not attached or the mutex fails.
  using Visitor = void (*)(void* record, int32_t handle, void* user);
  bool visitInUse(DiagContext* diag, Visitor visit, void* user);
  // The same for one handle: visit runs only when it is in use.
  bool visitHandle(DiagContext* diag, int32_t handle, Visitor visit, void* user);

 protected:
  // The record of a slot in use, or null (with the validate messages).
  void* recordOf(DiagContext* diag, int32_t handle) const;
  bool hasType(DiagContext* diag, int32_t handle, uint8_t type) const;

 private:
  char* slotAt(char* slots, int32_t index) const;
  std::atomic_ref<int32_t> inUseWord(char* slots, int32_t index) const;
  bool visitRange(DiagContext* diag, int32_t first, int32_t last, Visitor visit, void* user);
  SysMutex tableMutex(DiagContext* diag);
  bool createBlock(DiagContext* diag);
  bool lock(DiagContext* diag, SysMutex mutex);
  void unlock(DiagContext* diag, SysMutex mutex);

  uint32_t slotSize_;
  uint32_t recordOffset_;
  // Published once by the first attach that creates it; never cleared.
  std::atomic<SysMutex> mutex_{nullptr};
  // The attach count, then the slots; allocated once, read and written only
  // under mutex_.
  char* block_ = nullptr;
  // Set exactly while attached; written under mutex_, read by anyone.
  std::atomic<char*> slots_{nullptr};
};

// Record must start with `uint8_t type; uint16_t parent;` and be plain
// bytes: slots are zero-filled when handed out.
template <typename Record>
class HandleTable : public HandleTableCore {
  static_assert(std::is_trivially_copyable_v<Record> && std::is_standard_layout_v<Record>);
  static_assert(offsetof(Record, type) == 0, "the type byte comes first");

  struct Slot {
    alignas(std::atomic_ref<int32_t>::required_alignment) int32_t inUse;
    Record record;
  };

 public:
  constexpr HandleTable() : HandleTableCore(sizeof(Slot), offsetof(Slot, record)) {}

  // The slot's record, or null when the handle names no slot in use.
  Record* lookup(DiagContext* diag, int32_t handle) const {
    return static_cast<Record*>(recordOf(diag, handle));
  }
  // True when the handle is in use and its record has this type.
  bool checkType(DiagContext* diag, int32_t handle, uint8_t type) const {
    return hasType(diag, handle, type);
  }
  // For tables that threads share: see allocateCopy and visitInUse.
  int32_t allocate(DiagContext* diag, const Record& initial) {
    return allocateCopy(diag, &initial, sizeof initial);
  }
  template <typename Visit>
  bool forEachInUse(DiagContext* diag, Visit&& visit) {
    return visitInUse(
        diag,
        [](void* record, int32_t handle, void* user) {
          (*static_cast<Visit*>(user))(static_cast<Record*>(record), handle);
        },
        &visit);
  }
  template <typename Visit>
  bool withRecord(DiagContext* diag, int32_t handle, Visit&& visit) {
    return visitHandle(
        diag, handle,
        [](void* record, int32_t, void* user) {
          (*static_cast<Visit*>(user))(static_cast<Record*>(record));
        },
        &visit);
  }
  using HandleTableCore::allocate;
};

// Releases a connection that a close has ended, when it is a client's (its
// parent is an environment). An accepted one's handle belongs to its
// service thread, which releases it when the handler returns: released
// here, it could be handed to a new connection that the thread would then
// end. Runs under the table's mutex (inside withRecord).
template <typename Record>
void releaseClientConnection(HandleTable<Record>& table, DiagContext* diag, int32_t handle,
                             const Record* record) {
  const Record* parent = table.lookup(nullptr, record->parent);
  if (parent != nullptr && parent->type == HANDLE_ENVIRONMENT) table.release(diag, handle);
}

}  // namespace volsten
