#include "sys/posix/socket_errors.h"

#include <cerrno>

namespace volsten {
namespace {

struct ErrorPair {
  int native;
  int wsa;
};

// EAGAIN and EWOULDBLOCK (and ENOTSUP and EOPNOTSUPP) are one number on
// Linux; listing both keeps the table right where they differ.
constexpr ErrorPair kErrors[] = {
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {ENOTSUP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
    {ENOMEM, 8},
    // Writing to a connection whose peer is gone: Winsock calls that a reset.
    {EPIPE, 10054},
};

thread_local int lastError = 0;

}  // namespace

int wsaErrorFromErrno(int error) {
  for (const ErrorPair& pair : kErrors) {
    if (pair.native == error) return pair.wsa;
  }
  return error;
}

int wsaLastError() { return lastError; }

void wsaSetLastError(int error) { lastError = error; }

int wsaFail(int error) {
  lastError = error;
  return -1;
}

int wsaFailFromErrno() { return wsaFail(wsaErrorFromErrno(errno)); }

}  // namespace volsten
