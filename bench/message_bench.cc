// Moving a 1 MiB Binary parameter into and out of a message body, against a plain memcpy of the
// same size: writing and reading a chunk that is copied should cost about one copy each, reading
// a chunk that ends the request none.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "remoting/message.h"

namespace vantry {
namespace {

constexpr size_t kChunkSize = size_t{1} << 20;

void BM_WriteBinaryParam(benchmark::State& state) {
  TROBinMessage message;
  auto chunk = std::make_unique<TROBinaryMemoryStream>(std::string(kChunkSize, 'c'));
  for (auto _ : state) {
    message.InitializeRequestMessage(nullptr, "VantryLibrary", "VantryService", "ReceiveBackup");
    message.Write("DataChunk", chunk);
    benchmark::DoNotOptimize(message.Body()->Data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunkSize));
}
BENCHMARK(BM_WriteBinaryParam);

// A request with a chunk, as it arrives in a frame; `after` puts a value behind the chunk.
std::string ChunkRequest(bool after) {
  TROBinMessage writer;
  writer.SetUseCompression(false);
  writer.InitializeRequestMessage(nullptr, "VantryLibrary", "VantryService", "ReceiveBackup");
  auto chunk = std::make_unique<TROBinaryMemoryStream>(std::string(kChunkSize, 'c'));
  writer.Write("DataChunk", chunk);
  if (after) writer.Write("After", int32_t{0});
  TROBinaryMemoryStream bytes;
  writer.WriteToStream(bytes);
  return bytes.ToString();
}

// The server's way: the message takes the frame buffer over and the chunk, which ends the body,
// takes the body over, so no byte of it is copied. That consumes the frame: every iteration reads
// a fresh copy, made outside the timing.
void BM_ReadBinaryParam(benchmark::State& state) {
  const std::string frame = ChunkRequest(false);
  TROBinMessage reader;
  std::unique_ptr<TROBinaryMemoryStream> received;
  for (auto _ : state) {
    state.PauseTiming();
    auto source = std::make_unique<TROBinaryMemoryStream>(frame);
    state.ResumeTiming();
    reader.ReadFromStream(source);
    reader.Read("DataChunk", received);
    benchmark::DoNotOptimize(received->Data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunkSize));
}
BENCHMARK(BM_ReadBinaryParam);

// A chunk with a value behind it is copied out of the body once; the body stays as it was, so
// the chunk is read again from its place.
void BM_ReadBinaryParamCopied(benchmark::State& state) {
  TROBinaryMemoryStream frame(ChunkRequest(true));
  TROBinMessage reader;
  reader.ReadFromStream(frame);
  const int64_t parameter_start = reader.Body()->Position();
  std::unique_ptr<TROBinaryMemoryStream> received;
  for (auto _ : state) {
    reader.Body()->SetPosition(parameter_start);
    reader.Read("DataChunk", received);
    benchmark::DoNotOptimize(received->Data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunkSize));
}
BENCHMARK(BM_ReadBinaryParamCopied);

void BM_Memcpy1MiB(benchmark::State& state) {
  std::vector<char> source(kChunkSize, 'c');
  std::vector<char> dest(kChunkSize);
  for (auto _ : state) {
    std::memcpy(dest.data(), source.data(), kChunkSize);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunkSize));
}
BENCHMARK(BM_Memcpy1MiB);

}  // namespace
}  // namespace vantry
