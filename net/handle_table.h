// Handle tables: every module of the connection layer names its
// environments, listeners and connections by handles 1..500 in a process-wide
// table of its own. The table exists while at least one attachment is
// outstanding; one mutex per table serialises attach, detach, allocate and
// release, while lookups read without it.
#pragma once

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
class HandleTableCore {
 protected:
  // Bytes of one slot, which holds the in-use word at its start and the
  // record at recordOffset.
  constexpr HandleTableCore(uint32_t slotSize, uint32_t recordOffset)
      : slotSize_(slotSize), recordOffset_(recordOffset) {}

 public:
  bool attach(DiagContext* diag);
  bool detach(DiagContext* diag);
  bool isAttached() const { return slots_ != nullptr; }
  bool validate(DiagContext* diag, int32_t handle) const;
  int32_t allocate(DiagContext* diag);
  bool release(DiagContext* diag, int32_t handle);

 protected:
  // The record of a slot in use, or null (with the validate messages).
  void* recordOf(DiagContext* diag, int32_t handle) const;
  bool hasType(DiagContext* diag, int32_t handle, uint8_t type) const;

 private:
  int32_t* inUseWord(int32_t index) const;
  bool createMutex(DiagContext* diag);
  bool createBlock(DiagContext* diag);
  bool lock(DiagContext* diag);
  bool unlock(DiagContext* diag);

  uint32_t slotSize_;
  uint32_t recordOffset_;
  char* block_ = nullptr;  // attach count, then the slots
  char* slots_ = nullptr;  // set exactly while attached
  SysMutex mutex_ = nullptr;
};

// Record must start with `uint8_t type; uint16_t parent;` and be plain
// bytes: slots are zero-filled when handed out.
template <typename Record>
class HandleTable : public HandleTableCore {
  static_assert(std::is_trivially_copyable_v<Record> && std::is_standard_layout_v<Record>);
  static_assert(offsetof(Record, type) == 0, "the type byte comes first");

  struct Slot {
    int32_t inUse;
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
};

}  // namespace volsten
