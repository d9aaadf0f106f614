// TROServer: the server base of the remote-call runtime. It owns the Active switch with its
// events, the message dispatchers and the dispatch entry that a transport calls for each request.
// Transports (TROTCPServer) derive from it and supply the start and stop steps.
//
// Thread safety: configure (dispatchers, hooks, ServeContract) before activation only. While
// active, DispatchRequest may be entered by any number of connection threads at once; SetActive
// is called from the owner's control thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "remoting/binary_stream.h"
#include "remoting/transport.h"

namespace vantry {

class TROMessageDispatchers;  // remoting/dispatch.h

class TROServer {
 public:
  // `class_name` names the server type in configuration errors ("TROTCPServer").
  explicit TROServer(std::string class_name = "TROServer");
  TROServer(const TROServer&) = delete;
  TROServer& operator=(const TROServer&) = delete;
  // Derived transports must switch themselves off in their own destructor (SetActive(false)).
  virtual ~TROServer();

  bool Active() const { return IntGetActive(); }
  // Switches the server on or off, running the before/after events on a real change only.
  // Errors of the transport's start or stop step are raised to the caller.
  void SetActive(bool active);

  virtual int GetPort() const { return -1; }
  virtual void SetPort(int /*port*/) {}

  TROMessageDispatchers& Dispatchers() { return *dispatchers_; }

  // The dispatch entry: `request` at position 0 holds the whole request payload, `response` is
  // empty. On return `response` holds the complete response, rewound to 0. Never throws.
  // Returns true when a call, metadata request, probe or poll was answered. Errors of a request
  // are answered with an error message; errors around the dispatcher (no enabled dispatcher,
  // the stream hooks) with their bare text.
  virtual bool DispatchRequest(IROTransport& transport, TROBinaryMemoryStream& request,
                               TROBinaryMemoryStream& response);

  bool serve_contract = true;  // ServeContract
  std::function<void()> on_before_server_activate;
  std::function<void()> on_after_server_activate;
  std::function<void()> on_before_server_deactivate;
  std::function<void()> on_after_server_deactivate;
  std::function<void(TROBinaryMemoryStream&)> on_read_from_stream;
  std::function<void(TROBinaryMemoryStream&)> on_write_to_stream;

 protected:
  // The transport's start and stop steps.
  virtual void IntSetActive(bool active) = 0;
  virtual bool IntGetActive() const = 0;

 private:
  std::unique_ptr<TROMessageDispatchers> dispatchers_;
};

}  // namespace vantry
