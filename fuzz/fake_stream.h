// A fake transport for fuzz targets: every transport kind of the dispatcher
// reads the input's bytes, in reads of a chosen size, and ends the stream
// with no data or with a transport error; what is sent is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/require.h"
#include "net/dispatch/dispatcher.h"

namespace volsten {

struct FakeStream {
  const uint8_t* data;
  size_t size;
  size_t at;
  size_t chunk;
  bool failAtEnd;  // the stream ends with a transport error, not no data
  bool ended;      // the end has been reported
};

inline FakeStream& fakeStream() {
  static FakeStream stream;
  return stream;
}

inline Status fakeStreamReceive(DiagContext* diag, int32_t, char* buffer, int32_t capacity,
                                int32_t* count) {
  FakeStream& stream = fakeStream();
  *count = 0;
  if (stream.at == stream.size) {
    stream.ended = true;
    if (stream.failAtEnd) {
      diagAdd(diag, "HY000", 0, SEVERITY_ERROR, "fake: ", "gone", nullptr);
      return transportStatus(diag, STATUS_ERROR);
    }
    diagSetStatus(diag, STATUS_NO_DATA);
    return transportStatus(diag, STATUS_NO_DATA);
  }
  size_t n = stream.size - stream.at;
  if (n > stream.chunk) n = stream.chunk;
  if (n > static_cast<size_t>(capacity)) n = static_cast<size_t>(capacity);
  std::memcpy(buffer, stream.data + stream.at, n);
  stream.at += n;
  *count = static_cast<int32_t>(n);
  return diagStatus(diag);
}
inline Status fakeStreamSend(DiagContext* diag, int32_t, const char*, int32_t) {
  return diagStatus(diag);
}
inline int32_t fakeStreamConnect(DiagContext*, int32_t, const char*, int32_t) { return 7; }
inline int32_t fakeStreamOpenEnvironment(DiagContext*) { return 5; }
inline Status fakeStreamClose(DiagContext* diag, int32_t) { return diagStatus(diag); }

inline constexpr TransportOps kFakeStream = {
    fakeStreamReceive, fakeStreamSend,  fakeStreamConnect, fakeStreamOpenEnvironment,
    fakeStreamClose,   fakeStreamClose, fakeStreamClose};

// Puts the fake under every kind and makes data the stream.
inline FakeStream& fakeStreamStart(const uint8_t* data, size_t size, size_t chunk, bool failAtEnd) {
  for (uint8_t kind = 1; kind <= 3; ++kind) dispatcherSeamSetTransport(kind, &kFakeStream);
  fakeStream() = {data, size, 0, chunk, failAtEnd, false};
  return fakeStream();
}

inline void fakeStreamStop() {
  for (uint8_t kind = 1; kind <= 3; ++kind) dispatcherSeamSetTransport(kind, nullptr);
}

}  // namespace volsten
