// Makes the catalogue choose its table in this fresh process, from the
// environment it was started with, and reports the choice one "name=value"
// line at a time. Each argument is a key whose text is reported too
// ("key<K>=<text>" with line breaks escaped, or "nokey<K>"); "--again"
// switches the environment to German and asks for a choice once more.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stringtable.h"
#include "stringtable_tables.h"

int main(int argc, char** argv) {
  const char* title = getStringFromStringTable(MSG_ERROR_TITLE);
  const char* process = setlocale(LC_ALL, nullptr);
  printf("table=%s\n", tableTag(currStringTable));
  printf("title=%s\n", title != nullptr ? title : "(null)");
  printf("locale=%s\n", currLocale != nullptr ? currLocale : "(null)");
  printf("process=%s\n", process != nullptr ? process : "(null)");
  printf("codeset=%s\n", currCodeSet != nullptr ? currCodeSet : "(null)");
  printf("size=%d\n", currStringTableSize);
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--again") == 0) {
      setenv("LC_ALL", "de_DE.UTF-8", 1);
      setlocale(LC_ALL, "");
      setCurrStringTable();
      getStringFromStringTable(MSG_ERROR_TITLE);
      printf("again=%s\n", tableTag(currStringTable));
      printf("againLocale=%s\n", currLocale != nullptr ? currLocale : "(null)");
      continue;
    }
    int key = atoi(argv[i]);
    const char* text = getStringFromStringTable(key);
    if (text == nullptr) {
      printf("nokey%d\n", key);
    } else {
      printf("key%d=%s\n", key, escapeText(text).c_str());
    }
  }
  return 0;
}
