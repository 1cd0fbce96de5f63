// The form: field layout of one document type.
//
// A form is loaded once from its definition file `<form>` and then only read
// (the screen masks `<form>.0` and `<form>.1` serve the entry screens only). It holds the header and
// detail field definitions, the record lengths of the store files, and the
// descriptors of the lookup tables that key fields name. The file format is
// written up in doc/form_format.md.
#ifndef QUERY_FORM_H_
#define QUERY_FORM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "status.h"

// Field type codes.
constexpr int kCalculatedType = 30;     // value from a formula
constexpr int kFirstDerivedType = 40;   // 40..49: fetched from table (type - 39)
constexpr int kLastDerivedType = 49;
constexpr int kFirstKeyType = 50;       // 50 and up: key into table (type - 49)

inline bool IsStoredType(int type) { return type < kCalculatedType || type >= kFirstKeyType; }
inline bool IsDerivedType(int type) { return type >= kFirstDerivedType && type <= kLastDerivedType; }
inline bool IsKeyType(int type) { return type >= kFirstKeyType; }
inline int KeyTable(int type) { return type - 49; }
inline int DerivedTable(int type) { return type - 39; }

// One field definition: seven signed 16-bit entries.
struct FieldDef {
  int16_t row = 0;
  int16_t column = 0;
  int16_t length = 0;
  int16_t type = 0;
  int16_t source = 0;  // derived fields: number of the key field looked up
  int16_t offset = 0;  // derived: offset in the table record; header key: description offset
  int16_t size = 0;    // derived: bytes fetched; header key: description size
};

// A lookup table as the key fields describe it (the last key field naming it wins).
struct TableDesc {
  bool named = false;           // some key field names this table
  std::string file_name;
  int record_length = 0;        // bytes between the starts of consecutive records
  int description_offset = 0;
  int description_size = 0;
};

struct Form {
  std::string path;  // the definition file; the other files append a suffix

  int header_count = 0;     // header fields
  int line_count = 0;       // detail lines
  int field_count = 0;      // fields per detail line
  int unused_count = 0;     // fourth count of the file, read and not used

  std::vector<FieldDef> ph;  // header field definitions, by field number
  std::vector<FieldDef> pd;  // detail definitions, line-major: line * field_count + field

  int64_t header_record_length = 0;  // L_h of HEAD
  int64_t detail_record_length = 0;  // L_d of DOC

  std::vector<TableDesc> tables;  // by table number; entry 0 is never a table

  const FieldDef& detail(int line, int field) const {
    return pd[static_cast<size_t>(line) * field_count + field];
  }
  // The descriptor of `table`, or nullptr when no key field names it.
  const TableDesc* table(int number) const {
    if (number <= 0 || number >= static_cast<int>(tables.size())) return nullptr;
    return tables[number].named ? &tables[number] : nullptr;
  }
};

// Room for a calculated result: "%.2lf" of any double fits.
constexpr uint32_t kCalculatedCapacity = 400;

// The bytes of text a field's value buffer may hold: its length, plus room
// for a calculated result, plus a header key's blank and description.
inline uint32_t FieldRoom(const FieldDef& def, const Form& form, bool header) {
  uint32_t room = static_cast<uint32_t>(def.length < 0 ? 0 : def.length);
  if (def.type == kCalculatedType) room += kCalculatedCapacity;
  if (header && IsKeyType(def.type)) {
    const TableDesc* t = form.table(KeyTable(def.type));
    if (t != nullptr) room += 1 + static_cast<uint32_t>(t->description_size < 0 ? 0 : t->description_size);
  }
  return room;
}

// Limits beyond which a definition file has no sensible meaning. The
// description's own table sizes (512 header fields, 199 lines, 20 fields) are
// not limits: larger forms work.
constexpr int kMaxHeaderFields = 100000;
constexpr int kMaxDetailLines = 100000;
constexpr int kMaxDetailFields = 10000;
constexpr int64_t kMaxDetailDefinitions = 1000000;
// The most room the value buffers of all fields together may take: 1 GiB
// (address space, touched only as records fill it).
constexpr int64_t kMaxFieldRoom = int64_t{1} << 30;
// The largest definition or formula file read: 16 MiB.
constexpr size_t kMaxFormFileSize = size_t{16} << 20;

// Parses the text of a definition file. `name` is used in error messages.
// A missing token, a non-number where a number belongs, a value that does not
// fit in its entry, or a negative length or count is an error naming the
// field definition at fault; `form` is then left unspecified.
Status ParseFormDefinition(const std::string& name, const std::string& text, Form* form);

// Loads `<path>` and traces "PARAMETROS LEIDOS FORM %s". A definition file
// that cannot be opened, or holds more than kMaxFormFileSize bytes, is an
// error.
Status LoadForm(const std::string& path, Form* form);

#endif  // QUERY_FORM_H_
