#include "sys/posix/pipe_registry.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <new>

#include "sys/posix/socket_table.h"

namespace volsten {
namespace {

struct Pipe {
  Pipe* next;
  uint32_t id;
  uint32_t maxInstances;
  uint32_t instances;  // waiting and connected alike, and one being created
  bool published;
  SysSocket listener;
  dev_t device;
  ino_t inode;
  char path[sizeof(sockaddr_un::sun_path)];
};

// Held only for list work, never across a call that may block.
std::mutex registryLock;
Pipe* pipes = nullptr;
uint32_t lastId = 0;

Pipe* byPath(const char* path) {
  for (Pipe* p = pipes; p != nullptr; p = p->next) {
    if (std::strcmp(p->path, path) == 0) return p;
  }
  return nullptr;
}

Pipe* byId(uint32_t id) {
  for (Pipe* p = pipes; p != nullptr; p = p->next) {
    if (p->id == id) return p;
  }
  return nullptr;
}

// An id no pipe of the process has, never 0.
uint32_t freshId() {
  do {
    lastId = lastId >= kPipeIdMax ? 1 : lastId + 1;
  } while (byId(lastId) != nullptr);
  return lastId;
}

void unlinkPipe(Pipe* gone) {
  for (Pipe** link = &pipes; *link != nullptr; link = &(*link)->next) {
    if (*link == gone) {
      *link = gone->next;
      return;
    }
  }
}

// The pipe's end, outside the lock. The file goes first: a client that
// finds it then finds a listener, not a stale file. Another server may have
// taken the path over from a file it found stale; its file is left alone.
void takeDown(Pipe* pipe) {
  if (pipe->published) {
    struct stat now {};
    if (::lstat(pipe->path, &now) == 0 && now.st_dev == pipe->device && now.st_ino == pipe->inode) {
      ::unlink(pipe->path);
    }
    int error;
    socketTableShutAndClose(pipe->listener, &error);
  }
  delete pipe;
}

}  // namespace

bool pipeAddress(const char* name, sockaddr_un* address) {
  if (name == nullptr) return failWith(EINVAL, false);
  size_t length = std::strlen(name);
  if (length == 0) return failWith(ENOENT, false);
  if (length >= sizeof address->sun_path) return failWith(ENAMETOOLONG, false);
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, name, length);
  return true;
}

int pipeWakeSocket() { return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

uint32_t pipeRegistryReserve(const char* path, uint32_t maxInstances) {
  Pipe* pipe = new (std::nothrow) Pipe{};
  if (pipe == nullptr) return failWith(ENOMEM, 0u);
  std::lock_guard<std::mutex> hold(registryLock);
  if (byPath(path) != nullptr) {
    delete pipe;
    return failWith(EADDRINUSE, 0u);
  }
  pipe->id = freshId();
  pipe->maxInstances = maxInstances;
  pipe->instances = 1;
  pipe->listener = kSysInvalidSocket;
  std::strncpy(pipe->path, path, sizeof pipe->path - 1);
  pipe->next = pipes;
  pipes = pipe;
  return pipe->id;
}

void pipeRegistryPublish(uint32_t id, SysSocket listener, dev_t device, ino_t inode) {
  std::lock_guard<std::mutex> hold(registryLock);
  Pipe* pipe = byId(id);
  if (pipe == nullptr) return;
  pipe->listener = listener;
  pipe->device = device;
  pipe->inode = inode;
  pipe->published = true;
}

uint32_t pipeRegistryAddInstance(const char* path) {
  std::lock_guard<std::mutex> hold(registryLock);
  Pipe* pipe = byPath(path);
  if (pipe == nullptr || !pipe->published) return failWith(ENOENT, 0u);
  if (pipe->instances >= pipe->maxInstances) return failWith(EBUSY, 0u);
  ++pipe->instances;
  return pipe->id;
}

SysSocket pipeRegistryListener(uint32_t id) {
  std::lock_guard<std::mutex> hold(registryLock);
  Pipe* pipe = byId(id);
  return pipe != nullptr && pipe->published ? pipe->listener : kSysInvalidSocket;
}

void pipeRegistryDropInstance(uint32_t id) {
  Pipe* gone = nullptr;
  {
    std::lock_guard<std::mutex> hold(registryLock);
    Pipe* pipe = byId(id);
    if (pipe == nullptr || --pipe->instances > 0) return;
    unlinkPipe(pipe);
    gone = pipe;
  }
  int saved = errno;
  takeDown(gone);
  errno = saved;
}

}  // namespace volsten
