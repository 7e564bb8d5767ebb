// The built-in socket library's exports: Winsock's names, each bound to an
// adapter of the shape in sys/socket_api.h. Each adapter file lists its own.
#pragma once

#include <span>

#include "sys/socket_api.h"

namespace volsten {

struct SocketExport {
  const char* name;
  void* address;
};

// An adapter's address as the loader hands it out.
template <typename Function>
void* exportAddress(Function* function) {
  return reinterpret_cast<void*>(function);
}

std::span<const SocketExport> socketCallExports();     // socket_calls.cpp
std::span<const SocketExport> socketIoExports();       // socket_io.cpp
std::span<const SocketExport> socketSelectExports();   // socket_select.cpp
std::span<const SocketExport> socketNameExports();     // socket_names.cpp
std::span<const SocketExport> socketServiceExports();  // socket_services.cpp

// The adapter exported under exactly that name, or null.
void* socketLibraryExport(const char* name);

}  // namespace volsten
