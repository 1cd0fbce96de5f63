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
// caller decides what the missing ones' share of the work becomes.
template <class Body>
void StartThreadsAllowed(size_t count, std::vector<std::thread>* threads, const Body& body) {
  threads->reserve(threads->size() + count);
  for (size_t i = 0; i < count; ++i) {
    try {
      threads->emplace_back(body, i);
    } catch (const std::system_error&) {
      return;
    } catch (const std::bad_alloc&) {
      return;
    }
  }
}

#endif  // QUERY_THREAD_START_H_
