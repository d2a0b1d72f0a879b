// Building one ZDATA frame of a full block and parsing one hex header. Both
// paths must not touch the heap: a counting global operator new checks that
// no allocation happens inside the timed loops.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "zmodem/zmodem.h"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Fails the run (and says so) when the loop allocated.
void CheckNoAllocation(benchmark::State& state, const char* name, long before) {
  const long during = g_allocations.load() - before;
  state.counters["allocations"] = static_cast<double>(during);
  if (during != 0) {
    std::fprintf(stderr, "%s: %ld heap allocations in the timed loop\n", name, during);
    std::abort();
  }
}

void BM_BuildZdataFrame512(benchmark::State& state) {
  static mfu::ZMSender zm{};
  zm.FramePointer = zm.FrameBuffer;
  std::uint8_t block[mfu::kMaxBlock];
  for (int i = 0; i < mfu::kMaxBlock; ++i) block[i] = static_cast<std::uint8_t>(i * 37 + 11);
  std::int32_t position = 0;
  const long before = g_allocations.load();
  for (auto _ : state) {
    zm.FrameLength = 0;
    zm.TxHeader[0] = mfu::ZDATA;
    mfu::StorePosition(zm, position);
    mfu::PutBinaryHeader(zm);
    mfu::PutDataSubpacket(zm, block, mfu::kMaxBlock, mfu::ZCRCW);
    benchmark::DoNotOptimize(zm.FrameBuffer);
    benchmark::DoNotOptimize(zm.FrameLength);
    position += mfu::kMaxBlock;
  }
  CheckNoAllocation(state, __func__, before);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * mfu::kMaxBlock);
}
BENCHMARK(BM_BuildZdataFrame512);

void BM_ParseHexHeader(benchmark::State& state) {
  // A ZACK for position 512 as the modem sends it.
  static const std::uint8_t answer[] = {0x2A, 0x2A, 0x18, 0x42, '0', '3', '0', '0', '0', '2',
                                        '0',  '0',  '0',  '0',  '8', '0', 'b', '2', 0x0D, 0x8A};
  static mfu::ZMSender zm{};
  const long before = g_allocations.load();
  for (auto _ : state) {
    zm.RxBuffer = answer;
    zm.RxPosition = 0;
    zm.RxLength = sizeof answer;
    const int result = mfu::GetHeader(zm);
    if (result != mfu::HeaderHex) {
      state.SkipWithError("header not recognised");
      break;
    }
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(zm.RxHeader);
  }
  CheckNoAllocation(state, __func__, before);
}
BENCHMARK(BM_ParseHexHeader);

}  // namespace

BENCHMARK_MAIN();
