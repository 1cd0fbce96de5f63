// Typing a document in on the screen: the field editor in each stored field
// in turn, the document resolved after every field (lookups and formulas,
// as the reader resolves a stored record), and the save through the store
// writer.
//
//   Tab, Enter, Down   next field              Up       previous field
//   Ctrl-Y             delete the detail line the cursor is on
//   F2                 save                    Escape   cancel (asks first
//                                                        when something changed)
//
// A refused date stays in its field, with the library's message. A key
// field's table that lacks the key typed is named on the message row when
// the cursor leaves the field, and the save is refused until it is
// corrected. A refused save says why and keeps what was typed; one refused
// because the document changed on disk since it was loaded offers to load
// it again.
#ifndef BROWSE_ENTRY_SCREEN_H_
#define BROWSE_ENTRY_SCREEN_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"
#include "entry.h"
#include "status.h"
#include "tcp.h"
#include "view.h"

inline constexpr int kKeySave = KEY_EXTENDED_BASE + 22;  // F2 (table entry 22)
inline constexpr int kKeyDeleteLine = 25;                // Ctrl-Y

// How an entry ended.
enum class EntryEnd { kSaved, kCancelled, kEndOfInput };

class EntryScreen {
 public:
  // `engine` and `view` must outlive the screen. `redraw` lays the
  // form out for the window's size now and draws the screen under the
  // values (masks, frame); the screen then draws its own values on it.
  EntryScreen(const Engine* engine, View* view, std::function<void()> redraw)
      : engine_(engine), view_(view), redraw_(std::move(redraw)) {}

  // Edits `entry` until it is saved, cancelled or input ends. `record`
  // receives the saved document's record number. A failure is returned
  // only for what ends browse (a lookup table that cannot be read).
  Status Run(DocumentEntry entry, EntryEnd* end, int64_t* record);

  // The key that saves, also as the usual sequences of F2 when the table
  // does not name it.
  static bool IsSaveKey(int key, const std::string& sequence);

 private:
  // Resolves the values typed and draws them.
  Status Resolve();
  void Draw(const std::string& note);
  // Edits field `at`; returns the key that ended editing.
  int EditField(EntryField at);
  // Asks `question` on the message row; true for 'y'.
  bool Ask(const std::string& question);
  // Tries to save; `saved` when the document was written.
  Status Save(bool* saved, int64_t* record);
  std::string Header() const;

  const Engine* engine_;
  View* view_;
  std::function<void()> redraw_;
  RecordReader reader_;
  std::optional<DocumentEntry> entry_;  // the document being typed, during Run
  std::vector<MissingKey> missing_;
};

#endif  // BROWSE_ENTRY_SCREEN_H_
