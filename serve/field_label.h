// What a field is called on the form's screen. Forms name no fields; their
// masks print a label beside or above each one, and that label is what a
// person knows the field by.
#ifndef SERVE_FIELD_LABEL_H_
#define SERVE_FIELD_LABEL_H_

#include <string>

#include "form_registry.h"
#include "text_encoding.h"

// The label of header field `field` (`letter` 'h') or detail field ('d', as
// line 0 places it), in UTF-8, followed by its id in parentheses: the mask
// phrase (words apart by single blanks) that ends last before the field's
// column on its own row, else the word over the field's first cells on
// the row above. Just the id when the masks show neither.
std::string FieldLabel(const ServedForm& form, char letter, int field, const Utf8Converter& converter);

#endif  // SERVE_FIELD_LABEL_H_
