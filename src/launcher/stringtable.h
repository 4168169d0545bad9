// The built-in message catalogue in fourteen languages and the choice of the
// table from the process locale.
#ifndef LAUNCHER_STRINGTABLE_H_
#define LAUNCHER_STRINGTABLE_H_

#include <string>

struct STRING_ENTRY {
  int key;
  const char* text;  // UTF-8, at most 511 bytes
};

enum {
  MSG_INI_NOT_OPEN = 1,
  MSG_GTK_REQUIRED = 26,
  MSG_USAGE_TITLE = 2004,
  MSG_USAGE = 2005,
  MSG_ERROR_TITLE = 2006,
  MSG_MESSAGE_TITLE = 2010,
  MSG_AGENT_NOT_FOUND = 2011,
  MSG_INSTALLER_NOT_FOUND = 2013,
  MSG_INSTALL_FAILED = 2015,
  MSG_AGENT_START_FAILED = 2016,
  MSG_AGENT_NOT_FOUND_EXT = 2017,
};

const int kMsgTableSize = 11;

extern const STRING_ENTRY MsgTable_EN[kMsgTableSize];
extern const STRING_ENTRY MsgTable_DE[kMsgTableSize];
extern const STRING_ENTRY MsgTable_ES[kMsgTableSize];
extern const STRING_ENTRY MsgTable_FR[kMsgTableSize];
extern const STRING_ENTRY MsgTable_IT[kMsgTableSize];
extern const STRING_ENTRY MsgTable_PT_BR[kMsgTableSize];
extern const STRING_ENTRY MsgTable_JA[kMsgTableSize];
extern const STRING_ENTRY MsgTable_KO[kMsgTableSize];
extern const STRING_ENTRY MsgTable_ZH_TW[kMsgTableSize];
extern const STRING_ENTRY MsgTable_ZH_CN[kMsgTableSize];
extern const STRING_ENTRY MsgTable_PL[kMsgTableSize];
extern const STRING_ENTRY MsgTable_RU[kMsgTableSize];
extern const STRING_ENTRY MsgTable_CS[kMsgTableSize];
extern const STRING_ENTRY MsgTable_HU[kMsgTableSize];

// Selection state, filled by the first lookup and read-only afterwards.
extern const STRING_ENTRY* currStringTable;
extern int currStringTableSize;
extern char* currLocale;
extern const char* currCodeSet;

// Newly allocated locale name derived from the process locale (sets the
// process locale from the environment on the way).
char* getCurrLocale();
const char* getCurrCodeSet();
void setCurrStringTable();
const char* getStringFromStringTable(int key);
const char* getStrFromSpecTable(int key, const STRING_ENTRY* table, int count);

// The two halves of the choice without the process-wide setlocale around
// them: the locale name from what setlocale reported (null when the
// environment's locale is not available), and the table for a name.
std::string deriveLocaleName(const char* processLocale);
const STRING_ENTRY* chooseStringTable(const char* locale);

#endif  // LAUNCHER_STRINGTABLE_H_
