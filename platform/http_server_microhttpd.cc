#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "platform/http_server.h"
#include "platform/socket.h"

namespace vantry {

namespace {

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*upload_data*/,
                  size_t* /*upload_data_size*/, void** /*request_state*/) {
  auto& handler = *static_cast<HttpServer::Handler*>(cls);
  HttpResponse response;
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
    response = {405, "text/plain; charset=utf-8", "only GET\n"};
  } else {
    try {
      response = handler(url);
    } catch (const std::exception& error) {
      response = {500, "text/plain; charset=utf-8", std::string(error.what()) + "\n"};
    }
  }
  MHD_Response* answer = MHD_create_response_from_buffer(
      response.body.size(), response.body.data(), MHD_RESPMEM_MUST_COPY);
  if (answer == nullptr) return MHD_NO;
  MHD_add_response_header(answer, "Content-Type", response.content_type.c_str());
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), answer);
  MHD_destroy_response(answer);
  return queued;
}

}  // namespace

struct HttpServer::Daemon {
  MHD_Daemon* daemon = nullptr;
  ~Daemon() {
    if (daemon != nullptr) MHD_stop_daemon(daemon);
  }
};

HttpServer::HttpServer(const std::string& dotted_address, int port, Handler handler)
    : handler_(std::move(handler)), daemon_(std::make_unique<Daemon>()) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, dotted_address.c_str(), &address.sin_addr) != 1) {
    throw ECouldNotBindSocket("Could not bind socket. Address and port are already in use.");
  }
  // One thread polls every connection: scrapes are rare and small, and the remote-call threads
  // never wait for it.
  daemon_->daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG, static_cast<uint16_t>(port), nullptr,
      nullptr, &Answer, &handler_, MHD_OPTION_SOCK_ADDR, &address,
      MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_END);
  if (daemon_->daemon == nullptr) {
    throw ECouldNotBindSocket("Could not bind socket. Address and port are already in use.");
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : port;
}

HttpServer::~HttpServer() = default;

ProcessUsage CurrentProcessUsage() {
  ProcessUsage usage;
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> usage.resident_bytes;
      usage.resident_bytes *= 1024;  // the file counts kB
    } else if (key == "Threads:") {
      status >> usage.threads;
    }
    status.ignore(1 << 20, '\n');
  }
  return usage;
}

}  // namespace vantry
