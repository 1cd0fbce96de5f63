// browse's keys: what each key does to the document shown and the screen.
//
//   Down (KEY_NEWLINE)       next document            Up (KEY_CTRL_Z)  previous
//   f, Home, extended 202    first (Home: table entry 33, or its usual sequences)
//   l, End, extended 203     last  (End: table entry 34, or its usual sequences)
//   PgDn, PgUp               ten documents forward, back (entries 38, 37)
//   k                        the document whose key equals the text typed in
//                            header field 0's place
//   s                        search: texts typed into the fields
//   q, Escape, end of input  end
//   n, e                     with editing on (browse --edit): a new document
//                            on a blank form, or a change of the one shown
//                            (keys of the entry: entry_screen.h)
//
// Keys the table does not name are known by their usual sequences (ESC [ H,
// ESC O H, ESC [ 1 ~ and ESC [ 7 ~ for Home; F, 4 and 8 for End; ESC [ 5 ~
// and ESC [ 6 ~ for PgUp and PgDn), as the library's mode reports them. A
// resize (TCP_KEY_RESIZE) lays the form out again in every state, the
// prompts included, which stay open.
//
// While a search text is typed, Tab and Down go to the next field, Up to
// the previous one, Ctrl-D (or Down from the last field) runs the search and
// Escape leaves the search as it was. Search texts go into the header
// fields and into the fields of detail line 0, whose texts test that field
// of every line, as the query's 'd' arguments do. Empty texts everywhere end
// the search.
#ifndef BROWSE_BROWSER_H_
#define BROWSE_BROWSER_H_

#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "header_key_index.h"
#include "layout.h"
#include "navigator.h"
#include "status.h"
#include "tcp.h"
#include "terminal_text.h"
#include "view.h"

inline constexpr int kKeyFirst = KEY_EXTENDED_BASE + 22;
inline constexpr int kKeyLast = KEY_EXTENDED_BASE + 23;
inline constexpr int kKeyHome = KEY_EXTENDED_BASE + 33;
inline constexpr int kKeyEnd = KEY_EXTENDED_BASE + 34;
inline constexpr int kKeyPageUp = KEY_EXTENDED_BASE + 37;
inline constexpr int kKeyPageDown = KEY_EXTENDED_BASE + 38;
inline constexpr int kKeyRunSearch = 4;  // Ctrl-D
inline constexpr int kPageDocuments = 10;

// The key code a key gives browse: `key` itself, or for TCP_KEY_UNKNOWN the
// key of browse's that the sequence `sequence` is the usual form of
// (kKeyHome, kKeyEnd, kKeyPageUp, kKeyPageDown), else TCP_KEY_UNKNOWN.
int BrowseKey(int key, const std::string& sequence);

// `text` and then `keys` on a message row of `width` cells: `text` is cut
// so that the key list shows whole; on a row too narrow for both (less than
// 20 cells, or the text, left beside the keys) the text alone, cut.
std::string FitMessage(const std::string& text, const std::string& keys, int width);

class Browser {
 public:
  // `engine` and the masks are kept by reference. After a save the browser
  // loads the engine again and keeps that one itself.
  Browser(const Engine& engine, const std::vector<std::string>& header_mask,
          const std::vector<std::string>& detail_mask, ScreenSize size);

  // Shows the first document and draws the whole screen.
  Status Start();
  // Handles one key (a getin1 code); `done` set when browse should end.
  Status HandleKey(int key, bool* done);
  // Lays the form out for a new window size and draws everything again.
  void Resize(ScreenSize size);
  // Draws everything again.
  void Redraw();
  // Shows `note` alone on the message row (the next key brings the status
  // and the key list back).
  void Note(const std::string& note);
  // How stored text reaches the terminal (see TerminalText).
  void set_text(TerminalText text) { view_.set_text(std::move(text)); }
  // The key list of the message row.
  static const char* KeysHelp();

  const Navigator& navigator() const { return navigator_; }
  // The search texts in force, as query arguments (header fields first).
  std::vector<QueryArgument> SearchArguments() const;
  // The status of the message row: the document shown and where it lies.
  std::string StatusText() const;
  // Lets `n` and `e` enter and change documents (off by default: browse
  // then never writes).
  void set_editing(bool on) { editing_ = on; }
  // Uses `index` for `k` instead of reading H at the first `k`.
  void set_key_index(HeaderKeyIndex index) { key_index_ = std::move(index); }

 private:
  Status TypeSearch();
  // Enters a new document (`is_new`) or changes the one shown, then shows
  // the document saved, or the one shown before.
  Status EnterDocument(bool is_new, bool* done);
  // Loads the engine again after a save, builds the navigator on it, and
  // shows record `record`.
  Status ShowSaved(int64_t record);
  const Form& form() const { return engine_->form(); }
  // The document the navigator shows, as the view draws it.
  DocumentShown Shown() const;
  const char* Keys() const;
  Status TypeKey();
  // Draws the record and the message after a move; `note` replaces the
  // status when not empty.
  void Show(const std::string& note);
  // Draws `text` and the key list `keys` on the message row.
  void Message(const std::string& text, const char* keys);
  // Lays the form out again for the window's size now.
  void ResizeToWindow();
  // Finds the record whose key is `key`: through the index of H, read at the
  // first call; through the query's key search when H cannot be read.
  Status FindKey(const std::string& key, bool* found);
  int MessageRowFromTable() const;

  const Engine* engine_;             // the one in use: the caller's, or reloaded_
  std::unique_ptr<Engine> reloaded_;  // the engine loaded after the last save
  const std::vector<std::string>& header_mask_;
  const std::vector<std::string>& detail_mask_;
  Navigator navigator_;
  View view_;
  std::vector<std::string> header_search_;  // by header field
  std::vector<std::string> detail_search_;  // by detail field
  bool hidden_named_ = false;  // the fields off the screen have been named
  HeaderKeyIndex key_index_;         // H in memory, once `k` has been used
  bool key_index_tried_ = false;
  bool editing_ = false;  // n and e enter documents
};

#endif  // BROWSE_BROWSER_H_
