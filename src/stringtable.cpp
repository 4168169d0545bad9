// Placeholder until the catalogue lands.
#include "stringtable.h"
#include <clocale>
#include <cstring>
#include <cstdlib>
#include <langinfo.h>
const STRING_ENTRY MsgTable_EN[kMsgTableSize] = {
    {1, "Cannot open INI file: %s\n"},
    {2004, "Usage:"},
    {2005, "%s [-h] [-input INPUT_FILE] [-silent] [-licenseAccepted] [-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]"},
    {26, "%s version %s requires GTK %s or later to start, but it was not found on your system. Check the product documentation for software prerequisites to ensure your system meets the installation requirements."},
    {2011, "Telvane Quorvin version %s or later cannot be found."},
    {2013, "The installer for Telvane Quorvin cannot be found.  \nInstaller Location=%s"},
    {2015, "The installer encountered an error when installing Telvane Quorvin.  Installation has discontinued. \nReturn Code=%d"},
    {2016, "There is an error starting Telvane Quorvin.  Installation has discontinued. \nReturn Code=%d"},
    {2006, "Error"},
    {2010, "Message"},
    {2017, "Telvane Quorvin version %s or later cannot be found.  Check the product documentation for software prerequisites to ensure that your system meets the installation requirements."},
};
const STRING_ENTRY* currStringTable = nullptr;
int currStringTableSize = 0;
char* currLocale = nullptr;
const char* currCodeSet = nullptr;
const char* getStrFromSpecTable(int key, const STRING_ENTRY* table, int count) {
  for (int i = 0; i < count; ++i) if (table[i].key == key) return table[i].text;
  return nullptr;
}
const char* getStringFromStringTable(int key) {
  if (!currStringTable) { currStringTable = MsgTable_EN; currStringTableSize = kMsgTableSize; }
  return getStrFromSpecTable(key, currStringTable, currStringTableSize);
}
