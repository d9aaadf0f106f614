#include "remoting/tcp_server.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/event_log.h"
#include "platform/thread.h"
#include "remoting/frame_format.h"

namespace vantry {
namespace {

// What dispatch sees of a TCP connection: the peer's address, and whether a service asked to
// keep the connection. The callbacks of KeepConnection run when the transport goes, that is when
// the connection has been served.
class TROTCPTransport : public IROTransport {
 public:
  explicit TROTCPTransport(const TROTCPConnection& connection) : connection_(connection) {}
  TROTCPTransport(const TROTCPTransport&) = delete;
  TROTCPTransport& operator=(const TROTCPTransport&) = delete;
  ~TROTCPTransport() override {
    for (std::function<void()>& on_end : on_end_) {
      try {
        on_end();
      } catch (...) {
        WriteDebugLog("TCP connection end: " + CurrentExceptionText());
      }
    }
  }
  std::string GetClientAddress() const override { return connection_.PeerAddress(); }
  bool KeepConnection(std::function<void()> on_end) override {
    kept_ = true;
    if (on_end) on_end_.push_back(std::move(on_end));
    return true;
  }
  bool Kept() const { return kept_; }

 private:
  const TROTCPConnection& connection_;
  bool kept_ = false;
  std::vector<std::function<void()>> on_end_;
};

}  // namespace

void TROTCPServer::State::Add(Served& link) {
  link.next = served;
  if (served != nullptr) served->previous = &link;
  served = &link;
  ++served_count;
}

void TROTCPServer::State::Remove(Served& link) {
  (link.previous != nullptr ? link.previous->next : served) = link.next;
  if (link.next != nullptr) link.next->previous = link.previous;
  --served_count;
}

TROTCPServer::TROTCPServer() : TROServer("TROTCPServer") {}

TROTCPServer::~TROTCPServer() {
  try {
    SetActive(false);
  } catch (...) {
    // A destructor must not throw; a thread that outlived the timeout is waited for below.
    WriteDebugLog("TCP server shutdown: " + CurrentExceptionText());
  }
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->changed.wait(lock, [&] { return state_->threads == 0; });
}

int TROTCPServer::GetPort() const { return port_ == 0 && active_ ? bound_port_ : port_; }

size_t TROTCPServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->served_count;
}

size_t TROTCPServer::ThreadCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->threads;
}

void TROTCPServer::IntSetActive(bool active) {
  if (active == active_) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

void TROTCPServer::Activate() {
  Socket listener = Socket::Create();
  // Lets a restarted service bind its port while connections of the old one sit in TIME_WAIT;
  // Linux still refuses a second listener on the same port.
  listener.SetReuseAddress(true);
  listener.SetBufferSizes(kFrameSocketBufferSize);
  listener.Bind(bind_address_, port_);
  listener.Listen(kListenBacklog);
  bound_port_ = listener.LocalPort();
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    listener_ = std::move(listener);
    state_->listening = true;
    state_->threads += kAcceptingThreads;
  }
  size_t started = 0;
  for (size_t i = 0; i < kAcceptingThreads; ++i) started += StartThread() ? 1 : 0;
  active_ = true;
  if (started == 0) {
    // Not one thread to accept with: the server cannot serve.
    Deactivate();
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                            "Cannot start a thread");
  }
}

void TROTCPServer::Deactivate() {
  State& state = *state_;
  std::unique_lock<std::mutex> lock(state.mutex);
  state.listening = false;
  // Wakes every thread in accept(): a shut listening socket accepts nothing more. The socket is
  // closed once they have left it.
  listener_.ShutdownBoth();
  state.changed.wait(lock, [&] { return state.accepting == 0; });
  listener_.Close();
  active_ = false;

  // Shutting a connection down wakes a thread blocked in a read; a thread inside dispatch
  // finishes it and fails when it writes the response.
  for (Served* link = state.served; link != nullptr; link = link->next) link->connection->Abort();
  for (int check = 0; check < kShutdownChecks && state.served != nullptr; ++check) {
    state.changed.wait_for(lock, std::chrono::milliseconds(kShutdownCheckMs),
                           [&] { return state.served == nullptr; });
  }
  if (state.served != nullptr) throw ETerminateThreadTimeout("Terminate Thread Timeout");
}

bool TROTCPServer::StartThread() {
  try {
    StartDetachedThread(
        [this, state = state_] {
          AcceptLoop();
          std::lock_guard<std::mutex> lock(state->mutex);
          --state->threads;
          state->changed.notify_all();
        },
        kStackSize);
    return true;
  } catch (...) {
    // The caller drops the connection it holds and goes on accepting itself.
    WriteDebugLog("TCP server could not start a thread: " + CurrentExceptionText());
    std::lock_guard<std::mutex> lock(state_->mutex);
    --state_->threads;
    state_->changed.notify_all();
    return false;
  }
}

void TROTCPServer::AcceptLoop() {
  State& state = *state_;
  std::unique_lock<std::mutex> lock(state.mutex);
  while (state.listening && state.accepting < kAcceptingThreads) {
    ++state.accepting;
    lock.unlock();
    Socket socket;
    std::string peer_address;
    std::string failure;
    bool accepted = false;
    try {
      socket = listener_.Accept(&peer_address);
      accepted = true;
    } catch (...) {
      // The listening socket was shut (the loop ends below), or this connection failed before
      // it was accepted: it is dropped and accepting goes on.
      failure = CurrentExceptionText();
    }
    lock.lock();
    --state.accepting;
    if (!state.listening) {
      state.changed.notify_all();
      break;  // the socket, if any, closes: the server is going down
    }
    if (!accepted) {
      // The pause keeps a lasting failure (no file descriptors left) from spinning.
      lock.unlock();
      WriteDebugLog("TCP server accept: " + failure);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      lock.lock();
      continue;
    }
    TROTCPConnection connection(std::move(socket), std::move(peer_address));
    Served link{&connection};
    state.Add(link);
    // The last thread waiting in accept() starts the next before it serves; when none can be
    // started, the connection is dropped so that this thread goes on accepting.
    bool start_another = state.accepting == 0;
    if (start_another) ++state.threads;
    lock.unlock();
    if (!start_another || StartThread()) Serve(connection);
    connection.Close();
    lock.lock();
    state.Remove(link);
    state.changed.notify_all();
  }
}

void TROTCPServer::Serve(TROTCPConnection& connection) {
  try {
    if (on_connect) on_connect(connection);
    if (connection.Connected()) ServeRequests(connection);
  } catch (...) {
    // The peer went away, the hook failed or the server is going down: the connection ends,
    // with no caller left to tell.
    WriteDebugLog("TCP connection from " + connection.PeerAddress() + ": " +
                  CurrentExceptionText());
  }
}

void TROTCPServer::ServeRequests(TROTCPConnection& connection) {
  TROBinaryMemoryStream request;
  TROBinaryMemoryStream response;
  TROTCPTransport transport(connection);
  for (;;) {
    if (disable_nagle_) connection.SetNoDelay();
    connection.ReadFrame(request);
    request.Rewind();
    DispatchRequest(transport, request, response);
    connection.WriteFrame(response);
    if (!keep_alive_ && !transport.Kept()) return;
    request.Clear();
    response.Clear();
  }
}

}  // namespace vantry
