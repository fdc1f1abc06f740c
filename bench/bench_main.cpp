// Throughput of libsorvel against its peers on the same in-memory documents.
//
//   sorvel_bench [--corpus_mib=N] [Google Benchmark flags]
//
// Each benchmark is named SHAPE/DRIVER and reports bytes per second; run
// bench/run.sh for medians over repetitions and ratios to libsorvel pull.
#include "corpus.hpp"
#include "drivers.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace sorvel_bench;

void run_driver(benchmark::State &state, const driver *d,
                const std::string *doc) {
  std::vector<char> scratch(doc->size());
  std::size_t events = 0;
  for (auto _ : state) {
    if (d->needs_copy) {
      state.PauseTiming();
      std::memcpy(scratch.data(), doc->data(), doc->size());
      state.ResumeTiming();
    }
    events = d->run(doc->data(), doc->size(), scratch.data());
    benchmark::DoNotOptimize(events);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(doc->size()));
  state.counters["events"] = static_cast<double>(events);
}

} // namespace

int main(int argc, char **argv) {
  std::size_t mib = 8;
  // Our own flag goes before Google Benchmark sees the rest.
  std::vector<char *> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--corpus_mib=", 13) == 0)
      mib = std::strtoul(argv[i] + 13, nullptr, 10);
    else
      args.push_back(argv[i]);
  }
  int n = static_cast<int>(args.size());

  static std::vector<std::string> docs;
  docs.reserve(std::size(all_shapes));
  std::size_t count = 0;
  const driver *ds = drivers(count);
  for (shape s : all_shapes) {
    docs.push_back(make_corpus(s, mib << 20));
    const std::string &doc = docs.back();
    std::vector<char> scratch(doc.begin(), doc.end());
    for (std::size_t i = 0; i < count; ++i) {
      // A driver that rejects the corpus would measure nothing useful.
      if (ds[i].run(doc.data(), doc.size(), scratch.data()) == failed) {
        std::fprintf(stderr, "%s rejects the %s corpus\n", ds[i].name,
                     std::string(shape_name(s)).c_str());
        return 1;
      }
      const std::string name = std::string(shape_name(s)) + "/" + ds[i].name;
      benchmark::RegisterBenchmark(name.c_str(), run_driver, &ds[i], &doc)
          // CPU time: the machines this runs on are shared, and a parse
          // does no I/O to wait for.
          ->Unit(benchmark::kMillisecond);
    }
  }

  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data()))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
