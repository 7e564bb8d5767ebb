#include "config/code_table.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/str.h"
#include "config/code_table_reader.h"

namespace volsten {
namespace {

// Entries below `registered` are complete and never change again, so a
// lookup of a loaded table reads them without the lock; loads, and lookups
// that miss, take it, so two threads never load into the same entry.
CodeTable registry[kCodeTableCount];
std::atomic<int> registered{0};
std::mutex loadLock;

const CodeTable* findRegistered(const char* name, int from, int to) {
  for (int i = from; i < to; ++i) {
    if (strCompare(name, NTS, registry[i].name, NTS) == 0) return &registry[i];
  }
  return nullptr;
}

const CodeTable* loadLocked(const char* name) {
  int count = registered.load(std::memory_order_relaxed);
  if (count == kCodeTableCount || name == nullptr) return nullptr;
  // A longer name is refused rather than cut into another file's name.
  size_t length = std::strlen(name);
  if (length >= static_cast<size_t>(kCodeTableNameSize)) return nullptr;
  std::FILE* file = std::fopen(name, "r");
  if (file == nullptr) return nullptr;

  CodeTable& entry = registry[count];
  std::memset(entry.name, 0, sizeof entry.name);
  std::memcpy(entry.name, name, length);
  CodeTableReader reader(entry);
  char piece[512];
  while (std::fgets(piece, sizeof piece, file) != nullptr) reader.readPiece(piece);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  // The entry is not counted, and the next load reuses it.
  if (failed) return nullptr;
  reader.finish();
  registered.store(count + 1, std::memory_order_release);
  return &entry;
}

}  // namespace

const CodeTable* getCodeTable(const char* name) {
  if (strTrimmedLength(name, NTS) == 0) return nullptr;
  int seen = registered.load(std::memory_order_acquire);
  if (const CodeTable* table = findRegistered(name, 0, seen)) return table;
  std::lock_guard<std::mutex> hold(loadLock);
  // Another thread may have loaded it since.
  int now = registered.load(std::memory_order_relaxed);
  if (const CodeTable* table = findRegistered(name, seen, now)) return table;
  return loadLocked(name);
}

const CodeTable* loadCodeTable(const char* name) {
  std::lock_guard<std::mutex> hold(loadLock);
  return loadLocked(name);
}

void translateOutbound(const CodeTable* table, const char* text, int32_t count, char* buffer) {
  if (count <= 0) return;
  if (table == nullptr) {
    std::memmove(buffer, text, static_cast<size_t>(count));
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    uint8_t b = static_cast<uint8_t>(text[i]);
    buffer[i] = static_cast<char>(table->outbound[b] != 0 ? table->outbound[b] : b);
  }
}

uint8_t translateInboundByte(const CodeTable* table, uint8_t byte) {
  if (table == nullptr || table->inbound[byte] == 0) return byte;
  return table->inbound[byte];
}

int32_t translateInboundText(const CodeTable* table, const char* text, int32_t length, char* buffer,
                             int32_t size) {
  if (buffer == nullptr || size <= 0) return 0;
  if (table == nullptr) {
    if (text != buffer) {
      strCopy(nullptr, buffer, size, text, length);
      return strTrimmedLength(buffer, NTS);
    }
    // In place nothing changes; a positive length bounds the count, since
    // such a region need not be NUL-terminated.
    int32_t n = strTrimmedLength(text, length);
    return n < size ? n : size - 1;
  }
  int32_t n = strTrimmedLength(text, length);
  if (n == 0) {
    buffer[0] = '\0';
    return 0;
  }
  int32_t i = 0;
  for (; i < n && i < size - 1; ++i) {
    buffer[i] = static_cast<char>(translateInboundByte(table, static_cast<uint8_t>(text[i])));
  }
  if (length == NTS) buffer[i] = '\0';
  return i;
}

void codeTableSeamClear() {
  std::lock_guard<std::mutex> hold(loadLock);
  registered.store(0, std::memory_order_release);
}

}  // namespace volsten
