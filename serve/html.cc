#include "html.h"

void AppendHtml(std::string_view text, std::string* out) {
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&': out->append("&amp;"); break;
      case '<': out->append("&lt;"); break;
      case '>': out->append("&gt;"); break;
      case '"': out->append("&quot;"); break;
      case '\'': out->append("&#39;"); break;
      default:
        if (byte < 0x20) {
          // U+2400 + byte: E2 90 80+byte.
          out->append("\xE2\x90");
          out->push_back(static_cast<char>(0x80 + byte));
        } else if (byte == 0x7F) {
          out->append("\xE2\x90\xA1");
        } else {
          out->push_back(c);
        }
    }
  }
}

std::string Html(std::string_view text) {
  std::string out;
  AppendHtml(text, &out);
  return out;
}

std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~';
    if (plain) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    }
  }
  return out;
}
