#include "browser.h"

#include <algorithm>
#include <optional>
#include <cstdio>

#include "entry_screen.h"
#include "store_writer.h"

namespace {

constexpr char kKeysHelp[] = "Up Dn PgUp PgDn f l k:key s:search q:quit";
constexpr char kEditKeysHelp[] = "Up Dn PgUp PgDn f l k s n:new e:edit q";
// A note gets at least these cells beside the key list, or the row alone.
constexpr int kLeastNoteCells = 20;
constexpr char kSearchHelp[] = "SEARCH  Tab/Down:next field  Up:previous  Ctrl-D:search  Escape:cancel";
constexpr char kKeyHelp[] = "KEY  Down:go  Escape:cancel";
constexpr int kSearchFieldType = 7;  // text, no case toggle
constexpr int kMaxEditWidth = 255;

std::string Trimmed(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

QueryArgument SearchArgument(char letter, int field, const std::string& text) {
  QueryArgument arg;
  std::string number = std::to_string(field);
  if (field < 10) number = "0" + number;
  arg.text = std::string(1, letter) + number + ";" + text;
  arg.letter = letter;
  arg.field = field;
  arg.has_separator = true;
  arg.separator = ';';
  arg.search = text;
  for (char& c : arg.search) c = LowerAscii(c);
  return arg;
}

// Edits `text` in the cells of `p` with the field editor; returns the key
// that ended editing.
int EditText(const Placement& p, std::string* text) {
  const int width = std::min(p.width, kMaxEditWidth);
  std::vector<char> buffer(std::max<size_t>(static_cast<size_t>(width), text->size()) + 1, '\0');
  std::copy(text->begin(), text->end(), buffer.begin());
  int key = input(p.row, p.column, width, kSearchFieldType, buffer.data(), kKeyRunSearch);
  *text = buffer.data();
  return key;
}

// Shows a field's search text over underscores, as the field editor does.
void ShowSearchText(const Placement& p, const std::string& text) {
  const int width = std::min(p.width, kMaxEditWidth);
  std::string cells = text.substr(0, static_cast<size_t>(width));
  cells.resize(static_cast<size_t>(width), '_');
  pos(p.row, p.column);
  std::fputs(cells.c_str(), stdout);
}

// The usual sequences of the keys browse knows beyond the table.
struct UsualSequence {
  const char* bytes;
  int key;
};
constexpr UsualSequence kUsualSequences[] = {
    {"\x1b[H", kKeyHome},     {"\x1bOH", kKeyHome},     {"\x1b[1~", kKeyHome},   {"\x1b[7~", kKeyHome},
    {"\x1b[F", kKeyEnd},      {"\x1bOF", kKeyEnd},      {"\x1b[4~", kKeyEnd},    {"\x1b[8~", kKeyEnd},
    {"\x1b[5~", kKeyPageUp},  {"\x1b[6~", kKeyPageDown},
};

}  // namespace

namespace {

// `text` in at most `room` characters: whole parts (separated by two
// blanks) while they fit, so that no number is shown cut; cut hard only when
// not even the first part fits.
std::string CutAtPart(const std::string& text, size_t room) {
  if (text.size() <= room) return text;
  const size_t part_end = text.rfind("  ", room);
  if (part_end == std::string::npos || part_end == 0) return text.substr(0, room);
  return text.substr(0, part_end);
}

}  // namespace

int BrowseKey(int key, const std::string& sequence) {
  if (key != TCP_KEY_UNKNOWN) return key;
  for (const UsualSequence& usual : kUsualSequences) {
    if (sequence == usual.bytes) return usual.key;
  }
  return key;
}

std::string FitMessage(const std::string& text, const std::string& keys, int width) {
  if (width <= 0) return std::string();
  const int room = width - static_cast<int>(keys.size()) - 2;
  const int wanted = std::min(static_cast<int>(text.size()), kLeastNoteCells);
  if (text.empty() || (room >= wanted && room > 0)) {
    std::string fitted = text.empty() ? keys : CutAtPart(text, static_cast<size_t>(room)) + "  " + keys;
    return fitted.substr(0, static_cast<size_t>(width));
  }
  return CutAtPart(text, static_cast<size_t>(width));  // a narrow window: the note alone
}

Browser::Browser(const Engine& engine, const std::vector<std::string>& header_mask,
                 const std::vector<std::string>& detail_mask, ScreenSize size)
    : engine_(&engine),
      header_mask_(header_mask),
      detail_mask_(detail_mask),
      navigator_(engine),
      view_(engine.form(), Layout()),
      header_search_(static_cast<size_t>(engine.form().header_count)),
      detail_search_(static_cast<size_t>(engine.form().field_count)) {
  view_.set_layout(MakeLayout(form(), header_mask_, detail_mask_, size, MessageRowFromTable()));
}

const char* Browser::KeysHelp() { return kKeysHelp; }

void Browser::Note(const std::string& note) {
  view_.DrawMessage(CutAtPart(note, static_cast<size_t>(std::max(view_.layout().size.columns - 1, 0))));
}

int Browser::MessageRowFromTable() const {
  // In the library's screen mode the row is counted from the window's bottom.
  return tc[TC_MSG_ROW][0] == '\0' ? -1 : tcpmsgrow();
}

void Browser::Message(const std::string& text, const char* keys) {
  view_.DrawMessage(FitMessage(text, keys, view_.layout().size.columns - 1));
}

void Browser::ResizeToWindow() {
  ScreenSize size;
  tcpsize(&size.rows, &size.columns);
  view_.set_layout(MakeLayout(form(), header_mask_, detail_mask_, size, MessageRowFromTable()));
}

Status Browser::Start() {
  bool found = false;
  Status s = navigator_.Search({}, &found);
  if (!s.ok()) return s;
  Redraw();
  return Status::Ok();
}

std::string Browser::StatusText() const {
  if (navigator_.current() < 0) return "no documents";
  std::string text = Trimmed(navigator_.values().HeaderText(0));
  if (!text.empty()) text += "  ";
  text += std::to_string(navigator_.current() + 1) + " of " + std::to_string(navigator_.record_count());
  if (navigator_.searching()) text += "  match " + std::to_string(navigator_.match_number() + 1);
  return text;
}

DocumentShown Browser::Shown() const {
  DocumentShown shown;
  if (navigator_.current() >= 0) shown.values = &navigator_.values();
  shown.lines = navigator_.LinesShown();
  return shown;
}

void Browser::Redraw() {
  std::string message = StatusText();
  if (!hidden_named_ && !view_.layout().hidden.empty()) {
    message = "not on the screen: " + view_.layout().hidden;
    hidden_named_ = true;
  }
  view_.DrawAll(Shown(), FitMessage(message, Keys(), view_.layout().size.columns - 1));
}

void Browser::Resize(ScreenSize size) {
  view_.set_layout(MakeLayout(form(), header_mask_, detail_mask_, size, MessageRowFromTable()));
  hidden_named_ = false;
  Redraw();
}

void Browser::Show(const std::string& note) {
  view_.DrawRecord(Shown());
  Message(note.empty() ? StatusText() : note, Keys());
}

const char* Browser::Keys() const { return editing_ ? kEditKeysHelp : kKeysHelp; }

Status Browser::EnterDocument(bool is_new, bool* done) {
  const Form& form = engine_->form();
  std::optional<DocumentEntry> entry;
  if (is_new) {
    entry = DocumentEntry::Blank(form);
  } else {
    if (navigator_.current() < 0) {
      Message("no document to change", Keys());
      return Status::Ok();
    }
    StoreWriter writer;
    LoadedDocument loaded;
    Status s = writer.Open(form, engine_->options().store_dir);
    if (s.ok()) s = writer.Load(navigator_.current(), &loaded);
    if (!s.ok()) {
      Message("cannot change the document: " + s.message(), Keys());
      return Status::Ok();
    }
    entry = DocumentEntry::Change(form, std::move(loaded));
  }
  auto redraw = [this] {
    ResizeToWindow();
    view_.DrawAll(Shown(), "");
  };
  redraw();
  EntryScreen screen(engine_, &view_, redraw);
  EntryEnd end = EntryEnd::kCancelled;
  int64_t record = -1;
  Status s = screen.Run(std::move(*entry), &end, &record);
  if (!s.ok()) return s;
  if (end == EntryEnd::kEndOfInput) {
    *done = true;
    return Status::Ok();
  }
  if (end == EntryEnd::kSaved) return ShowSaved(record);
  if (!(s = navigator_.Refresh()).ok()) return s;
  view_.DrawAll(Shown(), FitMessage("nothing saved  " + StatusText(), Keys(), view_.layout().size.columns - 1));
  return Status::Ok();
}

Status Browser::ShowSaved(int64_t record) {
  // The engine is loaded again, so that the count, H and the lookups are
  // those the save left; the navigator, and the reader it holds on the old
  // engine, go before that engine does.
  std::unique_ptr<Engine> engine;
  std::vector<std::string> warnings;
  Status s = Engine::Load(engine_->options(), &engine, &warnings);
  if (!s.ok()) return s;
  navigator_ = Navigator(*engine);
  view_.set_form(engine->form());
  reloaded_ = std::move(engine);
  engine_ = reloaded_.get();
  header_search_.assign(static_cast<size_t>(form().header_count), std::string());
  detail_search_.assign(static_cast<size_t>(form().field_count), std::string());
  ResizeToWindow();  // the layout follows the form now loaded
  key_index_ = HeaderKeyIndex();
  key_index_tried_ = false;
  bool found = false;
  if (!(s = navigator_.GoToRecord(record, &found)).ok()) return s;
  Redraw();
  Message("saved  " + StatusText(), Keys());
  return Status::Ok();
}

std::vector<QueryArgument> Browser::SearchArguments() const {
  std::vector<QueryArgument> arguments;
  for (size_t f = 0; f < header_search_.size(); ++f) {
    if (!header_search_[f].empty()) arguments.push_back(SearchArgument('h', static_cast<int>(f), header_search_[f]));
  }
  for (size_t f = 0; f < detail_search_.size(); ++f) {
    if (!detail_search_[f].empty()) arguments.push_back(SearchArgument('d', static_cast<int>(f), detail_search_[f]));
  }
  return arguments;
}

Status Browser::HandleKey(int key, bool* done) {
  *done = false;
  bool moved = false;
  Status s;
  const char* edge = nullptr;
  if (key == TCP_KEY_UNKNOWN) {
    char sequence[32];
    tcplastseq(sequence, sizeof sequence);
    key = BrowseKey(key, sequence);
  }
  switch (key) {
    case KEY_NEWLINE:
      s = navigator_.Next(&moved);
      edge = "no next document";
      break;
    case KEY_CTRL_Z:
      s = navigator_.Previous(&moved);
      edge = "no previous document";
      break;
    case 'f': case 'F': case kKeyFirst: case kKeyHome:
      s = navigator_.First(&moved);
      edge = "this is the first document";
      break;
    case 'l': case 'L': case kKeyLast: case kKeyEnd:
      s = navigator_.Last(&moved);
      edge = "this is the last document";
      break;
    case kKeyPageDown:
      s = navigator_.Page(kPageDocuments, &moved);
      edge = "this is the last document";
      break;
    case kKeyPageUp:
      s = navigator_.Page(-kPageDocuments, &moved);
      edge = "this is the first document";
      break;
    case TCP_KEY_RESIZE:
      ResizeToWindow();
      hidden_named_ = false;
      Redraw();
      return Status::Ok();
    case TCP_KEY_END:
      *done = true;
      return Status::Ok();
    case 'k': case 'K':
      return TypeKey();
    case 'n': case 'N': case 'e': case 'E':
      if (!editing_) {
        Message("browse shows documents only; browse --edit FORM changes them", Keys());
        return Status::Ok();
      }
      return EnterDocument(key == 'n' || key == 'N', done);
    case 's': case 'S': case '/':
      return TypeSearch();
    case 12:  // Ctrl-L
      Redraw();
      return Status::Ok();
    case 'q': case 'Q': case KEY_ESCAPE:
      *done = true;
      return Status::Ok();
    case -1:  // the end of input, or a typed byte 0xFF
      *done = tcpeof() != 0;
      return Status::Ok();
    default:
      Message("keys:", Keys());
      return Status::Ok();
  }
  if (!s.ok()) return s;
  Show(moved || navigator_.current() < 0 ? std::string() : std::string(edge) + "  " + StatusText());
  return Status::Ok();
}

Status Browser::FindKey(const std::string& key, bool* found) {
  *found = false;
  if (!key_index_tried_ && !key_index_.loaded()) {
    key_index_tried_ = true;
    std::string why;
    const Form& form = engine_->form();
    if (form.header_count > 0) key_index_.Load("H", form.ph[0].length, navigator_.record_count(), &why);
  }
  if (key_index_.loaded()) {
    const int64_t record = key_index_.Find(key);
    if (record < 0) return navigator_.Refresh();
    return navigator_.GoToRecord(record, found);
  }
  // No H to index: the query's own key search, then the key compared whole.
  Status s = navigator_.GoToKey(key, found);
  if (!s.ok() || !*found) return s;
  *found = TrimmedKey(navigator_.values().HeaderText(0)) == TrimmedKey(key);
  return Status::Ok();
}

Status Browser::TypeKey() {
  std::string key;
  int ended;
  for (;;) {
    const Placement* p = view_.layout().header.empty() ? nullptr : &view_.layout().header[0];
    if (p == nullptr || !p->shown || p->width <= 0) {
      Message("header field 0 is not on the screen", Keys());
      return Status::Ok();
    }
    Message("", kKeyHelp);
    ended = EditText(*p, &key);
    if (ended != TCP_KEY_RESIZE) break;
    ResizeToWindow();
    Redraw();
  }
  if (ended == KEY_ESCAPE || ended == TCP_KEY_END || tcpeof() != 0 || TrimmedKey(key).empty()) {
    Show("");
    return Status::Ok();
  }
  bool found = false;
  Status s = FindKey(key, &found);
  if (!s.ok()) return s;
  if (found) std::fill(header_search_.begin(), header_search_.end(), std::string());
  if (found) std::fill(detail_search_.begin(), detail_search_.end(), std::string());
  Show(found ? std::string() : "no document has the key " + std::string(TrimmedKey(key)));
  return Status::Ok();
}

Status Browser::TypeSearch() {
  // The fields that take a search text: the header's and detail line 0's.
  struct Target {
    const Placement* place;
    std::string* text;
  };
  auto find_targets = [this] {
    std::vector<Target> targets;
    const Layout& layout = view_.layout();
    for (size_t f = 0; f < header_search_.size(); ++f) {
      if (layout.header[f].shown && layout.header[f].width > 0) targets.push_back({&layout.header[f], &header_search_[f]});
    }
    for (size_t f = 0; f < detail_search_.size() && form().line_count > 0; ++f) {
      const Placement& p = layout.detail[f];
      if (p.shown && p.width > 0) targets.push_back({&p, &detail_search_[f]});
    }
    return targets;
  };
  std::vector<Target> targets = find_targets();
  if (targets.empty()) {
    Message("no field is on the screen", Keys());
    return Status::Ok();
  }
  const std::vector<std::string> saved_header = header_search_;
  const std::vector<std::string> saved_detail = detail_search_;
  auto draw_prompt = [&] {
    view_.ClearFields();
    for (const Target& t : targets) ShowSearchText(*t.place, *t.text);
    Message("", kSearchHelp);
  };
  draw_prompt();

  size_t at = 0;
  bool run = false;
  for (;;) {
    const int key = EditText(*targets[at].place, targets[at].text);
    if (key == TCP_KEY_RESIZE) {
      ResizeToWindow();
      Redraw();
      targets = find_targets();
      if (targets.empty()) break;
      at = std::min(at, targets.size() - 1);
      draw_prompt();
      continue;
    }
    if (key == KEY_ESCAPE || key == TCP_KEY_END || tcpeof() != 0) break;
    if (key == kKeyRunSearch) {
      run = true;
      break;
    }
    if (key == KEY_CTRL_Z) {
      if (at > 0) --at;
    } else if (++at == targets.size()) {
      run = true;
      break;
    }
  }
  std::string note;
  if (run) {
    Navigator probe(*engine_);
    bool found = false;
    Status s = probe.Search(SearchArguments(), &found);
    if (!s.ok()) return s;
    if (found) {
      navigator_ = std::move(probe);
    } else {
      note = "no document matches";
      run = false;
    }
  }
  if (!run) {
    header_search_ = saved_header;
    detail_search_ = saved_detail;
    Status s = navigator_.Refresh();
    if (!s.ok()) return s;
  }
  view_.DrawAll(Shown(), FitMessage(note.empty() ? StatusText() : note + "  " + StatusText(), Keys(),
                                       view_.layout().size.columns - 1));
  return Status::Ok();
}
