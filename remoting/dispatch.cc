#include "remoting/dispatch.h"

#include <chrono>
#include <new>

#include "platform/identity.h"
#include "remoting/class_factory.h"
#include "remoting/ro_exception.h"
#include "remoting/service_description.h"

namespace vantry {
namespace {

void WriteMetadata(TROBinaryMemoryStream& response, TROResponseOptions& options) {
  options |= kResponsePlainOutput;
  WriteServiceDescription(response);
}

// A call: routes by interface name to the factory's invoker, then writes the response that the
// handler built in `message`.
bool CallOperation(TROMessage& message, IROTransport& transport, TROBinaryMemoryStream& response,
                   TROResponseOptions& options) {
  if (message.GetInterfaceName().empty()) {
    throw EROException("The message does not have an interface name");
  }
  if (message.GetMessageName().empty()) throw EROException("The message does not have a name");
  if (message.GetClientID().IsNull()) message.SetClientID(NewGuid());
  IROClassFactory& factory = LookupClassFactory(message.GetInterfaceName());
  bool result = factory.GetInvoker().InvokeOperation(factory, message, transport, options);
  message.WriteToStream(response);
  return result;
}

// This runtime has no source of server events: every poll finds nothing waiting.
bool AnswerPoll(TROMessage& message, IROTransport& transport, TROBinaryMemoryStream& response) {
  if (message.GetClientID().IsNull()) {
    throw EROServerException("Poll messages may not be sent with empty Client ID.");
  }
  message.Initialize(&transport, "", "", TMessageKind::kPollResponse);
  message.Write("MessageCount", int32_t{0});
  message.Write("MessagesLeft", int32_t{0});
  message.WriteToStream(response);
  return true;
}

// `operation` receives the name of the operation called, once the request has parsed as a call.
bool ProcessRequest(TROMessage& message, IROTransport& transport, TROBinaryMemoryStream& request,
                    TROBinaryMemoryStream& response, bool serve_contract,
                    TROResponseOptions& options, std::string& operation) {
  switch (request.Size()) {
    case kShortMetadataRequestSize:
      if (!serve_contract) {
        throw EROException(Format("Invalid request stream (%d bytes)", request.Size()));
      }
      [[fallthrough]];
    case kMetadataRequestSize:
      WriteMetadata(response, options);
      return true;
    case kProbeRequestSize:
      response.Write(std::string_view(kProbeAnswer));
      return true;
  }
  message.SetAttributes(&transport);
  // The message takes the request's buffer as its body instead of copying it: a request that
  // carries a backup chunk is a megabyte. A request that fails to parse stays where it was.
  auto owned = std::make_unique<TROBinaryMemoryStream>(std::move(request));
  try {
    message.ReadFromStream(owned);
  } catch (...) {
    if (owned) request = std::move(*owned);
    throw;
  }
  switch (message.GetMessageKind()) {
    case TMessageKind::kRequest:
    case TMessageKind::kResponse:
      operation = message.GetMessageName();
      return CallOperation(message, transport, response, options);
    case TMessageKind::kPoll:
      return AnswerPoll(message, transport, response);
    default:
      throw EROServerException(
          Format("Unsupported message type %d.", static_cast<int>(message.GetMessageKind())));
  }
}

// An error of the request as an error message. What a failed call wrote so far is dropped first,
// so no half-written response precedes the error message.
void WriteError(TROMessage& message, IROTransport& transport, TROBinaryMemoryStream& response,
                const Exception& error, TROResponseOptions& options) {
  if (dynamic_cast<const EROSendNoResponse*>(&error) != nullptr) options |= kResponseNoResponse;
  response.Clear();
  message.InitializeExceptionMessage(&transport, "", message.GetInterfaceName(),
                                     message.GetMessageName());
  message.WriteException(response, error);
}

}  // namespace

TROMessageDispatcher::TROMessageDispatcher(TROMessageDispatchers& collection, std::string name)
    : collection_(collection), name_(std::move(name)) {}

void TROMessageDispatcher::SetMessage(TROMessage* message) {
  if (message != nullptr && collection_.UsesMessage(message, this)) {
    throw EROException(Format("Dispatcher for %s already assigned", message->Name()));
  }
  message_ = message;
}

bool TROMessageDispatcher::ProcessMessage(IROTransport& transport, TROBinaryMemoryStream& request,
                                          TROBinaryMemoryStream& response, bool serve_contract,
                                          TROResponseOptions& options) const {
  if (message_ == nullptr) throw EROException("Message is NIL");
  std::shared_ptr<TROMessage> clone = message_->Clone();
  options = 0;
  const auto started = std::chrono::steady_clock::now();
  std::string operation;
  // Only requests that parsed as calls count; probes, metadata and polls do not.
  auto record = [&](std::string_view outcome) {
    if (!on_call || operation.empty()) return;
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    on_call(TROCallRecord{operation, outcome, elapsed.count()});
  };
  try {
    bool result =
        ProcessRequest(*clone, transport, request, response, serve_contract, options, operation);
    record("ok");
    return result;
  } catch (const Exception& error) {
    WriteError(*clone, transport, response, error, options);
    record(error.ClassName());
  } catch (const std::bad_alloc&) {
    WriteError(*clone, transport, response, Exception("Out of memory"), options);
    record("Exception");
  } catch (const std::exception& error) {
    WriteError(*clone, transport, response, Exception(error.what()), options);
    record("Exception");
  }
  return false;
}

TROMessageDispatchers::TROMessageDispatchers(std::string server_class_name)
    : server_class_name_(std::move(server_class_name)) {}

TROMessageDispatcher& TROMessageDispatchers::Add(std::string name) {
  if (!dispatchers_.empty()) {
    throw EROException(Format("%s servers only support one dispatcher", server_class_name_));
  }
  dispatchers_.push_back(std::make_unique<TROMessageDispatcher>(*this, std::move(name)));
  return *dispatchers_.back();
}

const TROMessageDispatcher* TROMessageDispatchers::FindEnabled() const {
  for (const auto& dispatcher : dispatchers_) {
    if (dispatcher->Enabled()) return dispatcher.get();
  }
  return nullptr;
}

bool TROMessageDispatchers::UsesMessage(const TROMessage* message,
                                        const TROMessageDispatcher* except) const {
  for (const auto& dispatcher : dispatchers_) {
    if (dispatcher.get() != except && dispatcher->Message() == message) return true;
  }
  return false;
}

}  // namespace vantry
