// A fixed set of worker threads for fork-join steps: run(job) calls job(w) for every worker
// index w = 0 .. size()-1 at once and returns when all have finished. Worker 0 is the calling
// thread, so a pool of one runs everything inline.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace iq {

// Number of worker threads the tools use: the machine's cores, capped by the environment
// variable IQTOOLS_THREADS (a whole number from 1) when it is set.
int worker_thread_count();

class WorkerPool {
 public:
  explicit WorkerPool(int workers);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  int size() const { return static_cast<int>(threads_.size()) + 1; }

  // Runs job(w) on every worker; rethrows the first exception a job threw.
  void run(const std::function<void(int)>& job);

 private:
  void serve(int worker);

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  const std::function<void(int)>* job_ = nullptr;
  std::uint64_t generation_ = 0;
  int running_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
};

// The half-open range of `count` items that worker `w` of `workers` takes.
struct ItemRange {
  std::int64_t begin;
  std::int64_t end;
};
constexpr ItemRange share_of(std::int64_t count, int w, int workers) {
  return {count * w / workers, count * (w + 1) / workers};
}

}  // namespace iq
