#include "parallel_run.h"

#include "print_loop.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// A chunk covers at most about this many bytes of HEAD: enough that a
// worker's reads of HEAD and DOC start afresh seldom, few enough that the
// output of the chunks in flight stays small whatever the store's size.
constexpr int64_t kChunkHeadBytes = 256 << 10;
constexpr int64_t kMinChunkRecords = 1024;
// A chunk holds at most 1/(kTailShares × threads) of the records still
// left when it is cut.
constexpr int64_t kTailShares = 4;
// Chunks each worker may have ahead of the one being written.
constexpr int64_t kChunksAheadPerWorker = 2;

// One chunk's place in the ring of chunks in flight.
struct ChunkSlot {
  OutputBlocks text;            // what its records print
  Status status;                // a failure that ended the chunk early
  int64_t head_ended_at = -1;   // the record HEAD no longer holds, if met
  bool done = false;
};

// What the workers and the writing thread share.
class ChunkRing {
 public:
  // Chunk c covers records [bounds[c], bounds[c + 1]).
  ChunkRing(std::vector<int64_t> bounds, int64_t slots)
      : bounds_(std::move(bounds)), slots_(static_cast<size_t>(slots)),
        chunk_count_(static_cast<int64_t>(bounds_.size()) - 1) {}

  int64_t chunk_count() const { return chunk_count_; }
  int64_t ChunkFirst(int64_t c) const { return bounds_[static_cast<size_t>(c)]; }
  int64_t ChunkEnd(int64_t c) const { return bounds_[static_cast<size_t>(c) + 1]; }
  ChunkSlot& Slot(int64_t c) { return slots_[static_cast<size_t>(c) % slots_.size()]; }

  // The next chunk for a worker, once its slot is free; -1 when there is
  // none left or the run is stopping.
  int64_t Claim() {
    std::unique_lock<std::mutex> lock(mutex_);
    free_.wait(lock, [&] {
      return stopping_ || next_ >= chunk_count_ || next_ < written_ + static_cast<int64_t>(slots_.size());
    });
    if (stopping_ || next_ >= chunk_count_) return -1;
    return next_++;
  }
  void Finish(int64_t c) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot(c).done = true;
    done_.notify_all();
  }
  // Waits for chunk c, the next to write.
  ChunkSlot& WaitFor(int64_t c) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return Slot(c).done; });
    return Slot(c);
  }
  // Frees chunk c's slot once it is written.
  void Written(int64_t c) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot(c).done = false;
    Slot(c).text.Recycle();
    written_ = c + 1;
    free_.notify_all();
  }
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    free_.notify_all();
  }

 private:
  const std::vector<int64_t> bounds_;
  std::vector<ChunkSlot> slots_;
  const int64_t chunk_count_;
  std::mutex mutex_;
  std::condition_variable free_;  // a slot was freed, or the run stops
  std::condition_variable done_;  // a chunk was finished
  int64_t next_ = 0;              // the next chunk to claim
  int64_t written_ = 0;           // chunks below this are written
  bool stopping_ = false;
};

// The bounds of the chunks of records [first, end): at most `largest`
// records each, and smaller toward the end, each at most a share of what is
// left, so that the workers run out of chunks close together instead of one
// finishing a whole large chunk alone. Never below kMinChunkRecords but for
// the last.
std::vector<int64_t> ChunkBounds(int64_t first, int64_t end, int64_t largest, int threads) {
  std::vector<int64_t> bounds{first};
  for (int64_t at = first; at < end;) {
    const int64_t share = (end - at) / (kTailShares * threads);
    at = std::min(end, at + std::clamp(share, kMinChunkRecords, std::max(largest, kMinChunkRecords)));
    bounds.push_back(at);
  }
  return bounds;
}

// A worker: its own reader of the engine, walking the chunks it claims
// into their slots.
void Work(ChunkRing* ring, const Engine* engine, const Selection* selection, int worker, int workers) {
  RecordReader reader;
  const Status opened = reader.Open(*engine);
  if (opened.ok()) {
    reader.DeferFieldsOutputOnly(*selection);
    reader.PrepareLookupsForLongWalk(worker, workers);
  }
  for (int64_t c = ring->Claim(); c >= 0; c = ring->Claim()) {
    ChunkSlot& slot = ring->Slot(c);
    if (!opened.ok()) {
      slot.status = opened;
    } else {
      Output out(&slot.text);
      slot.status = PrintMatches(&reader, engine->form(), *selection, {ring->ChunkFirst(c), ring->ChunkEnd(c)},
                                 &out, &slot.head_ended_at);
    }
    ring->Finish(c);
  }
}

}  // namespace

int ThreadsFor(const Engine& engine, RecordRange range, int wanted) {
  const int64_t records = range.size();
  if (wanted <= 1 || records < 2 * kMinRecordsPerThread || !engine.RecordsIndependent()) return 1;
  return static_cast<int>(std::min<int64_t>(wanted, records / kMinRecordsPerThread));
}

Status RunParallel(const Engine& engine, const Selection& selection, RecordRange range, int threads, Output* out,
                   std::vector<std::string>* warnings) {
  const int64_t chunk_records =
      std::max(kMinChunkRecords, kChunkHeadBytes / std::max<int64_t>(1, engine.form().header_record_length));
  ChunkRing ring(ChunkBounds(range.first, range.end, chunk_records, threads), kChunksAheadPerWorker * threads);
  std::vector<std::thread> workers;
  workers.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) workers.emplace_back(Work, &ring, &engine, &selection, i, threads);
  Status result;
  for (int64_t c = 0; c < ring.chunk_count(); ++c) {
    ChunkSlot& slot = ring.WaitFor(c);
    for (const OutputBlocks::Block& block : slot.text.filled) out->AppendThrough({block.bytes.get(), block.size});
    if (!slot.status.ok() || slot.head_ended_at >= 0) {
      if (slot.head_ended_at >= 0) warnings->push_back(HeadShrankWarning(slot.head_ended_at));
      result = slot.status;
      break;
    }
    // A failed write (a closed pipe, a full disk) ends the run as it would
    // end one thread's: the query's caller reports it.
    if (out->write_error() != 0) break;
    ring.Written(c);
  }
  ring.Stop();
  for (std::thread& t : workers) t.join();
  return result;
}

int AvailableProcessors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}
