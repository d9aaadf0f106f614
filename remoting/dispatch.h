// Message dispatchers: each binds a message format (a template message) to a server and turns
// the bytes of one request into the bytes of its response: metadata, probe and poll answers,
// calls through the class-factory registry and the invoker, and an error message for every
// failure on the way.
//
// Ownership: a dispatcher does not own its template message (the server's owner does); each
// request works on a clone that is released when the request is answered.
// Thread safety: configure before the server is switched on; ProcessMessage() runs on any
// number of connection threads at once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "remoting/binary_stream.h"
#include "remoting/invoker.h"
#include "remoting/message.h"
#include "remoting/transport.h"

namespace vantry {

class TROMessageDispatchers;

// Request sizes that are not messages.
inline constexpr int64_t kMetadataRequestSize = 0;
inline constexpr int64_t kShortMetadataRequestSize = 4;
inline constexpr int64_t kProbeRequestSize = 5;
inline constexpr char kProbeAnswer[] = "PROBEDOK";

// What became of one call (a request that parsed and named an operation), for the operator's
// counters.
struct TROCallRecord {
  std::string_view operation;  // the request's message name as the caller sent it
  std::string_view outcome;    // "ok", or the class name of the error sent back
  double seconds = 0;          // from parsing to the response written
};

class TROMessageDispatcher {
 public:
  TROMessageDispatcher(TROMessageDispatchers& collection, std::string name);
  TROMessageDispatcher(const TROMessageDispatcher&) = delete;
  TROMessageDispatcher& operator=(const TROMessageDispatcher&) = delete;

  const std::string& Name() const { return name_; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  TROMessage* Message() const { return message_; }
  // `message` (not owned; may be null) must outlive its use. Throws EROException
  // "Dispatcher for %s already assigned" (with the message's component name) when another
  // dispatcher of the collection uses it.
  void SetMessage(TROMessage* message);
  // Called on the connection thread after each call is answered; set before the server is
  // switched on. Must not throw.
  std::function<void(const TROCallRecord&)> on_call;

  // Answers the request in `request` (whole payload, position 0) into `response` at its
  // position. A request that parses is taken over by the call's message (`request` is left
  // empty). Every error of the request becomes an error message; returns false then.
  // Throws EROException "Message is NIL" when no message is set.
  bool ProcessMessage(IROTransport& transport, TROBinaryMemoryStream& request,
                      TROBinaryMemoryStream& response, bool serve_contract,
                      TROResponseOptions& options) const;

 private:
  TROMessageDispatchers& collection_;
  std::string name_;
  bool enabled_ = true;
  TROMessage* message_ = nullptr;
};

class TROMessageDispatchers {
 public:
  // `server_class_name` names the server in the refusal of a second dispatcher.
  explicit TROMessageDispatchers(std::string server_class_name);
  TROMessageDispatchers(const TROMessageDispatchers&) = delete;
  TROMessageDispatchers& operator=(const TROMessageDispatchers&) = delete;

  // Adds a dispatcher; the collection owns it. The servers of this runtime take one only: a
  // second is refused with EROException "%s servers only support one dispatcher".
  TROMessageDispatcher& Add(std::string name = "");
  size_t Count() const { return dispatchers_.size(); }
  TROMessageDispatcher& operator[](size_t index) { return *dispatchers_[index]; }
  // The first enabled dispatcher, or nullptr.
  const TROMessageDispatcher* FindEnabled() const;
  // True when a dispatcher other than `except` uses `message`.
  bool UsesMessage(const TROMessage* message, const TROMessageDispatcher* except) const;

 private:
  std::string server_class_name_;
  std::vector<std::unique_ptr<TROMessageDispatcher>> dispatchers_;
};

}  // namespace vantry
