#include "parallel.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

unsigned int available_cores() {
  const unsigned int n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

void parallel_for(size_t count, unsigned int jobs, const std::function<void(size_t)>& body) {
  std::vector<std::exception_ptr> errors(count);
  std::atomic<size_t> next{0};
  std::atomic<size_t> first_failure{count};
  auto work = [&] {
    for (;;) {
      const size_t i = next++;
      if (i >= count || i > first_failure.load()) return;
      try {
        body(i);
      } catch (...) {
        errors[i] = std::current_exception();
        size_t failed = first_failure.load();
        while (i < failed && !first_failure.compare_exchange_weak(failed, i)) {
        }
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned int t = 1; t < jobs && t < count; t++) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the ones running share the work
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
  if (first_failure < count) std::rethrow_exception(errors[first_failure]);
}
