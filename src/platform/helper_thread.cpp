#include "platform/helper_thread.h"

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Longer than the gap between two draw calls of a frame, far shorter than
// the gap between frames.
constexpr std::chrono::microseconds kSpinTime{50};

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

}  // namespace

HelperThread::HelperThread() : thread_([this] { Serve(); }) {}

HelperThread::~HelperThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true);
  }
  wake_.notify_one();
  thread_.join();
}

void HelperThread::Run(Job job, void* context) {
  const uint64_t ticket = posted_.load(std::memory_order_relaxed) + 1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    posted_.store(ticket, std::memory_order_release);
  }
  wake_.notify_one();
  job(context, 0);
  uint64_t unclaimed = ticket - 1;
  if (claimed_.compare_exchange_strong(unclaimed, ticket, std::memory_order_acq_rel)) {
    job(context, 1);
    return;
  }
  const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
  while (finished_.load(std::memory_order_acquire) != ticket) {
    if (std::chrono::steady_clock::now() < spinUntil)
      Pause();
    else
      std::this_thread::yield();
  }
}

void HelperThread::Serve() {
  uint64_t done = 0;
  for (;;) {
    const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
    while (posted_.load(std::memory_order_acquire) == done && std::chrono::steady_clock::now() < spinUntil)
      Pause();
    Job job;
    void* context;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_.load() || posted_.load(std::memory_order_relaxed) != done; });
      if (posted_.load(std::memory_order_relaxed) == done) return;  // stopping, nothing left
      job = job_;
      context = context_;
      done = posted_.load(std::memory_order_relaxed);
    }
    uint64_t unclaimed = done - 1;
    if (!claimed_.compare_exchange_strong(unclaimed, done, std::memory_order_acq_rel)) continue;
    job(context, 1);
    finished_.store(done, std::memory_order_release);
  }
}
