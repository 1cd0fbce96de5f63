// Memory for the large buffers of a run: lookup keys and their indexes,
// tables and files held whole, and the output of a chunk of records.
//
// Buffers of kLargeBufferThreshold bytes or more are mapped on 2 MiB
// boundaries, and the kernel is asked to back the whole 2 MiB pieces of
// each with transparent huge pages. Each first touch of a 4 KiB page is a
// page fault, and on a virtual machine one fault can cost several
// microseconds; a 2 MiB page costs about what twenty small ones do, so a
// buffer that is filled whole costs a small fraction of the faults. A huge
// page is cleared whole when first touched, so a buffer's tail short of
// 2 MiB, and a buffer smaller than that, take small pages: there a huge
// page would clear memory the run never uses, and where the host gave freed
// memory back, touching it again costs far more than the faults saved.
// Buffers read at random places are the exception (PageUse).
// Where the kernel gives no huge pages, or the buffer is filled only as far
// as needed (PageUse), it behaves as ordinary memory. Smaller buffers come
// from the heap, in whole cache lines.
#ifndef QUERY_LARGE_BUFFER_H_
#define QUERY_LARGE_BUFFER_H_

#include <cstddef>
#include <new>
#include <utility>

// The size of a cache line, and more: the unit of memory that processors
// pass between their caches. Memory that one thread writes while others read
// memory next to it is kept this far apart.
constexpr size_t kCacheLineBytes = 128;

// Buffers from this size on are mapped for huge pages.
constexpr size_t kLargeBufferThreshold = size_t{256} << 10;

// How a buffer is filled and read, which decides whether huge pages are
// asked for. A buffer a run fills whole gains by them. One filled only as
// far as a run needs (a table's keys, read up to the ones looked up) takes
// small pages: a run that needs little of it then never waits for the
// kernel to gather a huge page, which can take milliseconds when memory is
// fragmented. One filled whole and then read at random places all run long
// (a key index, a table or a file held in memory) also takes a huge page
// for a tail of half a huge page or more: with small pages, most lookups
// would miss the processor's cache of page translations, which over a run
// costs far more than clearing the tail's unused bytes once.
enum class PageUse { kFilledWhole, kFilledAsNeeded, kReadAtRandom };

// `bytes` of uninitialized memory; throws std::bad_alloc when there is none.
void* AllocateLarge(size_t bytes, PageUse use = PageUse::kFilledWhole);
// Frees what AllocateLarge(bytes) returned.
void FreeLarge(void* memory, size_t bytes) noexcept;

// A standard allocator over AllocateLarge, for vectors and strings that may
// grow large, their memory used as `use` says.
template <class T, PageUse use = PageUse::kFilledWhole>
struct LargeAllocator {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = LargeAllocator<U, use>;
  };
  LargeAllocator() = default;
  template <class U>
  LargeAllocator(const LargeAllocator<U, use>&) noexcept {}
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateLarge(n * sizeof(T), use));
  }
  void deallocate(T* p, size_t n) noexcept { FreeLarge(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const LargeAllocator<U, use>&) const noexcept { return true; }
};

// A byte buffer of a fixed size, uninitialized, owned alone. Even an empty
// one has a valid data pointer.
class LargeBuffer {
 public:
  LargeBuffer() = default;
  explicit LargeBuffer(size_t size, PageUse use = PageUse::kFilledWhole)
      : data_(static_cast<char*>(AllocateLarge(Allocated(size), use))), size_(size) {}
  LargeBuffer(LargeBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  LargeBuffer& operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;
  ~LargeBuffer() { Release(); }

  char* data() { return data_; }
  const char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void Release() {
    if (data_ != nullptr) FreeLarge(data_, Allocated(size_));
    data_ = nullptr;
    size_ = 0;
  }
  static size_t Allocated(size_t size) { return size > 0 ? size : 1; }
  char* data_ = nullptr;
  size_t size_ = 0;
};

#endif  // QUERY_LARGE_BUFFER_H_
