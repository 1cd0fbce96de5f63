// browse's keys: what each key does to the document shown and the screen.
//
//   Down (KEY_NEWLINE)       next document            Up (KEY_CTRL_Z)  previous
//   f, or extended key 202   first (table entry 22; a table may put Home there)
//   l, or extended key 203   last  (table entry 23; a table may put End there)
//   k                        a document by its key, typed in header field 0's place
//   s                        search: texts typed into the fields
//   q, Escape, end of input  end
//
// While a search text is typed, Tab and Down go to the next field, Up to
// the previous one, Ctrl-D (or Down from the last field) runs the search and
// Escape leaves the search as it was. Search texts go into the header
// fields and into the fields of detail line 0, whose texts test that field
// of every line, as the query's 'd' arguments do. Empty texts everywhere end
// the search.
#ifndef BROWSE_BROWSER_H_
#define BROWSE_BROWSER_H_

#include <string>
#include <vector>

#include "layout.h"
#include "navigator.h"
#include "query.h"
#include "status.h"
#include "tcp.h"
#include "view.h"

inline constexpr int kKeyFirst = KEY_EXTENDED_BASE + 22;
inline constexpr int kKeyLast = KEY_EXTENDED_BASE + 23;
inline constexpr int kKeyRunSearch = 4;  // Ctrl-D

class Browser {
 public:
  // `query` has been started; both it and the masks are kept by reference.
  Browser(Query* query, const std::vector<std::string>& header_mask,
          const std::vector<std::string>& detail_mask, ScreenSize size);

  // Shows the first document and draws the whole screen.
  Status Start();
  // Handles one key (a getin1 code); `done` set when browse should end.
  Status HandleKey(int key, bool* done);
  // Lays the form out for a new window size and draws everything again.
  void Resize(ScreenSize size);
  // Draws everything again.
  void Redraw();

  const Navigator& navigator() const { return navigator_; }
  // The search texts in force, as query arguments (header fields first).
  std::vector<QueryArgument> SearchArguments() const;
  // The text of the message row's status.
  std::string StatusText() const;

 private:
  Status TypeSearch();
  Status TypeKey();
  // Draws the record and the message after a move; `note` replaces the
  // status when not empty.
  void Show(const std::string& note);
  int MessageRowFromTable() const;

  Query* query_;
  const std::vector<std::string>& header_mask_;
  const std::vector<std::string>& detail_mask_;
  Navigator navigator_;
  View view_;
  std::vector<std::string> header_search_;  // by header field
  std::vector<std::string> detail_search_;  // by detail field
  bool hidden_named_ = false;  // the fields off the screen have been named
};

#endif  // BROWSE_BROWSER_H_
