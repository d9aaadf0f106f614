#include "remoting/tcp_server.h"

#include <chrono>

#include "remoting/frame_format.h"

namespace vantry {
namespace {

// What dispatch sees of a TCP connection: the peer's address.
class TROTCPTransport : public IROTransport {
 public:
  explicit TROTCPTransport(const TROTCPConnection& connection) : connection_(connection) {}
  std::string GetClientAddress() const override { return connection_.PeerAddress(); }

 private:
  const TROTCPConnection& connection_;
};

}  // namespace

TROTCPServer::TROTCPServer() : TROServer("TROTCPServer"), pool_(std::make_unique<WorkerPool>()) {}

TROTCPServer::~TROTCPServer() {
  try {
    SetActive(false);
  } catch (...) {
    // A thread that outlived the timeout is waited for below.
  }
  pool_.reset();
}

int TROTCPServer::GetPort() const { return port_ == 0 && active_ ? bound_port_ : port_; }

size_t TROTCPServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(connections_mutex_);
  return connections_.size();
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
  listener_ = std::move(listener);
  stop_listening_ = false;
  listener_thread_ = std::thread(&TROTCPServer::ListenLoop, this);
  active_ = true;
}

void TROTCPServer::Deactivate() {
  stop_listening_ = true;
  if (listener_thread_.joinable()) listener_thread_.join();
  listener_.Close();
  active_ = false;

  std::unique_lock<std::mutex> lock(connections_mutex_);
  // Shutting a connection down wakes a thread blocked in a read; a thread inside dispatch
  // finishes it and fails when it writes the response.
  for (const auto& connection : connections_) connection->Abort();
  for (int check = 0; check < kShutdownChecks && !connections_.empty(); ++check) {
    connections_changed_.wait_for(lock, std::chrono::milliseconds(kShutdownCheckMs),
                                  [&] { return connections_.empty(); });
  }
  bool remaining = !connections_.empty();
  lock.unlock();
  pool_->EndIdleThreads();
  if (remaining) throw ETerminateThreadTimeout("Terminate Thread Timeout");
}

void TROTCPServer::ListenLoop() {
  while (!stop_listening_) {
    try {
      if (listener_.WaitReadable(kAcceptPollMs)) Accept();
      continue;
    } catch (const ESocketError& error) {
      if (error.Code() == kWsaInterrupted || error.Code() == kWsaNotSocket) return;
    } catch (...) {
    }
    // A failed accept drops that connection only; the listener goes on. The pause keeps a
    // lasting failure (no file descriptors left) from spinning on a readable socket.
    std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptPollMs / 10));
  }
}

void TROTCPServer::Accept() {
  auto connection = std::make_shared<TROTCPConnection>(listener_.Accept());
  {
    std::lock_guard<std::mutex> lock(connections_mutex_);
    connections_.insert(connection);
  }
  try {
    pool_->Run([this, connection] { Serve(connection); });
  } catch (...) {
    Forget(connection);
    throw;
  }
}

void TROTCPServer::Serve(const std::shared_ptr<TROTCPConnection>& connection) {
  try {
    if (on_connect) on_connect(*connection);
    if (connection->Connected()) ServeRequests(*connection);
  } catch (...) {
    // The peer went away, the hook failed or the server is going down: the connection ends;
    // nobody else is told.
  }
  Forget(connection);
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
    if (!keep_alive_) return;
    request.Clear();
    response.Clear();
  }
}

void TROTCPServer::Forget(const std::shared_ptr<TROTCPConnection>& connection) {
  connection->Close();
  std::lock_guard<std::mutex> lock(connections_mutex_);
  connections_.erase(connection);
  connections_changed_.notify_all();
}

}  // namespace vantry
