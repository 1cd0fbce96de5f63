// Starting worker threads where the system may refuse some of them.
#ifndef QUERY_THREAD_START_H_
#define QUERY_THREAD_START_H_

#include <cstddef>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

// Starts up to `count` threads running `body(i)` for i = 0, 1, ... and adds
// them to `threads`, stopping at the first the system refuses (a limit on
// processes, or on memory for its stack): those started run on, and the
// caller decides what the missing ones' share of the work becomes. Returns
// the number started.
template <class Body>
size_t StartThreadsAllowed(size_t count, std::vector<std::thread>* threads, const Body& body) {
  threads->reserve(threads->size() + count);
  size_t started = 0;
  for (; started < count; ++started) {
    try {
      threads->emplace_back(body, started);
    } catch (const std::system_error&) {
      break;
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  return started;
}

#endif  // QUERY_THREAD_START_H_
