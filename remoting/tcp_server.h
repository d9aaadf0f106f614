// TROTCPServer: the TCP server transport. One listening socket; the server's threads wait in
// accept() themselves, and the thread that accepts a connection serves it: the OnConnect hook,
// then frames are read, handed to DispatchRequest and the response frames written back. With
// KeepAlive off (the default) a connection carries one request and one response, unless a service
// asked to keep it (IROTransport::KeepConnection).
//
// Threads: kAcceptingThreads wait in accept() while the server is active, so a connection meets a
// thread that is already running and nothing is handed from one thread to another. When the last
// waiting thread takes a connection it starts another first, so there is no limit on the
// connections served at once (each has its thread, as long as it lasts); a thread that finishes
// its connection while kAcceptingThreads others wait ends, so the count returns to
// kAcceptingThreads when the connections do.
//
// Thread safety: configure (port, settings, hook, dispatchers) while inactive. SetActive() is
// called from one control thread. The hook and dispatch run on connection threads, several at
// once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/socket.h"
#include "remoting/frame_format.h"
#include "remoting/server.h"
#include "remoting/tcp_connection.h"

namespace vantry {

// Deactivation gave up waiting for connection threads: "Terminate Thread Timeout".
VANTRY_EXCEPTION(ETerminateThreadTimeout, ENetError);

class TROTCPServer : public TROServer {
 public:
  static constexpr int kListenBacklog = 15;
  static constexpr int kShutdownCheckMs = 250;
  static constexpr int kShutdownChecks = 20;  // 5000 ms in all
  // Threads waiting in accept() while active: a burst of small calls from the usual callers finds
  // them ready without a thread being started.
  static constexpr size_t kAcceptingThreads = 16;
  // The stack of each thread. Every call of the service runs within 96 KiB (the end-to-end
  // tests, archives and transfers included, pass with that; copies use 64 KiB buffers on the
  // stack): 512 KiB leaves a wide margin while thousands of connections cost little.
  static constexpr size_t kStackSize = 512 * 1024;

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
  // Threads of the server alive now, accepting or serving (also those that outlived a
  // deactivation).
  size_t ThreadCount() const;

 protected:
  void IntSetActive(bool active) override;
  bool IntGetActive() const override { return active_; }

 private:
  // A connection being served: its link in the server's list, on the stack of its thread, so
  // that listing a connection allocates nothing.
  struct Served {
    TROTCPConnection* connection;
    Served* previous = nullptr;
    Served* next = nullptr;
  };

  // What the server shares with its threads, guarded by `mutex`. The threads hold it too, so
  // that the last one can still release the lock when the server has seen it end.
  struct State {
    std::mutex mutex;
    std::condition_variable changed;  // a thread left accept(), a connection or a thread ended
    bool listening = false;           // threads may wait in accept()
    size_t accepting = 0;             // threads in accept()
    size_t threads = 0;               // threads alive
    Served* served = nullptr;         // connections accepted and not yet ended
    size_t served_count = 0;

    void Add(Served& link);
    void Remove(Served& link);
  };

  void Activate();
  // Throws ETerminateThreadTimeout when connection threads remain after 5000 ms.
  void Deactivate();
  // Starts a thread running AcceptLoop(), counted in State::threads by the caller beforehand;
  // false (and the count taken back) when the system cannot start one.
  bool StartThread();
  void AcceptLoop();
  void Serve(TROTCPConnection& connection);
  void ServeRequests(TROTCPConnection& connection);

  int port_ = kDefaultPort;
  std::string bind_address_ = "0.0.0.0";
  std::atomic<bool> keep_alive_{false};
  std::atomic<bool> disable_nagle_{false};
  std::atomic<bool> active_{false};
  int bound_port_ = 0;

  // Open while active. Changed only while no thread is in accept(), with State::listening false;
  // a thread reads it outside the lock while it counts in State::accepting.
  Socket listener_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace vantry
