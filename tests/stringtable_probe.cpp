// Makes the catalogue choose its table in this fresh process, from the
// environment it was started with, and reports the choice one "name=value"
// line at a time. Each argument is a key whose text is reported too
// ("key<K>=<text>", or "nokey<K>"); "--again" switches the environment to
// German and asks for a choice once more.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stringtable.h"
#include "stringtable_tables.h"

static const char* orNull(const char* text) { return text != nullptr ? text : "(null)"; }

int main(int argc, char** argv) {
  getStringFromStringTable(MSG_ERROR_TITLE);
  printf("table=%s\n", tableTag(currStringTable));
  printf("locale=%s\nprocess=%s\n", orNull(currLocale), orNull(setlocale(LC_ALL, nullptr)));
  printf("codeset=%s\nsize=%d\n", orNull(currCodeSet), currStringTableSize);
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--again") == 0) {
      setenv("LC_ALL", "de_DE.UTF-8", 1);
      setlocale(LC_ALL, "");
      setCurrStringTable();
      getStringFromStringTable(MSG_ERROR_TITLE);
      printf("again=%s\nagainLocale=%s\n", tableTag(currStringTable), orNull(currLocale));
      continue;
    }
    int key = atoi(argv[i]);
    const char* text = getStringFromStringTable(key);
    text == nullptr ? printf("nokey%d\n", key) : printf("key%d=%s\n", key, text);
  }
  return 0;
}
