// File channels: text files read line by line, on this machine or on a
// server. A path that names a configured server (//server/rest with a
// "Connect" value in the profile) is opened through the server's "StdIO"
// conversation; any other path with the standard library. The operations
// follow the standard library's streams: a pointer or null, 0 or non-zero,
// and the reason in errno (ENOMEM 12, EINVAL 22, EIO 5, EBADF 9, ENOENT 2,
// or a server's code mapped to errno).
//
// In place of a channel the operations accept the standard streams (see
// standardChannel): reads and closes act on the stream itself.
//
// Remote channels to one server share one pooled connection, whose stream
// carries one request at a time: use such channels from one thread at a
// time.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/diag.h"

namespace volsten {

struct FileChannel;

// Null with errno set when the file cannot be opened.
FileChannel* openChannel(const char* path, const char* mode);

// openChannel that also adds the records of a failed remote open (the
// dispatcher's, the server's, "08001") to report, for callers that show
// more than errno.
FileChannel* openChannelReporting(const char* path, const char* mode, DiagContext* report);

// Opens path with the standard library whatever it looks like, never
// through a server: for files that must be local (the profile).
FileChannel* openLocalChannel(const char* path, const char* mode);

// One line as fgets reads it (at most size - 1 characters), translated
// through the channel's table; null at the end of the file or on failure.
char* readChannelLine(char* buffer, int32_t size, FileChannel* channel);

// 0 on success; 1, or the failing result of the close, otherwise. The
// channel is gone afterwards in every case.
int closeChannel(FileChannel* channel);

// Selects the code table called name for the lines read: a local channel
// loads it (an empty or unknown name leaves no translation, ENOENT); a
// remote one asks the server. 0 on success.
int setChannelTranslation(const char* name, FileChannel* channel);

// stdin, stdout or stderr in the shape the operations take.
FileChannel* standardChannel(std::FILE* stream);

// What the process-wide channel service holds: the dispatcher environment
// of the remote channels (0 when none) and the number of open channels.
struct ChannelServiceState {
  int32_t environment;
  int32_t open;
};
ChannelServiceState channelServiceState();

}  // namespace volsten
