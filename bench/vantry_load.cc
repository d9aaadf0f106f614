// vantry-load: drives concurrent clients against a remote-call server, each making one small call
// per connection, and prints the call rate and latency percentiles. The last line is always
//   calls_per_s=<n> p50_us=<n> p99_us=<n>
//
//   --clients N        concurrent clients (16)
//   --seconds S        duration (5)
//   --host H --port P  target (127.0.0.1, 8090)
//   --request-file F   the request message (a frame's payload); default: a 5-byte probe
//   --idle M           extra connections held open and silent meanwhile
//   --slow M           extra connections that send a frame one byte per second meanwhile
//   --announce M       extra connections that announce a frame of --announce-bytes (2 GiB - 1)
//                      and send nothing more
//   --tls DIR          call over TLS (the target's TLS port) with DIR/operator.crt, .key and
//                      DIR/ca.crt, as "vantry tls init" makes them; sessions resume
//   --stall M          extra connections that send the start of a TLS handshake and stall
//   --baseline         measure the runtime's TCP server in-process instead, with a dispatch that
//                      answers a fixed 40-byte frame (the transport alone)
//   --serve            instead of measuring, run a TCP server answering probes on --port for
//                      --seconds (0: until killed), for measuring the runtime's own server
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/tls.h"
#include "remoting/dispatch.h"
#include "remoting/message.h"
#include "remoting/tcp_channel.h"
#include "remoting/tcp_connection.h"
#include "remoting/tcp_server.h"

namespace vantry {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int clients = 16;
  double seconds = 5;
  std::string host = "127.0.0.1";
  int port = vantry::kDefaultPort;
  std::string request_file;
  int idle = 0;
  int slow = 0;
  int announce = 0;
  int64_t announce_bytes = 0x7FFFFFFF;
  std::string tls_dir;
  int stall = 0;
  bool baseline = false;
  bool serve = false;
};

// The transport alone: the runtime's TCP server on loopback, with a dispatch that answers every
// request with a fixed 40-byte frame.
class BaselineServer : public TROTCPServer {
 public:
  BaselineServer() : answer_(40, 'b') {
    SetBindAddress("127.0.0.1");
    SetPort(0);
    SetActive(true);
  }
  ~BaselineServer() override { SetActive(false); }
  int Port() const { return GetPort(); }

  bool DispatchRequest(IROTransport&, TROBinaryMemoryStream&,
                       TROBinaryMemoryStream& response) override {
    response.Write(answer_);
    response.Rewind();
    return true;
  }

 private:
  std::string answer_;
};

struct ClientResult {
  std::vector<uint32_t> latencies_us;
  uint64_t errors = 0;
};

void RunClient(const std::string& host, int port, std::shared_ptr<const TlsContext> tls,
               const std::string& request, Clock::time_point deadline, ClientResult* result) {
  TROTCPChannel channel;
  channel.SetHost(tls ? Format("tls://%s:%d", host, port) : host);
  channel.SetPort(port);
  channel.SetTlsContext(std::move(tls));
  TROBinaryMemoryStream in(request);
  TROBinaryMemoryStream out;
  while (Clock::now() < deadline) {
    auto start = Clock::now();
    try {
      out.Clear();
      channel.DispatchStreams(in, out);
    } catch (const std::exception&) {
      ++result->errors;
      continue;
    }
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    result->latencies_us.push_back(static_cast<uint32_t>(us.count()));
  }
}

// Connections that connect and stay silent until destroyed. They are opened in small batches:
// a burst beyond the server's listen backlog (15) would have SYNs dropped and retried a second
// later, which measures the backlog instead of the server.
std::vector<Socket> OpenIdle(const std::string& host, int port, int count) {
  std::string address;
  int target_port = 0;
  ResolveTarget(host, port, &address, &target_port);
  std::vector<Socket> idle;
  for (int i = 0; i < count; ++i) {
    Socket s = Socket::Create();
    s.Connect(address, target_port);
    idle.push_back(std::move(s));
    if (i % 8 == 7) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return idle;
}

// Writes the 4-byte big-endian frame length `length` on `socket`.
void SendLength(Socket& socket, uint32_t length) {
  const char bytes[4] = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                         static_cast<char>(length >> 8), static_cast<char>(length)};
  for (size_t sent = 0; sent < 4;) sent += socket.Send(bytes + sent, 4 - sent);
}

// Peers that hold the server's connection threads: slow ones announce a 64 KiB request and then
// send it one byte per second; announcing ones announce a huge request and send nothing.
class HostilePeers {
 public:
  HostilePeers(const std::string& host, int port, int slow, int announce, int64_t announce_bytes,
               int stall)
      : slow_(OpenIdle(host, port, slow)),
        announcing_(OpenIdle(host, port, announce)),
        stalled_(OpenIdle(host, port, stall)) {
    for (Socket& s : slow_) SendLength(s, 64 * 1024);
    // A record header announcing a 512-byte ClientHello, and the first 100 bytes of it.
    std::string hello =
        std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + std::string(89, '\x42');
    for (Socket& s : stalled_) s.Send(hello.data(), hello.size());
    for (Socket& s : announcing_) SendLength(s, static_cast<uint32_t>(announce_bytes));
    if (!slow_.empty()) thread_ = std::thread([this] { Trickle(); });
  }
  ~HostilePeers() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Trickle() {
    while (!stop_) {
      for (Socket& s : slow_) {
        try {
          s.Send("x", 1);
        } catch (const std::exception&) {
        }
      }
      for (int i = 0; i < 10 && !stop_; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  std::vector<Socket> slow_;
  std::vector<Socket> announcing_;
  std::vector<Socket> stalled_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

uint32_t Percentile(const std::vector<uint32_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t index = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

std::string ReadRequest(const Options& options) {
  if (options.request_file.empty()) return "PROBE";
  std::ifstream file(options.request_file, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + options.request_file);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

int Serve(const Options& options) {
  TROBinMessage message;
  message.SetName("ROMessage");
  TROTCPServer server;
  server.SetBindAddress("127.0.0.1");
  server.SetPort(options.port);
  server.Dispatchers().Add("ROMessage").SetMessage(&message);
  server.SetActive(true);
  std::printf("serving probes on 127.0.0.1:%d\n", server.GetPort());
  std::fflush(stdout);
  auto deadline = Clock::now() + std::chrono::duration<double>(options.seconds);
  while (options.seconds <= 0 || Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  server.SetActive(false);
  return 0;
}

int Measure(const Options& options) {
  std::string request = ReadRequest(options);
  std::unique_ptr<BaselineServer> baseline;
  std::string host = options.host;
  int port = options.port;
  if (options.baseline) {
    baseline = std::make_unique<BaselineServer>();
    host = "127.0.0.1";
    port = baseline->Port();
  }
  std::vector<Socket> idle = OpenIdle(host, port, options.idle);
  HostilePeers hostile(host, port, options.slow, options.announce, options.announce_bytes,
                       options.stall);
  std::shared_ptr<const TlsContext> tls;
  if (!options.tls_dir.empty()) {
    TlsConfig config;
    config.certificate_file = options.tls_dir + "/operator.crt";
    config.key_file = options.tls_dir + "/operator.key";
    config.ca_file = options.tls_dir + "/ca.crt";
    tls = std::make_shared<TlsContext>(TlsRole::kClient, config);  // one session cache for all
  }

  std::vector<ClientResult> results(options.clients);
  std::vector<std::thread> clients;
  auto start = Clock::now();
  Clock::time_point deadline = start + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(options.seconds));
  for (int i = 0; i < options.clients; ++i) {
    clients.emplace_back(RunClient, host, port, tls, request, deadline, &results[i]);
  }
  for (std::thread& client : clients) client.join();
  // Without clients the extra connections are held for the whole duration.
  if (clients.empty()) std::this_thread::sleep_until(deadline);
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  idle.clear();

  std::vector<uint32_t> all;
  uint64_t errors = 0;
  for (const ClientResult& r : results) {
    all.insert(all.end(), r.latencies_us.begin(), r.latencies_us.end());
    errors += r.errors;
  }
  std::sort(all.begin(), all.end());
  std::printf("target=%s%s:%d%s clients=%d idle=%d seconds=%.1f calls=%zu errors=%llu\n",
              tls ? "tls://" : "", host.c_str(), port, options.baseline ? " (baseline)" : "",
              options.clients, options.idle, elapsed, all.size(),
              static_cast<unsigned long long>(errors));
  if (elapsed <= 0) elapsed = 1;
  std::printf("calls_per_s=%.0f p50_us=%u p99_us=%u\n", static_cast<double>(all.size()) / elapsed,
              Percentile(all, 0.50), Percentile(all, 0.99));
  return 0;
}

}  // namespace
}  // namespace vantry

int main(int argc, char** argv) {
  vantry::Options options;
  CLI::App app("Drives concurrent one-call connections against a remote-call server.");
  app.add_option("--clients", options.clients, "concurrent clients")->check(CLI::NonNegativeNumber);
  app.add_option("--seconds", options.seconds, "duration in seconds");
  app.add_option("--host", options.host, "target host");
  app.add_option("--port", options.port, "target port");
  app.add_option("--request-file", options.request_file, "request message (frame payload)");
  app.add_option("--idle", options.idle, "extra idle connections held open");
  app.add_option("--slow", options.slow, "extra connections sending one byte per second");
  app.add_option("--announce", options.announce, "extra connections announcing a huge frame");
  app.add_option("--announce-bytes", options.announce_bytes, "the length they announce");
  app.add_option("--tls", options.tls_dir, "call over TLS with the certificates in this directory");
  app.add_option("--stall", options.stall, "extra connections stalling in a TLS handshake");
  app.add_flag("--baseline", options.baseline, "measure the bare transport in-process");
  app.add_flag("--serve", options.serve, "serve probes on --port instead of measuring");
  CLI11_PARSE(app, argc, argv);
  try {
    return options.serve ? vantry::Serve(options) : vantry::Measure(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vantry-load: %s\n", error.what());
    return 1;
  }
}
