// Winsock's select over poll: a set holds socket values rather than bits
// indexed by descriptor, so no descriptor number is too large for it.
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

#include "sys/posix/socket_errors.h"
#include "sys/posix/socket_exports.h"
#include "sys/posix/socket_table.h"

namespace volsten {
namespace {

constexpr int kSets = 3;  // read, write, except
constexpr int kMaxWatches = kSets * kSysFdSetSize;

// What poll is asked for per set, and what makes a member ready: a socket
// whose peer is gone or that failed is ready to read (the read tells why)
// and to write (likewise).
constexpr short kAsked[kSets] = {POLLIN, POLLOUT, POLLPRI};
constexpr short kReady[kSets] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLERR | POLLHUP, POLLPRI};

// Milliseconds for poll, -1 for none; false for a negative time.
bool pollTimeout(const SysTimeval* timeout, int* milliseconds) {
  if (timeout == nullptr) {
    *milliseconds = -1;
    return true;
  }
  if (timeout->seconds < 0 || timeout->microseconds < 0) return false;
  // Rounded up, so that a short wait is not turned into none.
  int64_t ms = int64_t{timeout->seconds} * 1000 + (int64_t{timeout->microseconds} + 999) / 1000;
  *milliseconds = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
  return true;
}

// Polls until a watch is ready by its set's rules or the time is up; 0 or
// errno. Winsock's select does not fail on signals, so poll is restarted for
// the rest of the time.
int waitReady(pollfd* watches, const short* ready, nfds_t count, int milliseconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    int rc = ::poll(watches, count, milliseconds);
    if (rc < 0 && errno != EINTR) return errno;
    if (rc == 0) return 0;
    if (rc > 0) {
      bool any = false;
      for (nfds_t w = 0; w < count; ++w) {
        if ((watches[w].revents & ready[w]) != 0) {
          any = true;
        } else if (watches[w].revents != 0) {
          // Only events its set does not count (a hang-up on an except
          // member): poll would report them at once again, so stop watching.
          watches[w].fd = -1;
        }
      }
      if (any) return 0;
    }
    if (milliseconds < 0) continue;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    milliseconds = left <= 0 ? 0 : static_cast<int>(left);
  }
}

int SYS_SOCKET_API adapterSelect(int, SysFdSet* read, SysFdSet* write, SysFdSet* except,
                                 const SysTimeval* timeout) {
  SysFdSet* sets[kSets] = {read, write, except};
  uint32_t total = 0;
  for (SysFdSet* set : sets) {
    if (set == nullptr) continue;
    if (set->count > kSysFdSetSize) return wsaFail(kSysWsaEinval);
    total += set->count;
  }
  int milliseconds;
  if (total == 0 || !pollTimeout(timeout, &milliseconds)) return wsaFail(kSysWsaEinval);

  pollfd watches[kMaxWatches];
  short ready[kMaxWatches];
  uint32_t slots[kMaxWatches];
  nfds_t count = 0;
  bool valid = true;
  for (int i = 0; i < kSets && valid; ++i) {
    for (uint32_t m = 0; sets[i] != nullptr && m < sets[i]->count && valid; ++m) {
      int fd;
      valid = socketTableAcquire(sets[i]->sockets[m], &fd, &slots[count]);
      if (valid) {
        ready[count] = kReady[i];
        watches[count++] = pollfd{fd, kAsked[i], 0};
      }
    }
  }
  int error = valid ? waitReady(watches, ready, count, milliseconds) : 0;
  for (nfds_t w = 0; w < count; ++w) socketTableRelease(slots[w]);
  if (!valid) return wsaFail(kSysWsaEnotsock);
  if (error != 0) return wsaFail(wsaErrorFromErrno(error));

  // The watches are in set order, so each set keeps its ready members in
  // place, in their order.
  int found = 0;
  nfds_t w = 0;
  for (int i = 0; i < kSets; ++i) {
    if (sets[i] == nullptr) continue;
    uint32_t kept = 0;
    for (uint32_t m = 0; m < sets[i]->count; ++m, ++w) {
      if ((watches[w].revents & ready[w]) != 0) sets[i]->sockets[kept++] = sets[i]->sockets[m];
    }
    sets[i]->count = kept;
    found += static_cast<int>(kept);
  }
  return found;
}

}  // namespace

std::span<const SocketExport> socketSelectExports() {
  static const SocketExport kExports[] = {{"select", exportAddress(&adapterSelect)}};
  return kExports;
}

}  // namespace volsten
