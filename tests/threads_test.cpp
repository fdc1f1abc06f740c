// Several threads, each with its own context and text buffer, tokenize the
// same shared documents at once, pulled and pushed in chunks of different
// sizes, and must get exactly the tokens of a run alone. Meant to run under
// ThreadSanitizer (the tsan preset): the library keeps no mutable globals.
#include "support.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

struct job {
  std::string_view doc;
  std::uint32_t options;
  std::uint32_t size;
};

struct result {
  std::vector<std::string> tokens;
  std::uint32_t state = 0;
  std::uint32_t depth = 0;
};

void record(void *user, std::int32_t type, const char *name, const char *text,
            std::uint32_t len) {
  static_cast<result *>(user)->tokens.push_back(
      sorvel_test::describe(type, name, text, len));
}

// Reads the shared document in place: only the library's own context and
// buffer are written.
result run(const job &j, std::size_t step, bool pushed) {
  result r;
  std::vector<char> buf(j.size);
  sorvel_ctx ctx;
  if (sorvel_init(&ctx, buf.data(), j.size, j.options) != 0)
    return r;
  for (std::size_t at = 0; at < j.doc.size() && ctx.state != 0; at += step) {
    const auto n =
        static_cast<std::uint32_t>(std::min(step, j.doc.size() - at));
    const char *chunk = j.doc.data() + at;
    if (pushed) {
      sorvel_parse(&ctx, chunk, n, &r, record);
      continue;
    }
    sorvel_begin(&ctx, chunk, n);
    sorvel_token t;
    while (sorvel_next(&ctx, &t) != nullptr)
      r.tokens.push_back(sorvel_test::describe(t));
  }
  r.state = ctx.state;
  r.depth = ctx.depth;
  return r;
}

std::string big_document() {
  std::string d = "<catalog>";
  for (int i = 0; i < 400; ++i) {
    d += "<book><title>Title number " + std::to_string(i) +
         " &amp; friends</title><!-- note --><price>" + std::to_string(i * 7) +
         "</price><blurb>" +
         std::string(static_cast<std::size_t>(i % 90), 'b') +
         "</blurb><empty/></book>\n";
  }
  return d + "</catalog>";
}

} // namespace

int main() {
  const std::string big = big_document();
  const std::string docs[] = {
      big,
      "<a>x&amp;y<b/>z</a>",
      "<t>" + std::string(100, 'x') + "<c>in</c>" + std::string(40, 'y') +
          "</t>",
      "<a><a><a><a><a><a><a><a>deep</a></a></a></a></a></a></a></a>",
      "<a>&bogus;</a>",
      "<r><x>1</x></y></r>",
      "<e>&lt;&gt;&quot;&apos;\xe2\x82\xac</e>",
  };
  std::vector<job> jobs;
  for (const std::string &d : docs)
    for (std::uint32_t options = 0; options < 4; ++options)
      for (std::uint32_t size : {32u, 33u, 64u, 257u})
        jobs.push_back({d, options, size});

  std::vector<result> alone;
  for (const job &j : jobs)
    alone.push_back(run(j, j.doc.size(), false));

  constexpr int nthreads = 4;
  std::atomic<int> ready{0};
  std::atomic<long> failures{0};
  std::atomic<long> runs{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < nthreads; ++k) {
    threads.emplace_back([&, k] {
      // Start together, so that the runs overlap.
      ready.fetch_add(1);
      while (ready.load() < nthreads)
        std::this_thread::yield();
      const std::size_t steps[] = {1, 7, 64, 4096};
      for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < jobs.size(); ++i) {
          // Each thread walks the jobs from a different place.
          const std::size_t n =
              (i + static_cast<std::size_t>(k) * 5) % jobs.size();
          const std::size_t step = steps[(static_cast<std::size_t>(k) +
                                          static_cast<std::size_t>(round)) %
                                         4];
          const result r = run(jobs[n], step, (k + round) % 2 == 1);
          runs.fetch_add(1);
          if (r.tokens != alone[n].tokens || r.state != alone[n].state ||
              r.depth != alone[n].depth) {
            if (failures.fetch_add(1) == 0)
              std::fprintf(stderr,
                           "thread %d: job %zu (options %u, size %u, step "
                           "%zu) differs from the run alone\n",
                           k, n, jobs[n].options, jobs[n].size, step);
          }
        }
    });
  }
  for (std::thread &t : threads)
    t.join();
  std::printf("%ld runs in %d threads, %ld differing from the run alone\n",
              runs.load(), nthreads, failures.load());
  return failures.load() == 0 ? 0 : 1;
}
