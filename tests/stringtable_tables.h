// The catalogue's tables by tag, shared by the catalogue tests and the probe.
#ifndef LAUNCHER_TESTS_STRINGTABLE_TABLES_H_
#define LAUNCHER_TESTS_STRINGTABLE_TABLES_H_

#include "stringtable.h"

struct NamedTable {
  const char* tag;
  const STRING_ENTRY* table;
};

const NamedTable kAllTables[] = {
    {"EN", MsgTable_EN},       {"DE", MsgTable_DE}, {"ES", MsgTable_ES},
    {"FR", MsgTable_FR},       {"IT", MsgTable_IT}, {"PT_BR", MsgTable_PT_BR},
    {"JA", MsgTable_JA},       {"KO", MsgTable_KO}, {"ZH_TW", MsgTable_ZH_TW},
    {"ZH_CN", MsgTable_ZH_CN}, {"PL", MsgTable_PL}, {"RU", MsgTable_RU},
    {"CS", MsgTable_CS},       {"HU", MsgTable_HU},
};

inline const char* tableTag(const STRING_ENTRY* table) {
  for (const NamedTable& t : kAllTables) {
    if (t.table == table) return t.tag;
  }
  return table == nullptr ? "none" : "unknown";
}

#endif  // LAUNCHER_TESTS_STRINGTABLE_TABLES_H_
