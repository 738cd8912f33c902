// Fork-join worker threads.
#include "worker_pool.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace iq {

int worker_thread_count() {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
  if (cores < 1) cores = 1;
  if (const char* cap = std::getenv("IQTOOLS_THREADS")) {
    char* end = nullptr;
    const long value = std::strtol(cap, &end, 10);
    if (end != cap && *end == '\0' && value >= 1) return static_cast<int>(std::min<long>(value, cores));
  }
  return cores;
}

WorkerPool::WorkerPool(int workers) {
  for (int w = 1; w < workers; ++w) threads_.emplace_back([this, w] { serve(w); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  start_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void WorkerPool::run(const std::function<void(int)>& job) {
  {
    std::lock_guard lock(mutex_);
    job_ = &job;
    running_ = static_cast<int>(threads_.size());
    failure_ = nullptr;
    ++generation_;
  }
  start_.notify_all();
  std::exception_ptr own_failure;
  try {
    job(0);
  } catch (...) {
    own_failure = std::current_exception();
  }
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return running_ == 0; });
  job_ = nullptr;
  if (own_failure) std::rethrow_exception(own_failure);
  if (failure_) std::rethrow_exception(failure_);
}

void WorkerPool::serve(int worker) {
  std::uint64_t seen = 0;
  for (;;) {
    const std::function<void(int)>* job = nullptr;
    {
      std::unique_lock lock(mutex_);
      start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      job = job_;
    }
    try {
      (*job)(worker);
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      --running_;
    }
    done_.notify_one();
  }
}

}  // namespace iq
