#include "parallel_run.h"

#include "large_buffer.h"
#include "print_loop.h"
#include "thread_start.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

// One chunk's place in the ring of chunks in flight. Its worker writes it
// as it prints while another writes the slot beside it: each on cache lines
// of its own.
struct alignas(kCacheLineBytes) ChunkSlot {
  OutputBlocks text;           // what its records print, not yet written out
  Status status;               // a failure that ended the chunk early
  int64_t head_ended_at = -1;  // the record HEAD no longer holds, if met
  bool done = false;           // printed whole, waiting for its turn to be written
};

// What the workers share. The output is written by one worker at a time:
// the one whose chunk's turn it is. It writes its own chunk's buffers as it
// fills them (so that it reuses a buffer still in its cache); when its chunk
// ends it writes any later chunks already printed whole, and then passes the
// turn on to the chunk being printed, whose worker takes it up at its next
// buffer. A failure, or a record HEAD no longer holds, ends the run after
// its chunk's output, as one thread would end it.
class ChunkRing {
 public:
  // Chunk c covers records [bounds[c], bounds[c + 1]).
  ChunkRing(std::vector<int64_t> bounds, int64_t slots, Output* out)
      : bounds_(std::move(bounds)), slots_(static_cast<size_t>(slots)),
        chunk_count_(static_cast<int64_t>(bounds_.size()) - 1), out_(out) {}

  int64_t ChunkFirst(int64_t c) const { return bounds_[static_cast<size_t>(c)]; }
  int64_t ChunkEnd(int64_t c) const { return bounds_[static_cast<size_t>(c) + 1]; }
  ChunkSlot& Slot(int64_t c) { return slots_[static_cast<size_t>(c) % slots_.size()]; }

  // The next chunk for a worker, once its slot is free; -1 when there is
  // none left or the run has ended.
  int64_t Claim() {
    std::unique_lock<std::mutex> lock(mutex_);
    free_.wait(lock, [&] { return stopped_ || next_ >= chunk_count_ || next_ < turn_.load() + Slots(); });
    if (stopped_ || next_ >= chunk_count_) return -1;
    return next_++;
  }
  // Called by chunk c's worker for each buffer it fills: writes the chunk's
  // buffers out once its turn has come. Only c's worker passes the turn on
  // from c, so the turn read here cannot move past c meanwhile.
  void Filled(int64_t c) {
    if (turn_.load(std::memory_order_acquire) == c) WriteOut(&Slot(c));
  }
  // Called by chunk c's worker when c is printed whole.
  void Finish(int64_t c) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopped_) return;  // the run ended with an earlier chunk
      if (turn_ != c) {
        Slot(c).done = true;  // the worker that passes the turn to c writes it
        return;
      }
    }
    for (;;) {  // chunk c's turn, and this thread's: write it, then pass the turn on
      ChunkSlot& slot = Slot(c);
      WriteOut(&slot);
      const bool ends_run = EndsRun(slot);
      std::lock_guard<std::mutex> lock(mutex_);
      slot.done = false;  // the next worker in this slot sets its status and HEAD's end
      if (ends_run || c + 1 >= chunk_count_) {
        stopped_ = true;
        turn_.store(-1, std::memory_order_release);  // no chunk's turn any more
        free_.notify_all();
        return;
      }
      turn_.store(c + 1, std::memory_order_release);
      free_.notify_all();
      if (!Slot(c + 1).done) return;  // being printed: its worker takes the turn up
      ++c;
    }
  }
  // The run's status and warnings, once every worker has ended.
  Status result() const { return result_; }
  std::vector<std::string> TakeWarnings() { return std::move(warnings_); }

 private:
  int64_t Slots() const { return static_cast<int64_t>(slots_.size()); }
  // Writes the buffers `slot` has filled and keeps them for its next ones.
  void WriteOut(ChunkSlot* slot) {
    for (OutputBlocks::Block& block : slot->text.filled) out_->AppendThrough({block.bytes.get(), block.size});
    slot->text.Recycle();
  }
  // Whether the run ends with this chunk, written out: a failure, a record
  // HEAD no longer holds, or a failed write (a closed pipe, a full disk),
  // which the query's caller reports.
  bool EndsRun(const ChunkSlot& slot) {
    if (slot.head_ended_at >= 0) warnings_.push_back(HeadShrankWarning(slot.head_ended_at));
    if (!slot.status.ok()) result_ = slot.status;
    return !slot.status.ok() || slot.head_ended_at >= 0 || out_->write_error() != 0;
  }

  const std::vector<int64_t> bounds_;
  std::vector<ChunkSlot> slots_;
  const int64_t chunk_count_;
  Output* const out_;                     // written only by the worker whose chunk's turn it is
  std::mutex mutex_;
  std::condition_variable free_;          // a slot was freed, or the run ended
  int64_t next_ = 0;                      // the next chunk to claim
  // The chunk whose output is written next, -1 once the run has ended;
  // changed under mutex_, read without it by the turn's own worker.
  std::atomic<int64_t> turn_{0};
  bool stopped_ = false;
  Status result_;                         // written by the turn's holder
  std::vector<std::string> warnings_;     // likewise
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
      slot.text.on_filled = [ring, c] { ring->Filled(c); };
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
  ChunkRing ring(ChunkBounds(range.first, range.end, chunk_records, threads), kChunksAheadPerWorker * threads, out);
  // A thread that cannot be started (a limit on processes or on memory for
  // its stack) leaves the walk to those that could be; the chunks and the
  // tables go to whoever takes them. With none, this thread walks alone.
  std::vector<std::thread> workers;
  StartThreadsAllowed(static_cast<size_t>(threads), &workers,
                      [&](size_t i) { Work(&ring, &engine, &selection, static_cast<int>(i), threads); });
  if (workers.empty()) Work(&ring, &engine, &selection, 0, 1);
  for (std::thread& t : workers) t.join();
  for (std::string& w : ring.TakeWarnings()) warnings->push_back(std::move(w));
  return ring.result();
}

int AvailableProcessors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}
