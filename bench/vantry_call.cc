// vantry-call: makes one remote call of VantryService from the shell, for the benchmark scripts
// in bench/ (the operator's client comes later). Prints the result, if any, on stdout and
// "<class>: <text>" on stderr with exit code 1 when the service answers with an error.
//
//   vantry-call [--host H] [--port P] SendBackup SOURCE TARGET_SERVER TARGET_FILE
//   vantry-call [--host H] [--port P] ArchiveFile FILE
//   vantry-call [--host H] [--port P] MakeSpaceOnDiskForBackup DATABASE DIRECTORY STRATEGY
//   vantry-call [--host H] [--port P] FileExists FILE
//   vantry-call [--host H] [--port P] GetFileSize FILE
//
// With --write-request F nothing is sent: the request message of the call (a frame's payload)
// is written to F, for vantry-load --request-file.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "contract/VantryLibrary_Intf.h"
#include "platform/exception.h"
#include "remoting/message.h"
#include "remoting/remote_service.h"
#include "remoting/tcp_channel.h"

namespace vantry {
namespace {

// Ends a call made only to record its request.
struct RequestWritten {};

// A channel that writes the request message to a file instead of sending it.
class RequestRecorder : public IROTransportChannel {
 public:
  explicit RequestRecorder(std::string path) : path_(std::move(path)) {}
  void Dispatch(IROMessage& message) override {
    TROBinaryMemoryStream request;
    message.WriteToStream(request);
    std::ofstream file(path_, std::ios::binary);
    file << request.View();
    if (!file) throw Exception(Format("Cannot write %s", path_));
    throw RequestWritten{};
  }
  void CheckProperties() const override {}
  std::string GetClientAddress() const override { return ""; }

 private:
  std::string path_;
};

int Call(IVantryService& service, const std::string& operation,
         const std::vector<std::string>& args) {
  auto need = [&](size_t count) {
    if (args.size() != count) {
      throw Exception(Format("%s takes %d arguments", operation, static_cast<int>(count)));
    }
  };
  if (operation == "SendBackup") {
    need(3);
    service.SendBackup(args[0], args[1], args[2]);
  } else if (operation == "ArchiveFile") {
    need(1);
    service.ArchiveFile(args[0]);
  } else if (operation == "MakeSpaceOnDiskForBackup") {
    need(3);
    service.MakeSpaceOnDiskForBackup(args[0], args[1],
                                     static_cast<TVantry_DeleteStrategyType>(std::stoi(args[2])));
  } else if (operation == "FileExists") {
    need(1);
    std::printf("%s\n", service.FileExists(args[0]) ? "true" : "false");
  } else if (operation == "GetFileSize") {
    need(1);
    std::printf("%lld\n", static_cast<long long>(service.GetFileSize(args[0])));
  } else {
    throw Exception(Format("Unknown operation %s", operation));
  }
  return 0;
}

}  // namespace
}  // namespace vantry

int main(int argc, char** argv) {
  CLI::App app{"One remote call of VantryService"};
  std::string host = "127.0.0.1";
  int port = vantry::kDefaultPort;
  std::string operation;
  std::vector<std::string> args;
  std::string write_request;
  app.add_option("--host", host);
  app.add_option("--write-request", write_request, "write the request message here, send nothing");
  app.add_option("--port", port);
  app.add_option("operation", operation)->required();
  app.add_option("args", args);
  CLI11_PARSE(app, argc, argv);

  vantry::VantryLibraryRegistration registration;
  vantry::TROBinMessage message;
  vantry::TROTCPChannel channel;
  channel.SetHost(host);
  channel.SetPort(port);
  vantry::TRORemoteService holder;
  holder.SetMessage(&message);
  vantry::RequestRecorder recorder(write_request);
  holder.SetChannel(write_request.empty() ? static_cast<vantry::IROTransportChannel*>(&channel)
                                          : &recorder);
  try {
    std::shared_ptr<vantry::IVantryService> service =
        holder.GetService<vantry::IVantryService>(vantry::kIVantryServiceGuid);
    return vantry::Call(*service, operation, args);
  } catch (const vantry::RequestWritten&) {
    return 0;
  } catch (const vantry::Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.what());
    return 1;
  }
}
