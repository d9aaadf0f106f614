// Arbitrary bytes from a peer: read as frames by the TCP frame reader and every frame dispatched
// as a request, as a connection thread of the server does; then the whole input dispatched as
// one request. Dispatch must answer everything (never throw) and leave its response rewound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/socket.h"
#include "remoting/class_factory.h"
#include "remoting/dispatch.h"
#include "remoting/message.h"
#include "remoting/server.h"
#include "remoting/service_description.h"
#include "remoting/tcp_connection.h"

namespace vantry {
namespace {

class FuzzServer : public TROServer {
 protected:
  void IntSetActive(bool active) override {}
  bool IntGetActive() const override { return false; }
};

class FuzzTransport : public IROTransport {
 public:
  std::string GetClientAddress() const override { return "127.0.0.1"; }
};

class IEcho {
 public:
  virtual ~IEcho() = default;
};
class TEchoService : public TRORemotable, public IEcho {};

class TEchoService_Invoker : public TROInvoker {
 public:
  TEchoService_Invoker() { PublishHandlers(kHandlers); }

 private:
  static void Invoke_Echo(TRORemotable& instance, IROMessage& message, IROTransport& transport,
                          TROResponseOptions& options) {
    std::string text;
    int64_t number = 0;
    std::unique_ptr<TROBinaryMemoryStream> data;
    message.Read("Text", text);
    message.Read("Number", number);
    message.Read("Data", data);
    InterfaceOf<IEcho>(instance);
    message.InitializeResponseMessage(&transport, "FuzzLibrary", "EchoService", "EchoResponse");
    message.Write("Result", text);
    message.Write("Data", data);
    message.Finalize();
  }
  static constexpr TROHandlerEntry kHandlers[] = {{"Invoke_Echo", &Invoke_Echo}};
};

constexpr char kDocument[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Library Name=\"FuzzLibrary\" />\r\n";

struct Fixture {
  Fixture() {
    server.Dispatchers().Add("ROMessage").SetMessage(&message);
    SetServiceDescription(kDocument);
  }
  TROBinMessage message;
  FuzzServer server;
  FuzzTransport transport;
  TROClassFactory factory{"EchoService", [] { return std::make_shared<TEchoService>(); },
                          [] { return std::make_unique<TEchoService_Invoker>(); }};
  // Cleared and reused for every frame, as a connection thread reuses its request stream. Kept
  // across inputs too: the reader reserves up to a first block (over a megabyte) for a frame
  // announced larger than what arrived, and a fresh block for every input costs a mapping of
  // memory that makes up most of the run time.
  TROBinaryMemoryStream request;
};

void Dispatch(Fixture& fixture, TROBinaryMemoryStream& request) {
  TROBinaryMemoryStream response;
  request.Rewind();
  fixture.server.DispatchRequest(fixture.transport, request, response);
  if (response.Position() != 0) std::abort();
}

}  // namespace
}  // namespace vantry

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantry;
  static Fixture* fixture = new Fixture;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // The frame reader on a real socket: the input is what the peer sends before closing. A local
  // pair instead of a loopback connection: no port search, no handshake and no closed
  // connection left waiting out its time for every input.
  auto [peer, local] = Socket::Pair();
  TROTCPConnection connection(std::move(local));
  bytes = bytes.substr(0, 64 * 1024);  // all of it fits the pair's buffer before it is read
  for (size_t sent = 0; sent < bytes.size();) {
    sent += peer.Send(bytes.data() + sent, bytes.size() - sent);
  }
  peer.ShutdownSend();
  for (int frames = 0; frames < 16; ++frames) {
    fixture->request.Clear();
    try {
      connection.ReadFrame(fixture->request);
    } catch (const ENetError&) {
      break;
    }
    Dispatch(*fixture, fixture->request);
  }

  TROBinaryMemoryStream whole(bytes);
  Dispatch(*fixture, whole);
  return 0;
}
