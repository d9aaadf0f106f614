// HttpServer: a small HTTP/1.1 server for the operator's monitoring (metrics and health), beside
// the remote-call listeners. It answers GET requests through one handler; anything else gets
// 405. It runs its own thread; the handler is called on it, one request at a time.
//
// Thread safety: construct and destroy on one thread; the handler must be safe to call from the
// server's thread while other threads work.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vantry {

struct HttpResponse {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::string body;
};

class HttpServer {
 public:
  using Handler = std::function<HttpResponse(const std::string& path)>;

  // Listens on `dotted_address`:`port` (0: any free port) and serves until destroyed. Throws
  // ECouldNotBindSocket "Could not bind socket. Address and port are already in use." when it
  // cannot listen.
  HttpServer(const std::string& dotted_address, int port, Handler handler);
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();  // stops listening and waits for the request in progress

  int Port() const { return port_; }

 private:
  struct Daemon;
  Handler handler_;
  std::unique_ptr<Daemon> daemon_;
  int port_ = 0;
};

// What the process uses now: resident memory in bytes and threads (0 when unknown).
struct ProcessUsage {
  int64_t resident_bytes = 0;
  int64_t threads = 0;
};
ProcessUsage CurrentProcessUsage();

}  // namespace vantry
