// SPDX-License-Identifier: MIT
// Helper threads sharing chunks of work.
#include "dsp/chunk_workers.hpp"

#include <algorithm>

namespace iq {

namespace {

std::atomic<unsigned> chosen_threads{0};  // 0: the cores

}  // namespace

unsigned worker_thread_count() {
  const unsigned chosen = chosen_threads.load();
  return chosen != 0 ? chosen : std::max(std::thread::hardware_concurrency(), 1u);
}

void set_worker_thread_count(unsigned threads) { chosen_threads = threads; }

ChunkWorkers::ChunkWorkers(unsigned threads) {
  for (unsigned t = 1; t < threads; ++t) helpers_.emplace_back([this] { help(); });
}

ChunkWorkers::~ChunkWorkers() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& helper : helpers_) helper.join();
}

// `task` is only called after a chunk of `job` was taken, so a helper late for a finished job
// never touches the task, which may be gone.
void ChunkWorkers::work_on(std::uint64_t job, std::size_t chunks, const std::function<void(std::size_t)>* task) {
  std::uint64_t next = next_.load();
  while ((next >> 32) == job && (next & 0xffffffffu) < chunks) {
    if (next_.compare_exchange_weak(next, next + 1)) {
      (*task)(static_cast<std::size_t>(next & 0xffffffffu));
      done_.fetch_add(1, std::memory_order_release);
      next = next_.load();
    }
  }
}

void ChunkWorkers::help() {
  std::uint64_t seen = 0;
  for (;;) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return stopping_ || job_ != seen; });
    if (stopping_) return;
    seen = job_;
    const std::size_t chunks = chunks_;
    const auto* task = task_;
    lock.unlock();
    work_on(seen, chunks, task);
  }
}

void ChunkWorkers::run(std::size_t chunks, const std::function<void(std::size_t)>& task) {
  std::uint64_t job = 0;
  {
    const std::lock_guard lock(mutex_);
    job = job_ % 0xffffffffu + 1;  // 1 .. 2^32 - 1: fits the high half of next_
    job_ = job;
    chunks_ = chunks;
    task_ = &task;
    done_.store(0);
    next_.store(job << 32);
  }
  wake_.notify_all();
  work_on(job, chunks, &task);
  while (done_.load(std::memory_order_acquire) < chunks) std::this_thread::yield();
}

}  // namespace iq
