// Runs one driver once on one shape, for instruction counts:
//
//   sorvel_bench_once DRIVER SHAPE BYTES
//
// Corpus generation and pugixml's input copy happen outside
// sorvel_bench_measured, so `valgrind --tool=callgrind --collect-atstart=no
// --toggle-collect=sorvel_bench_measured` counts the parse alone.
#include "corpus.hpp"
#include "drivers.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" __attribute__((noinline)) std::size_t
sorvel_bench_measured(const sorvel_bench::driver *d, const char *doc,
                      std::size_t len, char *scratch) {
  return d->run(doc, len, scratch);
}

int main(int argc, char **argv) {
  using namespace sorvel_bench;
  shape s;
  const driver *d = argc == 4 ? find_driver(argv[1]) : nullptr;
  if (d == nullptr || !shape_from_name(argv[2], s)) {
    std::fprintf(stderr, "usage: %s DRIVER SHAPE BYTES\n", argv[0]);
    return 2;
  }
  const std::string doc = make_corpus(s, std::strtoul(argv[3], nullptr, 10));
  std::vector<char> scratch(doc.begin(), doc.end());
  const std::size_t events =
      sorvel_bench_measured(d, doc.data(), doc.size(), scratch.data());
  if (events == failed) {
    std::fprintf(stderr, "%s rejects the %s corpus\n", argv[1], argv[2]);
    return 1;
  }
  std::printf("%zu bytes %zu events\n", doc.size(), events);
  return 0;
}
