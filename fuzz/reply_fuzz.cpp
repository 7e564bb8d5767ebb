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
#include "fuzz/fake_stream.h"
#include "net/dispatch/dispatcher.h"

namespace volsten {
namespace {

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
  FakeStream& stream = fakeStreamStart(data + 2, size - 2, data[0] % 64 + 1, (data[1] & 1) != 0);
  bool translated = (data[1] & 2) != 0;
  CodeTable table{};
  for (int b = 0; b < 256; ++b) table.inbound[b] = static_cast<uint8_t>(255 - b);

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
  fakeStreamStop();
  return 0;
}
