// Moving a 1 MiB Binary parameter into and out of a message body, against a plain memcpy of the
// same size: each direction should cost about one copy.
#include <benchmark/benchmark.h>

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

void BM_ReadBinaryParam(benchmark::State& state) {
  TROBinMessage writer;
  writer.SetUseCompression(false);
  writer.InitializeRequestMessage(nullptr, "VantryLibrary", "VantryService", "ReceiveBackup");
  auto chunk = std::make_unique<TROBinaryMemoryStream>(std::string(kChunkSize, 'c'));
  writer.Write("DataChunk", chunk);
  TROBinaryMemoryStream bytes;
  writer.WriteToStream(bytes);

  TROBinMessage reader;
  reader.ReadFromStream(bytes);
  const int64_t parameter_start = reader.Body()->Position();
  std::unique_ptr<TROBinaryMemoryStream> received;
  for (auto _ : state) {
    reader.Body()->SetPosition(parameter_start);
    reader.Read("DataChunk", received);
    benchmark::DoNotOptimize(received->Data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunkSize));
}
BENCHMARK(BM_ReadBinaryParam);

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
