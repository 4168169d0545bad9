// launcher-check: bytes that come from a package or its programs, made safe
// for a terminal. A name is data: whatever it holds, it cannot start a line
// of its own, move the cursor or set the window title.
#ifndef LAUNCHER_CHECKESCAPE_H_
#define LAUNCHER_CHECKESCAPE_H_

#include <cstddef>
#include <string>

// Length of the valid UTF-8 sequence at `text[i]`, or 0 when the byte there
// does not begin one (overlong forms and surrogates included).
size_t utf8Length(const std::string& text, size_t i);

// `bytes` for the text output: a backslash doubled; \a \b \t \n \v \f \r
// and \e for those control bytes; any other control byte, DEL and each byte
// of invalid UTF-8 as \xNN; the C1 controls as \u0080..\u009f. Every other
// character, accents and CJK included, stays as it is. `alsoEscaped`, when
// not 0, is one more ASCII character put behind a backslash (a quote).
std::string escapedText(const std::string& bytes, char alsoEscaped = 0);

// Each line of `text` escaped, after `prefix`, and ended with a newline: a
// program's output, or a text of several lines, where only the line ends
// stay as they are.
std::string escapedLines(const std::string& text, const std::string& prefix);

#endif  // LAUNCHER_CHECKESCAPE_H_
