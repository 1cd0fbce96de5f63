// Stored text as the terminal shows it: from the store's encoding (code
// page 437 by default, Latin-1 or UTF-8 on request) to the terminal's, with
// every control character, the 8-bit ones (0x80 to 0x9F) included, shown as
// '?', so that no stored byte can act on the terminal.
#ifndef BROWSE_TERMINAL_TEXT_H_
#define BROWSE_TERMINAL_TEXT_H_

#include <array>
#include <string>
#include <string_view>

enum class StoreEncoding { kCp437, kLatin1, kUtf8 };

// The encoding named `name` ("cp437", "latin1", "utf8"; also "ibm437",
// "iso-8859-1", "utf-8", in any case); false for any other name.
bool ParseStoreEncoding(std::string_view name, StoreEncoding* encoding);

class TerminalText {
 public:
  // No conversion: bytes go out as stored, controls as '?'.
  TerminalText();

  // Converts from `store` to the terminal encoding `codeset` (as
  // nl_langinfo(CODESET) names it) through iconv. A character the terminal
  // encoding lacks shows as '?'. False, with `why` set, when iconv knows
  // neither name.
  static bool Make(StoreEncoding store, const std::string& codeset, TerminalText* text, std::string* why);

  // The bytes to write for `stored`, one screen cell per stored byte (per
  // character for a UTF-8 store).
  std::string Convert(std::string_view stored) const;

 private:
  std::string ConvertUtf8(std::string_view stored) const;

  bool utf8_store_ = false;
  bool utf8_terminal_ = false;
  std::array<std::string, 256> bytes_;  // single-byte store: what each byte becomes
};

#endif  // BROWSE_TERMINAL_TEXT_H_
