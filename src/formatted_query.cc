#include "formatted_query.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "engine.h"
#include "print_loop.h"
#include "row_scan.h"

namespace {

constexpr size_t kFlushSize = size_t{1} << 16;
constexpr int64_t kRecordsPerStep = 1024;

// Writes all of `*buffer` to `fd` and empties it.
Status WriteAll(int fd, std::string* buffer) {
  size_t done = 0;
  while (done < buffer->size()) {
    const ssize_t n = write(fd, buffer->data() + done, buffer->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Status::Error(std::string("cannot write the output: ") + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  buffer->clear();
  return Status::Ok();
}

}  // namespace

Status RunFormattedQuery(const std::string& form, const std::vector<std::string>& arguments, RowFormat format,
                         TextEncoding encoding, int fd, std::vector<std::string>* warnings) {
  Utf8Converter converter;
  Status s = Utf8Converter::Make(encoding, &converter);
  if (!s.ok()) return s;
  const Selection selection = Selection::FromText(arguments);
  std::unique_ptr<Engine> engine;
  EngineOptions options;
  options.form_path = form;
  s = Engine::Load(options, &engine, warnings);
  if (!s.ok()) return s;
  for (std::string& w : selection.Warnings(engine->form())) warnings->push_back(std::move(w));
  // The first reader takes over the files the engine's loading opened, and
  // their messages are among the loading's already.
  RecordReader reader;
  s = reader.Open(*engine);
  if (!s.ok()) return s;

  const RowWriter writer(format, selection.arguments(), &converter);
  std::string buffer;
  writer.Begin(&buffer);
  RowScan scan(*engine, &reader, selection);
  while (!scan.done()) {
    s = scan.Step(kRecordsPerStep, [&](int64_t, int line) {
      writer.Row(reader.values(), line, &buffer);
      return RowScan::Next::kContinue;
    });
    if (!s.ok()) break;
    if (buffer.size() >= kFlushSize) {
      Status w = WriteAll(fd, &buffer);
      if (!w.ok()) return w;
    }
  }
  Status w = WriteAll(fd, &buffer);
  if (scan.head_ended_at() >= 0) warnings->push_back(HeadShrankWarning(scan.head_ended_at()));
  return s.ok() ? w : s;
}
