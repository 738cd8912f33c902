// SPDX-License-Identifier: MIT
// A fixed set of helper threads that share the independent chunks of one job at a time with
// the calling thread. The tasks may not throw.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace iq {

// Number of threads the tools work with: the machine's cores unless the run chose fewer.
unsigned worker_thread_count();
// Sets that number for the threads started from now on (at least 1); 0 goes back to the cores.
void set_worker_thread_count(unsigned threads);

// The half-open range of `count` items that share `c` of `shares` takes.
struct ItemRange {
  std::int64_t begin;
  std::int64_t end;
};
constexpr ItemRange share_of(std::int64_t count, std::int64_t c, std::int64_t shares) {
  return {count * c / shares, count * (c + 1) / shares};
}

class ChunkWorkers {
 public:
  // threads: all threads that work on a job, the caller included (1: the caller alone).
  explicit ChunkWorkers(unsigned threads);
  unsigned threads() const { return static_cast<unsigned>(helpers_.size()) + 1; }
  ChunkWorkers(const ChunkWorkers&) = delete;
  ChunkWorkers& operator=(const ChunkWorkers&) = delete;
  ~ChunkWorkers();

  // Calls task(c) once for every c in [0, chunks), spread over the threads, and returns when
  // all have returned. The caller works too and waits only for chunks a helper has started,
  // never for a helper that the system has not scheduled yet: on a busy machine a job costs
  // at most one chunk more than on the caller alone.
  void run(std::size_t chunks, const std::function<void(std::size_t)>& task);

 private:
  void help();
  // Takes and runs chunks of job `job` while any are left.
  void work_on(std::uint64_t job, std::size_t chunks, const std::function<void(std::size_t)>* task);

  // The job number in the high 32 bits, the next chunk to take in the low 32 bits: a helper
  // that comes late for a job can never take a chunk of the next one.
  std::atomic<std::uint64_t> next_{0};
  std::atomic<std::size_t> done_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t job_ = 0;  // guarded by mutex_, like the two below
  std::size_t chunks_ = 0;
  const std::function<void(std::size_t)>* task_ = nullptr;
  bool stopping_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace iq
