#include "entry_screen.h"

#include <algorithm>
#include <cstdio>

#include "browser.h"
#include "stored_value.h"
#include "tcp.h"

namespace {

constexpr char kEntryKeys[] = "F2:save Esc:cancel Tab/Up:field ^Y:del line";
// Beside a note, which needs the room.
constexpr char kEntryKeysShort[] = "F2 Esc";
constexpr int kDateDigits = 8;
constexpr int kMaxEditWidth = 255;
// A refused date: the library has shown why; the field is edited again.
constexpr int kRefusedDate = 101;

const Placement* PlacementOf(const Layout& layout, const Form& form, EntryField at) {
  const Placement& p = at.line < 0 ? layout.header[static_cast<size_t>(at.field)]
                                   : layout.detail_at(at.line, at.field, form.field_count);
  return p.shown && p.width > 0 ? &p : nullptr;
}

const FieldDef& DefOf(const Form& form, EntryField at) {
  return at.line < 0 ? form.ph[static_cast<size_t>(at.field)] : form.detail(at.line, at.field);
}

}  // namespace

bool EntryScreen::IsSaveKey(int key, const std::string& sequence) {
  if (key == kKeySave) return true;
  return key == TCP_KEY_UNKNOWN && (sequence == "\x1bOQ" || sequence == "\x1b[12~");
}

std::string EntryScreen::Header() const {
  if (entry_->is_new()) return "NEW DOCUMENT";
  return "CHANGING " + entry_->values().header.front();
}

void EntryScreen::Draw(const std::string& note) {
  std::vector<bool> shown;
  for (const LineValues& line : entry_->values().lines) shown.push_back(line.present);
  view_->DrawForm();
  view_->DrawValues(reader_.values(), shown);
  const int width = view_->layout().size.columns - 1;
  view_->DrawMessage(note.empty() ? FitMessage(Header(), kEntryKeys, width) : FitMessage(note, kEntryKeysShort, width));
}

Status EntryScreen::Resolve() {
  return reader_.Resolve(entry_->Typed(), &missing_);
}

int EntryScreen::EditField(EntryField at) {
  const Form& form = engine_->form();
  const Placement* p = PlacementOf(view_->layout(), form, at);
  if (p == nullptr) return '\t';  // off the screen: passed over
  const FieldDef& def = DefOf(form, at);
  const int type = EditorType(def);
  const int width = IsDateType(type) ? kDateDigits : std::min({static_cast<int>(def.length), p->width, kMaxEditWidth});
  const std::string& text = entry_->Text(at);
  std::vector<char> buffer(std::max<size_t>({static_cast<size_t>(width), text.size(), kDateDigits}) + 1, '\0');
  std::copy(text.begin(), text.end(), buffer.begin());
  const int key = input(p->row, p->column, width, type, buffer.data(), 0);
  if (key != kRefusedDate) entry_->SetText(at, buffer.data());
  return key;
}

bool EntryScreen::Ask(const std::string& question) {
  for (;;) {
    view_->DrawMessage(FitMessage(question, "y/n", view_->layout().size.columns - 1));
    const int key = getin1();
    if (key == TCP_KEY_RESIZE) {
      redraw_();
      Draw("");
      continue;
    }
    return key == 'y' || key == 'Y';
  }
}

Status EntryScreen::Save(bool* saved, int64_t* record) {
  *saved = false;
  Status s = Resolve();
  if (!s.ok()) return s;
  const std::string refusal = entry_->Refusal(missing_);
  if (!refusal.empty()) {
    Draw("not saved: " + refusal);
    return Status::Ok();
  }
  StoreWriter writer;
  const Status opened = writer.Open(engine_->form(), engine_->options().store_dir);
  Status written = opened;
  if (opened.ok()) {
    *record = entry_->before().record;
    written = entry_->is_new() ? writer.Add(entry_->ToStore(), record) : writer.Save(entry_->before(), entry_->ToStore());
  }
  if (written.ok()) {
    *saved = true;
    return Status::Ok();
  }
  LoadedDocument now;
  const bool moved_on = opened.ok() && !entry_->is_new() && writer.Load(entry_->before().record, &now).ok() &&
                        now.head_record != entry_->before().head_record;
  if (moved_on && Ask("not saved: the document was changed on disk since it was loaded; load it again"
                      " (what you typed is lost)?")) {
    entry_ = DocumentEntry::Change(engine_->form(), std::move(now));
    if (!(s = Resolve()).ok()) return s;
    Draw("loaded again as it is on disk");
    return Status::Ok();
  }
  Draw("not saved: " + written.message());
  return Status::Ok();
}

Status EntryScreen::Run(DocumentEntry entry, EntryEnd* end, int64_t* record) {
  entry_ = std::move(entry);
  Status s = reader_.Open(*engine_);
  if (!s.ok()) return s;
  if (!(s = Resolve()).ok()) return s;
  Draw("");
  if (entry_->Order().empty()) {
    *end = EntryEnd::kCancelled;
    return Status::Ok();
  }
  size_t at = 0;
  for (;;) {
    std::vector<EntryField> order = entry_->Order();
    at = std::min(at, order.size() - 1);
    const EntryField field = order[at];
    int key = EditField(field);
    if (key == kRefusedDate && tcpeof() == 0) continue;
    if (key == TCP_KEY_END || tcpeof() != 0) {
      *end = EntryEnd::kEndOfInput;
      return Status::Ok();
    }
    char sequence[32] = "";
    if (key == TCP_KEY_UNKNOWN) tcplastseq(sequence, sizeof sequence);
    if (key == kKeyDeleteLine && field.line >= 0) entry_->DeleteLine(field.line);
    if (!(s = Resolve()).ok()) return s;
    auto missing = std::find(missing_.begin(), missing_.end(), MissingKey{field.line, field.field});
    Draw(missing != missing_.end() ? entry_->MissingKeyText(*missing) : std::string());
    if (key == TCP_KEY_RESIZE) {
      redraw_();
      Draw("");
    } else if (IsSaveKey(key, sequence)) {
      bool saved = false;
      if (!(s = Save(&saved, record)).ok()) return s;
      if (saved) {
        *end = EntryEnd::kSaved;
        return Status::Ok();
      }
    } else if (key == KEY_ESCAPE) {
      if (!entry_->changed() || Ask("discard the changes?")) {
        *end = EntryEnd::kCancelled;
        return Status::Ok();
      }
      Draw("");
    } else if (key == KEY_CTRL_Z) {
      at = at > 0 ? at - 1 : entry_->Order().size() - 1;
    } else if (key == '\t' || key == KEY_NEWLINE || key == 13) {
      order = entry_->Order();
      const auto here = std::find(order.begin(), order.end(), field);
      at = here == order.end() ? at : static_cast<size_t>(here - order.begin()) + 1;
      if (at >= order.size()) at = 0;
    }
  }
}
