// A real loopback server for the TCP transport's tests: an environment and
// a listener on a free port whose handler answers by the first byte of what
// it receives: 'Q' ends the connection, 'S' stays silent, 'D' answers after
// a pause longer than one second, anything else is echoed.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "base/diag.h"
#include "base/str.h"
#include "net/tcp/tcp_transport.h"
#include "tests/support/diag_reader.h"
#include "tests/support/eventually.h"

namespace volsten::testing {

struct EchoState {
  std::atomic<int> served{0};
  std::atomic<int> running{0};
  std::atomic<Status> lastReceive{STATUS_SUCCESS};
};

inline void echoHandler(int32_t connection, uintptr_t user) {
  auto* state = reinterpret_cast<EchoState*>(user);
  ++state->served;
  ++state->running;
  char buffer[16192];
  for (;;) {
    int32_t n = 0;
    Status status = tcpReceive(nullptr, connection, buffer, sizeof buffer, &n);
    state->lastReceive = status;
    if (status != STATUS_SUCCESS || n <= 0 || buffer[0] == 'Q') break;
    if (buffer[0] == 'S') continue;
    if (buffer[0] == 'D') std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    tcpSend(nullptr, connection, buffer, n);
  }
  --state->running;
}

inline std::string portString(const std::string& text, int32_t port) {
  std::string out = text;
  for (size_t at = out.find("{port}"); at != std::string::npos; at = out.find("{port}")) {
    out.replace(at, 6, std::to_string(port));
  }
  return out;
}

class LoopbackServer : public ::testing::Test {
 protected:
  void SetUp() override {
    diag_ = diagCreate(nullptr);
    environment_ = tcpOpenEnvironment(diag_);
    ASSERT_NE(environment_, 0);
    listener_ = listen("Host=127.0.0.1;Port=0");
    ASSERT_NE(listener_, 0) << messages();
    port_ = tcpListenerPort(diag_, listener_);
    ASSERT_GT(port_, 0);
  }
  void TearDown() override {
    if (environment_ != 0) tcpFreeEnvironment(nullptr, environment_);
    // Every thread gives its holdings back as it ends.
    EXPECT_TRUE(eventually([] { return !tcpHandles().isAttached(); }));
    diagFree(diag_);
  }

  int32_t listen(const std::string& text) {
    return tcpListen(diag_, environment_, text.c_str(), NTS, echoHandler,
                     reinterpret_cast<uintptr_t>(&echo_));
  }
  int32_t connect(const std::string& text) {
    std::string full = portString(text, port_);
    return tcpConnect(diag_, environment_, full.c_str(), NTS);
  }
  // One receive into a fresh buffer: the status, and the bytes placed.
  Status receive(int32_t connection, std::string* bytes, int32_t* count = nullptr) {
    char buffer[16192];
    int32_t n = -7;
    Status status = tcpReceive(diag_, connection, buffer, sizeof buffer, &n);
    if (count != nullptr) *count = n;
    if (bytes != nullptr) bytes->assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    return status;
  }
  std::string messages() { return testing::messagesOf(diag_); }
  // Drops the records, so that the next call starts from a clean context.
  void freshContext() { diagClear(diag_); }

  DiagContext* diag_ = nullptr;
  int32_t environment_ = 0;
  int32_t listener_ = 0;
  int32_t port_ = 0;
  EchoState echo_;
};

}  // namespace volsten::testing
