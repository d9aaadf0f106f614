// Messages of the remote-call runtime. `IROMessage` is the interface through which dispatch, the
// invoker, the proxy and the client channel build and read messages; `TROMessage` is the abstract
// message component (names, kind, client id, settings, body with its serializer, parameter
// forwarding); `TROBinMessage` is the binary format: 28-byte header (remoting/message_format.h),
// optional zlib body, names and values in the serializer's encodings.
//
// Ownership: a message owns its body buffer and its serializer. Clones are handed out as
// shared_ptr (reference counted, atomically); a template owned by its host is a plain member.
//
// Thread safety: a message object is used by one thread at a time. Clone() only reads the
// template, so several threads may clone one template at once as long as nobody changes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/identity.h"
#include "remoting/binary_stream.h"
#include "remoting/message_format.h"
#include "remoting/ro_exception.h"
#include "remoting/serializer.h"
#include "remoting/transport.h"
#include "remoting/type_info.h"

namespace vantry {

enum class TMessageKind : uint8_t {
  kRequest = 0,
  kResponse = 1,
  kException = 3,
  kEvent = 5,
  kPoll = 6,
  kPollResponse = 7,
};

// Message transformations applied to whole messages. This system configures none; the
// collection exists so that an incoming envelope marker can be looked up (and not found).
class TROMessageEnvelopes {
 public:
  size_t Count() const { return 0; }
  // True when an envelope with `marker` is configured.
  bool Contains(std::string_view /*marker*/) const { return false; }
};

// What follows a message's header on the wire when its body goes out uncompressed, in order.
struct TROMessageBodyParts {
  std::string_view body;  // the body's own bytes
  std::string_view lent;  // a Binary's bytes lent to the body (see SetLendBinaries)
};

class IROMessage {
 public:
  virtual ~IROMessage() = default;

  // Starts a new message for writing: sets names and kind, replaces the body by an empty one
  // and, unless the kind is poll or poll response, writes the interface and message names.
  // `transport` may be null; the library name is not transmitted.
  virtual void Initialize(IROTransport* transport, std::string_view interface_name,
                          std::string_view message_name, TMessageKind kind) = 0;
  virtual void Initialize(IROTransport* transport, std::string_view library_name,
                          std::string_view interface_name, std::string_view message_name,
                          TMessageKind kind) = 0;
  virtual void InitializeRequestMessage(IROTransport* transport, std::string_view library_name,
                                        std::string_view interface_name,
                                        std::string_view message_name) = 0;
  virtual void InitializeResponseMessage(IROTransport* transport, std::string_view library_name,
                                         std::string_view interface_name,
                                         std::string_view message_name) = 0;
  virtual void InitializeEventMessage(IROTransport* transport, std::string_view library_name,
                                      std::string_view interface_name,
                                      std::string_view message_name) = 0;
  // Prepares the transport for an error message; changes nothing in the message.
  virtual void InitializeExceptionMessage(IROTransport* transport, std::string_view library_name,
                                          std::string_view interface_name,
                                          std::string_view message_name) = 0;
  // Marks the end of writing; no effect on the bytes.
  virtual void Finalize() = 0;

  virtual Guid GetClientID() const = 0;
  virtual void SetClientID(const Guid& client_id) = 0;

  // One parameter value at the body position; `value` points at a variable of the C++ type that
  // `type` describes (see remoting/type_info.h). Read failures are rethrown as EROException
  // "Error reading parameter %s: <reason>"; an object-typed variable then holds no object.
  virtual void Write(std::string_view name, const TypeInfo& type, const void* value) = 0;
  virtual void Read(std::string_view name, const TypeInfo& type, void* value) = 0;

  virtual std::string GetInterfaceName() const = 0;
  virtual std::string GetMessageName() const = 0;
  virtual void SetInterfaceName(std::string_view name) = 0;
  virtual void SetMessageName(std::string_view name) = 0;

  // Writes the whole message at `dest`'s position; `dest` ends rewound to 0.
  virtual void WriteToStream(TROBinaryMemoryStream& dest) = 0;
  // As WriteToStream, without copying a body that goes out uncompressed: `head` receives the
  // bytes before the body, and the body's parts (valid until the message changes) are returned
  // to be sent right after them. When the body is compressed `head` holds the whole message and
  // both parts are empty.
  virtual TROMessageBodyParts WriteToStreamParts(TROBinaryMemoryStream& head) = 0;
  // Reads a whole message from `source` (from offset 0), keeping a copy of what it needs. An
  // error message is raised as the exception it carries.
  virtual void ReadFromStream(TROBinaryMemoryStream& source) = 0;
  // As above, but on success the message takes charge of `*source` (it is reset) and false is
  // returned: the caller has nothing to release. On an exception `source` stays the caller's.
  virtual bool ReadFromStream(std::unique_ptr<TROBinaryMemoryStream>& source) = 0;
  // Writes a complete error message for `error` from `dest`'s position 0; `dest` is left after
  // the last byte written. Replaces the body.
  virtual void WriteException(TROBinaryMemoryStream& dest, const Exception& error) = 0;

  virtual TMessageKind GetMessageKind() const = 0;
  // The integer read from the last poll request (0 before any was read).
  virtual int32_t PollValue() const = 0;
  virtual TROMessageEnvelopes& GetEnvelopes() = 0;
  // Releases the body buffer.
  virtual void FreeStream() = 0;

  // Hooks called at fixed points by dispatch, invoker and proxy; nothing to do in this format.
  virtual void SetAttributes(IROTransport* transport) = 0;
  virtual void UnsetAttributes(IROTransport* transport) = 0;
  virtual void UnsetAllAttributes() = 0;

  // Typed shortcuts of Write/Read for a variable of type T.
  template <typename T>
  void Write(std::string_view name, const T& value) {
    Write(name, TypeInfoOf<T>(), &value);
  }
  template <typename T>
  void Read(std::string_view name, T& value) {
    Read(name, TypeInfoOf<T>(), &value);
  }
};

// Notification hooks around parameter values (none is installed in this system).
using ParameterHook =
    std::function<void(std::string_view name, const TypeInfo& type, const void* value)>;

class TROMessage : public IROMessage {
 public:
  TROMessage();
  TROMessage(const TROMessage&) = delete;
  TROMessage& operator=(const TROMessage&) = delete;
  ~TROMessage() override;

  using IROMessage::Read;
  using IROMessage::Write;

  // A new message of the same class with a fresh ClientID, no names, no body, and this one's
  // settings, envelopes and hooks.
  virtual std::shared_ptr<TROMessage> Clone() const = 0;
  // Checks the settings before a proxy is handed out; nothing to check in this format.
  virtual void CheckProperties() const {}

  void Initialize(IROTransport* transport, std::string_view interface_name,
                  std::string_view message_name, TMessageKind kind) override;
  void Initialize(IROTransport* transport, std::string_view library_name,
                  std::string_view interface_name, std::string_view message_name,
                  TMessageKind kind) override;
  void InitializeRequestMessage(IROTransport* transport, std::string_view library_name,
                                std::string_view interface_name,
                                std::string_view message_name) override;
  void InitializeResponseMessage(IROTransport* transport, std::string_view library_name,
                                 std::string_view interface_name,
                                 std::string_view message_name) override;
  void InitializeEventMessage(IROTransport* transport, std::string_view library_name,
                              std::string_view interface_name,
                              std::string_view message_name) override;
  void InitializeExceptionMessage(IROTransport* /*transport*/, std::string_view /*library_name*/,
                                  std::string_view /*interface_name*/,
                                  std::string_view /*message_name*/) override {}
  void Finalize() override {}

  // A new message's id is drawn when first asked for: a server's clone gets the request's id
  // before anyone asks, so it never draws one.
  Guid GetClientID() const override;
  void SetClientID(const Guid& client_id) override {
    client_id_ = client_id;
    client_id_drawn_ = true;
  }

  void Write(std::string_view name, const TypeInfo& type, const void* value) override;
  void Read(std::string_view name, const TypeInfo& type, void* value) override;

  std::string GetInterfaceName() const override { return interface_name_; }
  std::string GetMessageName() const override { return message_name_; }
  void SetInterfaceName(std::string_view name) override { interface_name_ = name; }
  void SetMessageName(std::string_view name) override { message_name_ = name; }

  TMessageKind GetMessageKind() const override { return kind_; }
  int32_t PollValue() const override { return poll_value_; }
  TROMessageEnvelopes& GetEnvelopes() override { return envelopes_; }
  void FreeStream() override;

  void SetAttributes(IROTransport* /*transport*/) override {}
  void UnsetAttributes(IROTransport* /*transport*/) override {}
  void UnsetAllAttributes() override {}

  // The component name (the host's template is "ROMessage").
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  bool UseCompression() const { return use_compression_; }
  void SetUseCompression(bool value) { use_compression_ = value; }
  int32_t MinSizeForCompression() const { return min_size_for_compression_; }
  void SetMinSizeForCompression(int32_t value) { min_size_for_compression_ = value; }
  bool AddServerExceptionPrefix() const { return add_server_exception_prefix_; }
  void SetAddServerExceptionPrefix(bool value) { add_server_exception_prefix_ = value; }

  ParameterHook on_write_parameter;
  ParameterHook on_read_parameter;

  // Large Binary values written from now on are sent from the caller's buffer instead of being
  // copied into the body: the caller keeps them unchanged until the message is sent. Off by
  // default; a proxy turns it on for the length of a call. Compression, or any access to the
  // body, copies them in first.
  void SetLendBinaries(bool on) { serializer_.SetLendBinaries(on); }

  // The current body (nullptr after FreeStream or before the first message), lent bytes copied
  // in, and its serializer.
  TROBinaryMemoryStream* Body() {
    serializer_.SettleLent();
    return body_.get();
  }
  TROStreamSerializer& Serializer() { return serializer_; }

 protected:
  // Replaces the body by `body` (may be empty) and attaches the serializer to it.
  void SetBody(std::unique_ptr<TROBinaryMemoryStream> body);
  // The body as it stands, bytes lent to it still apart (see SetLendBinaries).
  TROBinaryMemoryStream* BodyApartFromLent() { return body_.get(); }
  // Hands the body out, leaving the message without one.
  std::unique_ptr<TROBinaryMemoryStream> TakeBody();
  // Copies settings, envelopes and hooks into `clone`.
  void CopySettingsTo(TROMessage& clone) const;

  std::string interface_name_;
  std::string message_name_;
  TMessageKind kind_ = TMessageKind::kRequest;
  int32_t poll_value_ = 0;

 private:
  mutable Guid client_id_;
  mutable bool client_id_drawn_ = false;
  std::string name_;
  bool use_compression_ = true;
  int32_t min_size_for_compression_ = kDefaultMinSizeForCompression;
  bool add_server_exception_prefix_ = true;
  TROMessageEnvelopes envelopes_;
  std::unique_ptr<TROBinaryMemoryStream> body_;
  TROStreamSerializer serializer_;
};

class TROBinMessage : public TROMessage {
 public:
  TROBinMessage() = default;

  std::shared_ptr<TROMessage> Clone() const override;

  void WriteToStream(TROBinaryMemoryStream& dest) override;
  TROMessageBodyParts WriteToStreamParts(TROBinaryMemoryStream& head) override;
  void ReadFromStream(TROBinaryMemoryStream& source) override;
  bool ReadFromStream(std::unique_ptr<TROBinaryMemoryStream>& source) override;
  void WriteException(TROBinaryMemoryStream& dest, const Exception& error) override;

  // Turns the error message in the body (positioned after the header) into the exception it
  // names, with the "An exception was raised on the server: " prefix when so configured.
  std::unique_ptr<Exception> DecodeException();
  // DecodeException, then throws the result.
  [[noreturn]] void RaiseServerException();

 private:
  // Steps shared by both ReadFromStream forms; `owned` is the caller's buffer when the message
  // may take it, else nullptr.
  void ReadMessage(TROBinaryMemoryStream& source, std::unique_ptr<TROBinaryMemoryStream>* owned);
  // Acts on the type byte of a message whose body is in place (positioned after the header).
  void ReadBody(uint8_t type_byte);
  // Header and (maybe compressed) body at `dest`'s position; with `body_apart` an uncompressed
  // body is left out and its parts returned instead (else both are empty).
  TROMessageBodyParts WriteHeaderAndBody(TROBinaryMemoryStream& dest, uint8_t type_byte,
                                         bool body_apart = false);
};

}  // namespace vantry
