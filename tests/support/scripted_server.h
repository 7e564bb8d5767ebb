// A server for tests of the request layer over a real loopback TCP
// connection, through the dispatcher's own listener: it records every byte
// it receives and answers from a script. Each step's reply is sent (and
// flushed) once the given number of bytes has arrived; a closing step ends
// the connection after its reply. The listener goes with the object, which
// waits for the handlers it started to return; a handler that starts late
// finds its server gone by its number and returns at once.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/str.h"
#include "net/dispatch/dispatcher.h"
#include "net/tcp/tcp_transport.h"
#include "tests/support/eventually.h"

namespace volsten::testing {

// A string or number field as it travels: its bytes and one 0x00.
inline std::string wireField(const std::string& text) { return text + std::string(1, '\0'); }

struct ScriptStep {
  size_t after;  // bytes received in all before the reply is due
  std::string reply;
  bool close = false;
};

// A script built from the conversation's requests and replies in order,
// with the bytes the server is to receive in all.
class Script {
 public:
  Script& then(const std::string& request, const std::string& reply, bool close = false) {
    expected_ += request;
    steps_.push_back({expected_.size(), reply, close});
    return *this;
  }
  const std::vector<ScriptStep>& steps() const { return steps_; }
  const std::string& expected() const { return expected_; }

 private:
  std::vector<ScriptStep> steps_;
  std::string expected_;
};

class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<ScriptStep> script) : script_(std::move(script)) {
    {
      std::lock_guard<std::mutex> hold(registryLock());
      number_ = ++registryCount();
      registry()[number_] = this;
    }
    environment_ = openEnvironment(nullptr, nullptr, 0);
    listener_ =
        listen(nullptr, environment_, "Protocol=TCP;Host=127.0.0.1;Port=0", NTS, serve, number_);
    if (listener_ == 0) return;
    int32_t port =
        tcpListenerPort(nullptr, dispatcherHandles().lookup(nullptr, listener_)->transportHandle);
    // The time-out turns a client that waits for a reply never scripted
    // into a failed read instead of a hung test.
    connection_ = "Protocol=TCP;Host=127.0.0.1;Port=" + std::to_string(port) + ";ReceiveTimeout=20";
  }
  ~ScriptedServer() {
    if (listener_ != 0) closeListener(nullptr, listener_);
    {
      std::lock_guard<std::mutex> hold(registryLock());
      registry().erase(number_);
    }
    eventually([this] {
      std::lock_guard<std::mutex> hold(registryLock());
      return active_ == 0;
    });
    if (environment_ != 0) freeEnvironment(nullptr, environment_);
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  bool listening() const { return listener_ != 0; }
  const std::string& connectionString() const { return connection_; }

  // What the server received, once a connection has ended ("<running>"
  // when none ends in time).
  std::string received() {
    if (!eventually([this] { return ended(); })) return "<running>";
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }

 private:
  static std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
  }
  static std::map<uintptr_t, ScriptedServer*>& registry() {
    static std::map<uintptr_t, ScriptedServer*> servers;
    return servers;
  }
  static uintptr_t& registryCount() {
    static uintptr_t count = 0;
    return count;
  }

  static void serve(int32_t connection, uintptr_t number) {
    ScriptedServer* self = nullptr;
    {
      std::lock_guard<std::mutex> hold(registryLock());
      auto found = registry().find(number);
      if (found == registry().end()) return;
      self = found->second;
      ++self->active_;
    }
    self->converse(connection);
    std::lock_guard<std::mutex> hold(registryLock());
    --self->active_;
  }
  void converse(int32_t connection) {
    size_t next = 0;
    size_t count = 0;
    for (;;) {
      while (next < script_.size() && script_[next].after == count) {
        const ScriptStep& step = script_[next++];
        send(nullptr, connection, step.reply.data(), static_cast<int32_t>(step.reply.size()));
        send(nullptr, connection, nullptr, 0);
        if (step.close) return end();
      }
      char byte = 0;
      if (receive(nullptr, connection, &byte, 1) != STATUS_SUCCESS) return end();
      std::lock_guard<std::mutex> hold(lock_);
      received_ += byte;
      ++count;
    }
  }
  void end() {
    std::lock_guard<std::mutex> hold(lock_);
    ended_ = true;
  }
  bool ended() {
    std::lock_guard<std::mutex> hold(lock_);
    return ended_;
  }

  std::vector<ScriptStep> script_;
  uintptr_t number_ = 0;
  int active_ = 0;  // handlers running, under registryLock()
  int32_t environment_ = 0;
  int32_t listener_ = 0;
  std::string connection_;
  std::mutex lock_;
  std::string received_;
  bool ended_ = false;
};

}  // namespace volsten::testing
