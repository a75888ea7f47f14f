#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>

#include "core/FileType.h"
#include "core/ScanCompletion.h"

namespace corvyn {
namespace {

std::string DateOf(int64_t i) {
  char text[32];
  std::snprintf(text, sizeof text, "2020-%02d-%02d %02d:%02d:%02d", static_cast<int>(1 + i % 12),
                static_cast<int>(1 + i % 28), static_cast<int>(i % 24), static_cast<int>(i % 60),
                static_cast<int>(i / 60 % 60));
  return text;
}

// Messages spread over 1000 conversations, plus as many calls: the heaviest
// completion steps of a large phone.
void BM_CompleteMessagesAndCalls(benchmark::State& state) {
  const int64_t count = state.range(0);
  ScanResults source;
  for (int64_t i = 0; i < count; ++i) {
    MessageRecord message;
    message.deleted = i % 17 == 0;
    message.handleId = static_cast<int32_t>(i % 1000);
    message.date = DateOf(i);
    message.text = "message text number " + std::to_string(i);
    source.conversations[message.handleId].push_back(message);
    source.calls.push_back(
        {static_cast<int32_t>(i % 13 == 0), 1, 30, DateOf(i), "+1555" + std::to_string(i), ""});
  }
  for (auto _ : state) {
    state.PauseTiming();
    ScanResults scratch = source;
    ScanResults results;
    CStatisticsObj statistics;
    state.ResumeTiming();
    CompleteCollectStep(CollectStep::kMessages, scratch, results, statistics);
    CompleteCollectStep(CollectStep::kCallHistory, scratch, results, statistics);
    benchmark::DoNotOptimize(statistics.TotalSize());
  }
  state.SetItemsProcessed(state.iterations() * count * 2);
}
BENCHMARK(BM_CompleteMessagesAndCalls)->Arg(100000)->Unit(benchmark::kMillisecond);

// Unchecking and checking a category of many photos, as one click on the tree.
void BM_ToggleCategory(benchmark::State& state) {
  const int64_t count = state.range(0);
  ScanResults scratch, results;
  CStatisticsObj statistics;
  scratch.cameraRoll.resize(static_cast<std::size_t>(count), MediaFileRecord{4'000'000, "IMG.JPG", "/p"});
  CompleteCollectStep(CollectStep::kPhotos, scratch, results, statistics);
  bool checked = true;
  for (auto _ : state) {
    checked = !checked;
    statistics.SetChecked(&results.cameraRoll, checked);
    benchmark::DoNotOptimize(statistics.SelectedSize());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ToggleCategory)->Arg(100000)->Unit(benchmark::kMillisecond);

// Detection of the worst case: bytes no row recognises, so every row runs.
void BM_DetectUnknown(benchmark::State& state) {
  std::array<uint8_t, kSniffLength> head{};
  for (std::size_t i = 0; i < head.size(); ++i) head[i] = static_cast<uint8_t>(i * 31 + 7);
  head[0] = 'x';
  for (auto _ : state) benchmark::DoNotOptimize(DetectTypeCode(head));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DetectUnknown);

}  // namespace
}  // namespace corvyn

BENCHMARK_MAIN();
