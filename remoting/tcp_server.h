// TROTCPServer: the TCP server transport. One listening socket; every accepted connection is
// served by a thread of its own (threads are reused, see remoting/worker_pool.h): the OnConnect
// hook, then frames are read, handed to DispatchRequest and the response frames written back.
// With KeepAlive off (the default) a connection carries one request and one response.
//
// Thread safety: configure (port, settings, hook, dispatchers) while inactive. SetActive() is
// called from one control thread. The hook and dispatch run on connection threads, several at
// once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "remoting/frame_format.h"
#include "remoting/server.h"
#include "remoting/tcp_connection.h"
#include "remoting/worker_pool.h"

namespace vantry {

// Deactivation gave up waiting for connection threads: "Terminate Thread Timeout".
VANTRY_EXCEPTION(ETerminateThreadTimeout, ENetError);

class TROTCPServer : public TROServer {
 public:
  static constexpr int kListenBacklog = 15;
  static constexpr int kAcceptPollMs = 100;
  static constexpr int kShutdownCheckMs = 250;
  static constexpr int kShutdownChecks = 20;  // 5000 ms in all

  TROTCPServer();
  // Switches the server off (errors are dropped) and waits until every connection thread has
  // ended, also one that outlived the deactivation timeout.
  ~TROTCPServer() override;

  // The set port; when it is 0 and the server is active, the port actually bound.
  int GetPort() const override;
  // Takes effect at the next activation.
  void SetPort(int port) override { port_ = port; }

  // The listening address; "0.0.0.0" (all local addresses) unless set otherwise.
  void SetBindAddress(std::string dotted_address) { bind_address_ = std::move(dotted_address); }
  bool KeepAlive() const { return keep_alive_; }
  void SetKeepAlive(bool on) { keep_alive_ = on; }
  bool DisableNagle() const { return disable_nagle_; }
  void SetDisableNagle(bool on) { disable_nagle_ = on; }

  // Called once per accepted connection, in its own thread, before anything is read. Closing
  // the connection in the hook refuses it: the peer sees an orderly close and no byte. An error
  // raised by the hook closes the connection too.
  std::function<void(TROTCPConnection&)> on_connect;

  // Connections accepted and not yet ended.
  size_t ConnectionCount() const;

 protected:
  void IntSetActive(bool active) override;
  bool IntGetActive() const override { return active_; }

 private:
  void Activate();
  // Throws ETerminateThreadTimeout when connection threads remain after 5000 ms.
  void Deactivate();
  void ListenLoop();
  void Accept();
  void Serve(const std::shared_ptr<TROTCPConnection>& connection);
  void ServeRequests(TROTCPConnection& connection);
  void Forget(const std::shared_ptr<TROTCPConnection>& connection);

  int port_ = kDefaultPort;
  std::string bind_address_ = "0.0.0.0";
  std::atomic<bool> keep_alive_{false};
  std::atomic<bool> disable_nagle_{false};
  std::atomic<bool> active_{false};

  Socket listener_;  // open while active
  int bound_port_ = 0;
  std::atomic<bool> stop_listening_{false};
  std::thread listener_thread_;

  mutable std::mutex connections_mutex_;
  std::condition_variable connections_changed_;
  std::set<std::shared_ptr<TROTCPConnection>> connections_;  // GUARDED_BY(connections_mutex_)

  std::unique_ptr<WorkerPool> pool_;  // runs Serve(); destroyed first, waiting for it
};

}  // namespace vantry
