// The forms a service serves, each loaded once and reloaded whole when its
// files change.
//
// Only the forms named at start are ever served; a request names a form by
// its served name and never reaches a file path. Each form is held as an
// immutable snapshot (its engine and screen masks) behind a shared pointer:
// a request takes the current snapshot and keeps it to its end, while a
// reload builds a new one beside it and swaps the pointer, so no request
// ever sees a half-loaded form.
#ifndef SERVE_FORM_REGISTRY_H_
#define SERVE_FORM_REGISTRY_H_

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine.h"
#include "status.h"

// Records found by key, remembered for the life of one snapshot: the
// engine's search reads H from its start on every call. A snapshot is
// replaced when H changes, and a caller checks the record it is given.
class KeyMemo {
 public:
  // The record remembered for `key`, or -1.
  int64_t Find(const std::string& key) const;
  // Remembers `record` for `key`; forgets everything once kMaxKeys are held.
  void Remember(const std::string& key, int64_t record) const;
  static constexpr size_t kMaxKeys = 200000;

 private:
  mutable std::mutex mutex_;
  mutable std::unordered_map<std::string, int64_t> records_;
};

// One loaded form.
struct ServedForm {
  std::string name;                      // as URLs name it
  std::shared_ptr<const Engine> engine;  // shared by every request
  std::vector<std::string> header_mask;  // lines of <form>.0
  std::vector<std::string> detail_mask;  // lines of <form>.1
  KeyMemo keys;                          // a cache; safe from any thread
};

class FormRegistry {
 public:
  // Loads each of `forms` over the store in `store_dir`. A form given
  // without a '/' is found in the store directory; with one, as a path from
  // the working directory. Its served name is its file name, which must be
  // made of letters, digits, '_', '-' and '.' (not first) and unique. The
  // first form that cannot be loaded is an error naming it.
  static Status Open(const std::string& store_dir, const std::vector<std::string>& forms,
                     std::unique_ptr<FormRegistry>* registry, std::vector<std::string>* warnings);

  // The current snapshot of the form served as `name`; null for any other name.
  std::shared_ptr<const ServedForm> Find(std::string_view name) const;
  // The served names, in the order given at start.
  std::vector<std::string> names() const;

  // Reloads each form whose definition, masks, formula file, lookup tables
  // or store files (INFO, H) changed since it was last looked at. A reload
  // that fails keeps the previous snapshot; its message is added to
  // `messages` once per change of the files. Safe to call beside Find.
  void Refresh(std::vector<std::string>* messages);

 private:
  struct Slot;
  FormRegistry() = default;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::string store_dir_;

 public:
  ~FormRegistry();
};

// A name fit to serve: see Open.
bool IsServableName(std::string_view name);

#endif  // SERVE_FORM_REGISTRY_H_
