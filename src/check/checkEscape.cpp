#include "checkEscape.h"

#include <cstring>

#include "utilities.h"

size_t utf8Length(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t length;
  unsigned long code;
  if (c >= 0xc2 && c <= 0xdf) {
    length = 2, code = c & 0x1fU;
  } else if (c >= 0xe0 && c <= 0xef) {
    length = 3, code = c & 0x0fU;
  } else if (c >= 0xf0 && c <= 0xf4) {
    length = 4, code = c & 0x07U;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0U) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3fU);
  }
  // Overlong forms, surrogates and code points past Unicode are invalid.
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
      (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) {
    return 0;
  }
  return length;
}

std::string escapedText(const std::string& bytes, char alsoEscaped) {
  static const char kNamed[] = "\a\b\t\n\v\f\r\033";
  static const char kLetters[] = "abtnvfre";
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t length = utf8Length(bytes, i);
    const char* named = c != 0 ? strchr(kNamed, c) : nullptr;
    if (c == '\\' || (alsoEscaped != 0 && c == static_cast<unsigned char>(alsoEscaped))) {
      out += '\\';
      out += static_cast<char>(c);
    } else if (named) {
      out += '\\';
      out += kLetters[named - kNamed];
    } else if (length == 0 || c < 0x20 || c == 0x7f) {
      out += formatText("\\x%02x", c);
      length = 1;
    } else if (length == 2 && c == 0xc2 && static_cast<unsigned char>(bytes[i + 1]) < 0xa0) {
      // A terminal may take an 8-bit control as the start of a sequence.
      out += formatText("\\u%04x", static_cast<unsigned char>(bytes[i + 1]));
    } else {
      out.append(bytes, i, length);
    }
    i += length;
  }
  return out;
}

std::string escapedLines(const std::string& text, const std::string& prefix) {
  std::string out;
  size_t at = 0;
  do {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    out += prefix + escapedText(text.substr(at, end - at)) + "\n";
    at = end + 1;
  } while (at < text.size());
  return out;
}
