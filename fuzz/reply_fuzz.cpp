// Fuzz target for reading replies: the input is the byte stream a server
// sends, handed to the dispatcher by a fake transport in reads of a size
// the first byte chooses. The stream is read as reply status blocks,
// strings of several room sizes, numbers and error codes, in an order the
// input's bytes choose, until it ends. Every stored string must end
// inside its room, records must hold what a record can, and the reading
// must end.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/list.h"
#include "base/str.h"
#include "config/request.h"
#include "net/dispatch/dispatcher.h"

namespace volsten {
namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

struct Stream {
  const uint8_t* data;
  size_t size;
  size_t at;
  size_t chunk;
  bool failAtEnd;  // the stream ends with a transport error, not no data
  bool ended;      // the end has been reported
};
Stream stream;

Status fakeReceive(DiagContext* diag, int32_t, char* buffer, int32_t capacity, int32_t* count) {
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
Status fakeSend(DiagContext* diag, int32_t, const char*, int32_t) { return diagStatus(diag); }
int32_t fakeConnect(DiagContext*, int32_t, const char*, int32_t) { return 7; }
int32_t fakeOpenEnvironment(DiagContext*) { return 5; }
Status fakeClose(DiagContext* diag, int32_t) { return diagStatus(diag); }
const TransportOps kFake = {fakeReceive, fakeSend,  fakeConnect, fakeOpenEnvironment,
                            fakeClose,   fakeClose, fakeClose};

void checkRecords(DiagContext* diag) {
  for (void* p = listMove(diag->records, LIST_FIRST, nullptr); p != nullptr;
       p = listMove(diag->records, LIST_NEXT, nullptr)) {
    auto* record = static_cast<DiagRecord*>(p);
    require(record->severity == SEVERITY_ERROR || record->severity == SEVERITY_WARNING);
    require(std::strlen(record->state) <= 5 && std::strlen(record->message) < 512);
  }
}

void readString(DiagContext* diag, int32_t connection, const CodeTable* table, int32_t size) {
  char room[40];
  std::memset(room, '#', sizeof room);
  getString(diag, connection, table, size > 0 ? room : nullptr, size);
  if (size > 0) require(std::memchr(room, '\0', static_cast<size_t>(size)) != nullptr);
}

}  // namespace
}  // namespace volsten

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace volsten;
  if (size < 2) return 0;
  stream = {data + 2, size - 2, 0, static_cast<size_t>(data[0] % 64) + 1, (data[1] & 1) != 0,
            false};
  bool translated = (data[1] & 2) != 0;
  CodeTable table{};
  for (int b = 0; b < 256; ++b) table.inbound[b] = static_cast<uint8_t>(255 - b);

  for (uint8_t kind = 1; kind <= 3; ++kind) dispatcherSeamSetTransport(kind, &kFake);
  DiagContext* diag = diagCreate(nullptr);
  int32_t environment = openEnvironment(diag, nullptr, 0);
  int32_t connection = connect(diag, environment, "Protocol=TCP", NTS);
  require(connection != 0);
  const CodeTable* codes = translated ? &table : nullptr;
  // Each pass reads at least one byte or meets the end, so the end comes
  // within this many passes.
  for (size_t pass = 0; pass <= size && !stream.ended; ++pass) {
    uint8_t choice = data[pass % size];
    switch (choice % 5) {
      case 0: readReplyStatus(diag, connection, codes, diag); break;
      case 1: readString(diag, connection, codes, choice % 40); break;
      case 2: getNumber(diag, connection, codes); break;
      case 3: getErrorCode(diag, connection); break;
      default: readString(diag, connection, codes, 0); break;
    }
    checkRecords(diag);
    diagClear(diag);
  }
  require(stream.ended);
  disconnect(diag, connection);
  freeEnvironment(diag, environment);
  diagFree(diag);
  for (uint8_t kind = 1; kind <= 3; ++kind) dispatcherSeamSetTransport(kind, nullptr);
  return 0;
}
