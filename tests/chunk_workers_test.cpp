// Worker threads: every chunk of every job runs exactly once; the thread count is capped.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <vector>

#include "dsp/chunk_workers.hpp"

namespace iq {
namespace {

TEST(ChunkWorkersTest, EveryChunkOfEveryJobRunsOnce) {
  for (const unsigned threads : {1u, 3u}) {
    ChunkWorkers workers(threads);
    std::vector<std::atomic<int>> runs(64);
    for (std::size_t job = 0; job < 3000; ++job) {
      const std::size_t chunks = job % 65;
      for (auto& count : runs) count.store(0);
      workers.run(chunks, [&](std::size_t chunk) { runs[chunk].fetch_add(1); });
      for (std::size_t c = 0; c < runs.size(); ++c) ASSERT_EQ(runs[c].load(), c < chunks ? 1 : 0) << job;
    }
  }
}

TEST(ChunkWorkersTest, ThreadCountFollowsTheEnvironmentCap) {
  ::setenv("IQTOOLS_THREADS", "1", 1);
  EXPECT_EQ(worker_thread_count(), 1u);
  ::setenv("IQTOOLS_THREADS", "many", 1);
  EXPECT_GE(worker_thread_count(), 1u);
  ::unsetenv("IQTOOLS_THREADS");
  EXPECT_EQ(share_of(10, 0, 3).end, 3);
  EXPECT_EQ(share_of(10, 2, 3).end, 10);
}

}  // namespace
}  // namespace iq
