// A document laid out as the form's entry screen shows it: the mask text of
// <form>.0 and <form>.1 with each field's display value on its own row and
// column, written as HTML (a <pre> of rows, each field a <span> named by its
// id, so that a person reads the screen and a program or a test finds a
// field).
#ifndef SERVE_SCREEN_GRID_H_
#define SERVE_SCREEN_GRID_H_

#include <string>

#include "engine.h"
#include "form_registry.h"
#include "text_encoding.h"

// The largest screen laid out: fields placed beyond it are not shown.
constexpr int kMaxScreenRows = 2000;
constexpr int kMaxScreenColumns = 1000;

// Appends the screen of the record `reader` holds to `out`: header mask
// line i on row i, detail mask line j on the row after the header mask's
// last line plus j, header fields and the fields of each present detail
// line at their rows and columns, in their display form (DisplayValue),
// numbers right-aligned in their cells, a value too long for its cells cut
// (a number that does not fit shows as '*' in every cell).
void AppendScreenHtml(const ServedForm& form, const RecordReader& reader, const Utf8Converter& converter,
                      std::string* out);

#endif  // SERVE_SCREEN_GRID_H_
