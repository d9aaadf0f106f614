// Test helpers for the runtime's dispatch and TCP tests (included by *_test.cc only): a small
// service "TestService" with its invoker, a loopback server serving it, raw frame clients, and
// builders and decoders of message bytes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/socket.h"
#include "remoting/class_factory.h"
#include "remoting/dispatch.h"
#include "remoting/message.h"
#include "remoting/serializer.h"
#include "remoting/tcp_connection.h"
#include "remoting/tcp_server.h"

namespace vantry::testing_util {

// A gate that Block calls wait at until the test opens it.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int waiting = 0;

  // The gate opens on the way out and waits until every waiter has left: a dispatch thread that
  // is still waking up must not find the gate's mutex gone.
  ~Gate() {
    std::unique_lock<std::mutex> lock(mutex);
    open = true;
    changed.notify_all();
    changed.wait(lock, [&] { return waiting == 0; });
  }

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex);
    ++waiting;
    changed.notify_all();
    changed.wait(lock, [&] { return open; });
    --waiting;
    changed.notify_all();
  }
  void WaitForWaiter() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return waiting > 0; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    changed.notify_all();
  }
};

class ITestService {
 public:
  virtual ~ITestService() = default;
  virtual std::string Echo(const std::string& text) = 0;
};

class TTestService : public TRORemotable, public ITestService {
 public:
  static inline std::atomic<int> live{0};
  TTestService() { ++live; }
  ~TTestService() override { --live; }
  std::string Echo(const std::string& text) override { return text; }
};

// An implementation object without ITestService.
class TBareService : public TRORemotable {};

class TTestService_Invoker : public TROInvoker {
 public:
  static inline Gate* gate = nullptr;
  static inline std::atomic<int> live_during_write{-1};

  TTestService_Invoker() { PublishHandlers(kHandlers); }

 private:
  static void Invoke_Echo(TRORemotable& instance, IROMessage& message, IROTransport& transport,
                          TROResponseOptions& /*options*/) {
    std::string text;
    message.Read("Text", text);
    std::string result = InterfaceOf<ITestService>(instance).Echo(text);
    message.InitializeResponseMessage(&transport, "TestLibrary", "TestService", "EchoResponse");
    message.Write("Result", result);
    message.Finalize();
  }
  static void Invoke_Fail(TRORemotable& /*instance*/, IROMessage& message, IROTransport& transport,
                          TROResponseOptions& /*options*/) {
    message.InitializeResponseMessage(&transport, "TestLibrary", "TestService", "FailResponse");
    message.Write("Result", std::string("half written"));
    throw EConvertError("'x' is not a valid integer value");
  }
  static void Invoke_Block(TRORemotable& /*instance*/, IROMessage& message, IROTransport& transport,
                           TROResponseOptions& /*options*/) {
    if (gate != nullptr) gate->Wait();
    message.InitializeResponseMessage(&transport, "TestLibrary", "TestService", "BlockResponse");
  }
  static void Invoke_Peer(TRORemotable& /*instance*/, IROMessage& message, IROTransport& transport,
                          TROResponseOptions& /*options*/) {
    message.InitializeResponseMessage(&transport, "TestLibrary", "TestService", "PeerResponse");
    message.Write("Result", transport.GetClientAddress());
  }
  static constexpr TROHandlerEntry kHandlers[] = {
      {"Invoke_Echo", &Invoke_Echo},
      {"Invoke_Fail", &Invoke_Fail},
      {"Invoke_Block", &Invoke_Block},
      {"Invoke_Peer", &Invoke_Peer},
  };
};

class TAbstractInvoker : public TROInvoker {
 public:
  TAbstractInvoker() { SetAbstract(true); }
};

// Registers "TestService" (and helper services) for the lifetime of the object.
struct TestServices {
  std::unique_ptr<TROClassFactory> test = TROClassFactory::Create<TTestService_Invoker>(
      "TestService", [] { return std::make_shared<TTestService>(); });
  std::unique_ptr<TROClassFactory> bare = TROClassFactory::Create<TTestService_Invoker>(
      "BareService", [] { return std::make_shared<TBareService>(); });
  std::unique_ptr<TROClassFactory> none = TROClassFactory::Create<TTestService_Invoker>(
      "NoInstanceService", [] { return std::shared_ptr<TRORemotable>(); });
  std::unique_ptr<TROClassFactory> abstract = TROClassFactory::Create<TAbstractInvoker>(
      "AbstractService", [] { return std::make_shared<TTestService>(); });
};

inline Guid TestClientId() { return *TryStringToGuid("{01020304-0506-0708-090A-0B0C0D0E0F10}"); }

// The bytes of a request message `message_name` of `interface_name` with `client_id`, carrying
// the AnsiString parameters `texts`.
inline std::string RequestBytes(const std::string& interface_name, const std::string& message_name,
                                const std::vector<std::string>& texts = {},
                                const Guid& client_id = TestClientId()) {
  TROBinMessage message;
  message.SetClientID(client_id);
  message.InitializeRequestMessage(nullptr, "TestLibrary", interface_name, message_name);
  for (const std::string& text : texts) message.Write("Text", text);
  TROBinaryMemoryStream stream;
  message.WriteToStream(stream);
  return stream.ToString();
}

// A length-prefixed name or text of a message body.
inline std::string LengthPrefixed(std::string_view text) {
  TROBinaryMemoryStream stream;
  WriteLengthPrefixedString(stream, text);
  return stream.ToString();
}

// The parts of an error message: class name and text (raw, without the client's prefix).
struct ErrorParts {
  std::string class_name;
  std::string text;
};

inline ErrorParts DecodeError(const std::string& bytes) {
  EXPECT_GE(bytes.size(), size_t{kMessageHeaderSize});
  if (bytes.size() < size_t{kMessageHeaderSize}) return {};
  EXPECT_EQ(kMessageTypeException, static_cast<uint8_t>(bytes[kHeaderTypeOffset]));
  TROBinaryMemoryStream body(std::string_view(bytes).substr(kMessageHeaderSize));
  ErrorParts parts;
  parts.class_name = ReadLengthPrefixedString(body);
  parts.text = ReadLengthPrefixedString(body);
  return parts;
}

// A frame: big-endian length, then `payload`.
inline std::string Frame(std::string_view payload) {
  uint32_t n = static_cast<uint32_t>(payload.size());
  std::string frame = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 8), static_cast<char>(n)};
  frame.append(payload);
  return frame;
}

// A server for TestService on 127.0.0.1 and a port of the system's choice.
class LoopbackServer {
 public:
  LoopbackServer() {
    server_.SetBindAddress("127.0.0.1");
    server_.SetPort(0);
    server_.Dispatchers().Add("ROMessage").SetMessage(&message_);
  }
  ~LoopbackServer() { server_.SetActive(false); }

  TROTCPServer& server() { return server_; }
  void Start() { server_.SetActive(true); }
  int Port() { return server_.GetPort(); }

  // A raw client connected to the server.
  Socket Connect() {
    Socket socket = Socket::Create();
    socket.Connect("127.0.0.1", Port());
    return socket;
  }

 private:
  TestServices services_;
  TROBinMessage message_;
  TROTCPServer server_;
};

// Sends `bytes` one byte per send (with no delay, so each goes out as a segment of its own).
inline void SendBytewise(Socket& socket, std::string_view bytes) {
  socket.SetNoDelay(true);
  for (char c : bytes) ASSERT_EQ(1u, socket.Send(&c, 1));
}

inline void SendAll(Socket& socket, std::string_view bytes) {
  while (!bytes.empty()) bytes.remove_prefix(socket.Send(bytes.data(), bytes.size()));
}

// Everything the peer sends until it closes the connection.
inline std::string ReceiveAll(Socket& socket) {
  std::string received;
  char buffer[65536];
  for (;;) {
    size_t n = socket.Receive(buffer, sizeof(buffer));
    if (n == 0) return received;
    received.append(buffer, n);
  }
}

}  // namespace vantry::testing_util
