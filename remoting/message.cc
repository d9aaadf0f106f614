#include "remoting/message.h"

#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"
#include "platform/exception.h"
#include "remoting/zlib_codec.h"

namespace vantry {

// --- TROMessage ---------------------------------------------------------------------------------

TROMessage::TROMessage() {
  // The body is the message's own: a large Binary that ends it may take its buffer over.
  serializer_.SetAdoptTrailingBinary(true);
}

TROMessage::~TROMessage() = default;

Guid TROMessage::GetClientID() const {
  if (!client_id_drawn_) {
    client_id_ = NewGuid();
    client_id_drawn_ = true;
  }
  return client_id_;
}

void TROMessage::Initialize(IROTransport* /*transport*/, std::string_view interface_name,
                            std::string_view message_name, TMessageKind kind) {
  interface_name_ = interface_name;
  message_name_ = message_name;
  kind_ = kind;
  SetBody(std::make_unique<TROBinaryMemoryStream>());
  if (kind != TMessageKind::kPoll && kind != TMessageKind::kPollResponse) {
    WriteUtf8LengthPrefixedString(*body_, interface_name);
    WriteUtf8LengthPrefixedString(*body_, message_name);
  }
}

void TROMessage::Initialize(IROTransport* transport, std::string_view /*library_name*/,
                            std::string_view interface_name, std::string_view message_name,
                            TMessageKind kind) {
  Initialize(transport, interface_name, message_name, kind);
}

void TROMessage::InitializeRequestMessage(IROTransport* transport, std::string_view /*library_name*/,
                                          std::string_view interface_name,
                                          std::string_view message_name) {
  Initialize(transport, interface_name, message_name, TMessageKind::kRequest);
}

void TROMessage::InitializeResponseMessage(IROTransport* transport, std::string_view /*library_name*/,
                                           std::string_view interface_name,
                                           std::string_view message_name) {
  Initialize(transport, interface_name, message_name, TMessageKind::kResponse);
}

void TROMessage::InitializeEventMessage(IROTransport* transport, std::string_view /*library_name*/,
                                        std::string_view interface_name,
                                        std::string_view message_name) {
  Initialize(transport, interface_name, message_name, TMessageKind::kEvent);
}

void TROMessage::Write(std::string_view name, const TypeInfo& type, const void* value) {
  if (on_write_parameter) on_write_parameter(name, type, value);
  if (!body_) SetBody(std::make_unique<TROBinaryMemoryStream>());
  serializer_.Write(name, type, value);
}

void TROMessage::Read(std::string_view name, const TypeInfo& type, void* value) {
  try {
    if (!body_) RaiseStreamReadError();
    serializer_.Read(name, type, value);
  } catch (const std::exception& e) {
    throw EROException(Format("Error reading parameter %s: ", name) + e.what());
  }
  if (on_read_parameter) on_read_parameter(name, type, value);
}

void TROMessage::FreeStream() { SetBody(nullptr); }

void TROMessage::SetBody(std::unique_ptr<TROBinaryMemoryStream> body) {
  body_ = std::move(body);
  serializer_.SetStream(body_.get());
}

std::unique_ptr<TROBinaryMemoryStream> TROMessage::TakeBody() {
  serializer_.SetStream(nullptr);
  return std::move(body_);
}

void TROMessage::CopySettingsTo(TROMessage& clone) const {
  clone.use_compression_ = use_compression_;
  clone.min_size_for_compression_ = min_size_for_compression_;
  clone.add_server_exception_prefix_ = add_server_exception_prefix_;
  clone.envelopes_ = envelopes_;
  clone.on_write_parameter = on_write_parameter;
  clone.on_read_parameter = on_read_parameter;
}

// --- TROBinMessage ------------------------------------------------------------------------------

namespace {

uint8_t TypeByteOf(TMessageKind kind) {
  switch (kind) {
    case TMessageKind::kException:
      return kMessageTypeException;
    case TMessageKind::kEvent:
      return kMessageTypeEvent;
    case TMessageKind::kPoll:
      return kMessageTypePoll;
    case TMessageKind::kPollResponse:
      return kMessageTypePollResponse;
    default:
      return kMessageTypeMessage;
  }
}

// "\r\r" and the first bytes of a rejected message, unprintable bytes shown as '.'.
std::string HeaderDump(std::string_view message) {
  std::string dump = "\r\r";
  for (char c : message.substr(0, kHeaderDumpSize)) {
    auto byte = static_cast<unsigned char>(c);
    dump += byte == 13 || (byte >= 32 && byte <= 127) ? c : '.';
  }
  return dump;
}

// Fails with "%s envelope isn't found" when the message is wrapped in an envelope: none is
// configured in this system.
void CheckEnvelope(const TROBinaryMemoryStream& source, const TROMessageEnvelopes& envelopes) {
  std::string_view data = source.View();
  if (data.size() <= 6 || data.substr(0, 5) != kEnvelopeSignature) return;
  size_t length = static_cast<unsigned char>(data[5]);
  if (data.size() - 6 < length) return;
  std::string marker = Utf8ToAnsi(data.substr(6, length));
  if (!envelopes.Contains(marker)) {
    throw EROException(Format("%s envelope isn't found", marker));
  }
}

}  // namespace

std::shared_ptr<TROMessage> TROBinMessage::Clone() const {
  auto clone = std::make_shared<TROBinMessage>();
  CopySettingsTo(*clone);
  return clone;
}

TROMessageBodyParts TROBinMessage::WriteHeaderAndBody(TROBinaryMemoryStream& dest,
                                                      uint8_t type_byte, bool body_apart) {
  if (!BodyApartFromLent()) SetBody(std::make_unique<TROBinaryMemoryStream>());
  TROBinaryMemoryStream& body = *BodyApartFromLent();
  TROStreamSerializer& serializer = Serializer();
  size_t lent = serializer.LentBytes().size();
  bool compress =
      UseCompression() && body.Size() + static_cast<int64_t>(lent) >= MinSizeForCompression();
  // Lent bytes stay apart only when they go to the wire as they are.
  if (compress || !body_apart) serializer.SettleLent();

  char header[kMessageHeaderSize] = {};
  std::memcpy(header, kMessageSignature, kSignatureSize);
  header[kHeaderFlagsOffset] = compress ? kFlagCompressed : 0;
  header[kHeaderTypeOffset] = static_cast<char>(type_byte);
  auto id = GuidToBytes(GetClientID());
  std::memcpy(header + kHeaderClientIdOffset, id.data(), id.size());
  dest.Write(header, kMessageHeaderSize);

  if (compress) {
    ZlibCompress(body.View(), dest);
  } else if (!body_apart) {
    dest.Write(body.View());
  }
  if (compress || !body_apart) {
    body.SetPosition(body.Size());
    return {};
  }
  return {body.View(), serializer.LentBytes()};
}

void TROBinMessage::WriteToStream(TROBinaryMemoryStream& dest) {
  WriteHeaderAndBody(dest, TypeByteOf(kind_));
  dest.Rewind();
}

TROMessageBodyParts TROBinMessage::WriteToStreamParts(TROBinaryMemoryStream& head) {
  TROMessageBodyParts parts = WriteHeaderAndBody(head, TypeByteOf(kind_), true);
  head.Rewind();
  return parts;
}

void TROBinMessage::WriteException(TROBinaryMemoryStream& dest, const Exception& error) {
  SetBody(std::make_unique<TROBinaryMemoryStream>());
  WriteUtf8LengthPrefixedString(*Body(), error.ClassName());
  WriteLengthPrefixedString(*Body(), error.Message());
  if (auto* ro = dynamic_cast<const EROException*>(&error)) {
    // Fields are only read from the object while it is written.
    Serializer().WriteException("ROException", const_cast<EROException*>(ro));
  }
  dest.Rewind();
  WriteHeaderAndBody(dest, kMessageTypeException);
}

void TROBinMessage::ReadFromStream(TROBinaryMemoryStream& source) { ReadMessage(source, nullptr); }

bool TROBinMessage::ReadFromStream(std::unique_ptr<TROBinaryMemoryStream>& source) {
  try {
    ReadMessage(*source, &source);
  } catch (...) {
    // A failed read leaves the buffer with the caller, whoever held it meanwhile.
    if (!source) source = TakeBody();
    throw;
  }
  source.reset();
  return false;
}

void TROBinMessage::ReadMessage(TROBinaryMemoryStream& source,
                                std::unique_ptr<TROBinaryMemoryStream>* owned) {
  source.Rewind();
  CheckEnvelope(source, GetEnvelopes());
  std::string_view data = source.View();
  if (data.size() < static_cast<size_t>(kMessageHeaderSize)) RaiseStreamReadError();
  if (data.substr(0, kSignatureSize) != kMessageSignature) {
    if (data.substr(0, kSignatureSize) == kEncryptedSignature) {
      throw EROInvalidStream(
          "Invalid binary header. It seems that encryption is active on the other side of the "
          "communication, but not locally?" +
          HeaderDump(data));
    }
    throw EROInvalidStream("Invalid binary header. Either incompatible or not a binary message." +
                           HeaderDump(data));
  }
  auto flags = static_cast<uint8_t>(data[kHeaderFlagsOffset]);
  auto type_byte = static_cast<uint8_t>(data[kHeaderTypeOffset]);
  SetClientID(GuidFromBytes(reinterpret_cast<const uint8_t*>(data.data() + kHeaderClientIdOffset)));

  if (flags & kFlagCompressed) {
    auto body = std::make_unique<TROBinaryMemoryStream>();
    ZlibDecompress(data.substr(kMessageHeaderSize), *body, kMaxInflatedBodySize);
    SetBody(std::move(body));
    Body()->Rewind();
  } else {
    SetBody(owned != nullptr ? std::move(*owned) : std::make_unique<TROBinaryMemoryStream>(data));
    Body()->SetPosition(kMessageHeaderSize);
  }
  ReadBody(type_byte);
}

void TROBinMessage::ReadBody(uint8_t type_byte) {
  TROBinaryMemoryStream& body = *Body();
  switch (type_byte) {
    case kMessageTypeMessage:
    case kMessageTypeEvent:
      kind_ = TMessageKind::kRequest;
      interface_name_ = ReadUtf8LengthPrefixedString(body, kMaxNameLength);
      message_name_ = ReadUtf8LengthPrefixedString(body, kMaxNameLength);
      break;
    case kMessageTypeException:
      kind_ = TMessageKind::kException;
      RaiseServerException();
    case kMessageTypePoll:
      kind_ = TMessageKind::kPoll;
      if (body.Remaining() >= 4) poll_value_ = ReadInt32(body);
      break;
    default:
      // Poll responses and unknown types are not interpreted; the kind stays as it was.
      break;
  }
}

std::unique_ptr<Exception> TROBinMessage::DecodeException() {
  TROBinaryMemoryStream& body = *Body();
  std::string class_name = ReadUtf8LengthPrefixedString(body, kMaxNameLength);
  std::string text = ReadLengthPrefixedString(body, kMaxExceptionTextLength);
  std::unique_ptr<EROException> error =
      FindExceptionClass(class_name)
          .create(AddServerExceptionPrefix()
                      ? Format("An exception was raised on the server: %s", text)
                      : text);
  Serializer().ReadException("ROException", error.get());
  std::string trailing = ReadOptionalTrailingString(body);
  if (auto* server = dynamic_cast<EROServerException*>(error.get()); server && !trailing.empty()) {
    server->SetServerExceptionText(Utf8ToAnsi(trailing));
  }
  return error;
}

void TROBinMessage::RaiseServerException() {
  DecodeException()->Raise();
  std::abort();  // Raise() never returns
}

}  // namespace vantry
