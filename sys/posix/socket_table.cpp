#include "sys/posix/socket_table.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace volsten {
namespace {

// A value is (generation << 16) | (slot + 1). With at most 0xFFFE slots the
// low half is 1 to 0xFFFE: never 0 and never all bits set, whatever the
// generation, on 32 bits as on 64.
constexpr uint32_t kMaxSlots = 0xFFFE;
constexpr uint32_t kFirstCapacity = 64;
constexpr uint32_t kNoSlot = ~uint32_t{0};
constexpr SysSocket kGenerationMask = ~SysSocket{0} >> 16;

struct Entry {
  int fd;
  uint32_t tag;
  bool open;
  int32_t users;
  SysSocket generation;
  uint32_t nextFree;
};

struct Table {
  Entry* entries = nullptr;
  uint32_t capacity = 0;
  uint32_t freeHead = kNoSlot;  // oldest free slot, reused first
  uint32_t freeTail = kNoSlot;
};

std::mutex tableLock;
// Lives as long as the process: a socket may be used from any thread until
// the very end.
Table table;

SysSocket valueOf(uint32_t slot) {
  return (table.entries[slot].generation << 16) | static_cast<SysSocket>(slot + 1);
}

void pushFree(uint32_t slot) {
  table.entries[slot].nextFree = kNoSlot;
  if (table.freeTail == kNoSlot) {
    table.freeHead = slot;
  } else {
    table.entries[table.freeTail].nextFree = slot;
  }
  table.freeTail = slot;
}

bool grow() {
  if (table.capacity >= kMaxSlots) return false;
  uint32_t capacity = table.capacity == 0 ? kFirstCapacity : table.capacity * 2;
  if (capacity > kMaxSlots) capacity = kMaxSlots;
  void* grown = std::realloc(table.entries, capacity * sizeof(Entry));
  if (grown == nullptr) return false;
  table.entries = static_cast<Entry*>(grown);
  for (uint32_t slot = table.capacity; slot < capacity; ++slot) {
    table.entries[slot] = Entry{-1, 0, false, 0, 1, kNoSlot};
    pushFree(slot);
  }
  table.capacity = capacity;
  return true;
}

// The slot of an open socket's value, or kNoSlot.
uint32_t openSlot(SysSocket s) {
  SysSocket low = s & 0xFFFF;
  if (low == 0 || low > table.capacity) return kNoSlot;
  uint32_t slot = static_cast<uint32_t>(low - 1);
  const Entry& e = table.entries[slot];
  return e.open && valueOf(slot) == s ? slot : kNoSlot;
}

// Retires the slot: its next socket gets a new generation, so old values no
// longer name it. Returns the descriptor to close.
int retire(uint32_t slot) {
  Entry& e = table.entries[slot];
  int fd = e.fd;
  e.fd = -1;
  e.generation = (e.generation + 1) & kGenerationMask;
  if (e.generation == 0) e.generation = 1;
  pushFree(slot);
  return fd;
}

}  // namespace

SysSocket socketTableAdd(int fd, uint32_t tag) {
  std::lock_guard<std::mutex> hold(tableLock);
  if (table.freeHead == kNoSlot && !grow()) return kSysInvalidSocket;
  uint32_t slot = table.freeHead;
  Entry& e = table.entries[slot];
  table.freeHead = e.nextFree;
  if (table.freeHead == kNoSlot) table.freeTail = kNoSlot;
  e.fd = fd;
  e.tag = tag;
  e.open = true;
  e.users = 0;
  e.nextFree = kNoSlot;
  return valueOf(slot);
}

bool socketTableAcquire(SysSocket s, int* fd, uint32_t* slot, uint32_t* tag) {
  std::lock_guard<std::mutex> hold(tableLock);
  uint32_t found = openSlot(s);
  if (found == kNoSlot) return false;
  ++table.entries[found].users;
  *fd = table.entries[found].fd;
  *slot = found;
  if (tag != nullptr) *tag = table.entries[found].tag;
  return true;
}

int socketTableRelease(uint32_t slot) {
  int fd = -1;
  {
    std::lock_guard<std::mutex> hold(tableLock);
    Entry& e = table.entries[slot];
    if (--e.users > 0 || e.open) return 0;
    fd = retire(slot);
  }
  // Outside the lock: with SO_LINGER set a close may block for a minute and
  // must not stall the calls on every other socket.
  int saved = errno;
  int error = ::close(fd) != 0 && errno != EINTR ? errno : 0;
  errno = saved;
  return error;
}

bool socketTableRetag(uint32_t slot, uint32_t* tag, uint32_t newTag, int fd) {
  std::lock_guard<std::mutex> hold(tableLock);
  Entry& e = table.entries[slot];
  if (!e.open || e.tag != *tag) {
    *tag = e.open ? e.tag : 0;
    return false;
  }
  // Under the lock, so that a close's shutdown reaches the new socket. No
  // caller replaces a socket that lingers, so dup3's close of it is quick.
  if (fd >= 0 && ::dup3(fd, e.fd, O_CLOEXEC) < 0) return false;
  e.tag = newTag;
  return true;
}

bool socketTableClose(SysSocket s, int* fd, uint32_t* slot, bool* othersUsing, uint32_t* tag) {
  std::lock_guard<std::mutex> hold(tableLock);
  uint32_t found = openSlot(s);
  if (found == kNoSlot) return false;
  Entry& e = table.entries[found];
  e.open = false;
  *othersUsing = e.users > 0;
  ++e.users;
  *fd = e.fd;
  *slot = found;
  if (tag != nullptr) *tag = e.tag;
  return true;
}

bool socketTableShutAndClose(SysSocket s, int* closeError, uint32_t* tag) {
  int fd;
  uint32_t slot;
  bool othersUsing;
  if (!socketTableClose(s, &fd, &slot, &othersUsing, tag)) return false;
  // This call holds a use, so fd is still this socket.
  if (othersUsing) ::shutdown(fd, SHUT_RDWR);
  *closeError = socketTableRelease(slot);
  return true;
}

}  // namespace volsten
