// The catalogue's contents, checked table-wide against the English table,
// and the pure parts of the locale choice.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stringtable.h"
#include "stringtable_tables.h"

namespace {

const char kProduct[] = "Telvane Quorvin";

bool isValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    size_t extra;
    unsigned min;
    unsigned cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char cc = s[i + k];
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

// The printf conversions of a format, in order ("%%" is no conversion).
std::vector<std::string> conversions(const std::string& s) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') continue;
    if (i + 1 < s.size() && s[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t end = s.find_first_of("diouxXeEfFgGaAcspn", i + 1);
    if (end == std::string::npos) {
      out.push_back(s.substr(i));  // a dangling '%' breaks printf as well
      break;
    }
    out.push_back(s.substr(i, end - i + 1));
    i = end;
  }
  return out;
}

// Where a text breaks its lines and separates its sentences by two blanks:
// each line break with the blanks before it, and each run of two or more
// blanks within a line.
std::vector<std::string> layout(const std::string& s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != ' ' && s[i] != '\n') {
      ++i;
      continue;
    }
    size_t start = i;
    while (i < s.size() && s[i] == ' ') ++i;
    size_t blanks = i - start;
    if (i < s.size() && s[i] == '\n') {
      ++i;
      out.push_back(std::to_string(blanks) + " blank(s), line break" +
                    (i == s.size() ? " at the end" : ""));
    } else if (blanks >= 2) {
      out.push_back(std::to_string(blanks) + " blanks");
    }
  }
  return out;
}

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos;
       at = s.find(what, at + 1)) {
    ++n;
  }
  return n;
}

std::string replaceAll(std::string s, const std::string& from,
                       const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos;
       at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

const int kKeyOrder[kMsgTableSize] = {1,    2004, 2005, 26,   2011, 2013,
                                      2015, 2016, 2006, 2010, 2017};

TEST(StringTableContents, EveryTableHoldsTheElevenKeysInOrder) {
  for (const NamedTable& t : kAllTables) {
    for (int i = 0; i < kMsgTableSize; ++i) {
      EXPECT_EQ(kKeyOrder[i], t.table[i].key) << t.tag << " row " << i;
    }
  }
}

TEST(StringTableContents, EveryTextIsUtf8WithinLimitAndWithoutStrayControls) {
  for (const NamedTable& t : kAllTables) {
    for (int i = 0; i < kMsgTableSize; ++i) {
      ASSERT_NE(nullptr, t.table[i].text) << t.tag << " " << t.table[i].key;
      std::string text = t.table[i].text;
      SCOPED_TRACE(std::string(t.tag) + " " + std::to_string(t.table[i].key));
      EXPECT_TRUE(isValidUtf8(text));
      EXPECT_LE(text.size(), 511u);
      EXPECT_FALSE(text.empty());
      for (unsigned char c : text) {
        EXPECT_TRUE(c >= 0x20 || c == '\n') << "control byte " << int(c);
      }
    }
  }
}

// A translation is a printf format for the caller's English arguments: any
// other conversion, or another order, reads the wrong argument.
TEST(StringTableContents, TranslationsKeepTheEnglishConversionsAndLayout) {
  for (const NamedTable& t : kAllTables) {
    for (int i = 0; i < kMsgTableSize; ++i) {
      std::string english = MsgTable_EN[i].text;
      std::string text = t.table[i].text;
      SCOPED_TRACE(std::string(t.tag) + " " + std::to_string(t.table[i].key));
      EXPECT_EQ(conversions(english), conversions(text));
      EXPECT_EQ(layout(english), layout(text));
      EXPECT_EQ(count(english, kProduct), count(text, kProduct));
    }
  }
}

TEST(StringTableContents, TitlesAreTheDesignedOnes) {
  const struct {
    const STRING_ENTRY* table;
    const char* usage;
    const char* error;
    const char* message;
  } cases[] = {
      {MsgTable_EN, "Usage:", "Error", "Message"},
      {MsgTable_FR, "Syntaxe :", "Erreur", "Message"},
      {MsgTable_ES, "Utilización:", "Error", "Mensaje"},
      {MsgTable_PT_BR, "Uso:", "Erro", "Mensagem"},
      {MsgTable_IT, "Utilizzo:", "Errore", "Messaggio"},
      {MsgTable_DE, "Verwendung:", "Fehler", "Nachricht"},
      {MsgTable_JA, "使用法:", "エラー", "メッセージ"},
      {MsgTable_KO, "사용법:", "오류", "메시지"},
      {MsgTable_ZH_TW, "用法\xEF\xBC\x9A", "錯誤", "訊息"},
      {MsgTable_ZH_CN, "用法\xEF\xBC\x9A", "错误", "消息"},
      {MsgTable_PL, "Składnia:", "Błąd", "Komunikat"},
      {MsgTable_RU, "Формат:", "Ошибка", "Сообщение"},
      {MsgTable_CS, "Použití:", "Chyba", "Zpráva"},
      {MsgTable_HU, "Használat:", "Hiba", "Üzenet"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(tableTag(c.table));
    EXPECT_STREQ(c.usage, getStrFromSpecTable(2004, c.table, kMsgTableSize));
    EXPECT_STREQ(c.error, getStrFromSpecTable(2006, c.table, kMsgTableSize));
    EXPECT_STREQ(c.message, getStrFromSpecTable(2010, c.table, kMsgTableSize));
  }
}

// The option names stay English everywhere; only the placeholder words are
// translated, and only in these tables.
TEST(StringTableContents, UsageTranslatesOnlyThePlaceholderWords) {
  const struct {
    const STRING_ENTRY* table;
    const char* inputFile;
    const char* arg1;
    const char* arg2;
  } cases[] = {
      {MsgTable_EN, "INPUT_FILE", "arg1", "arg2"},
      {MsgTable_DE, "INPUT_FILE", "arg1", "arg2"},
      {MsgTable_IT, "INPUT_FILE", "arg1", "arg2"},
      {MsgTable_PT_BR, "INPUT_FILE", "arg1", "arg2"},
      {MsgTable_JA, "INPUT_FILE", "arg1", "arg2"},
      {MsgTable_KO, "INPUT_FILE", "arg1", "arg2"},
      {MsgTable_ZH_TW, "INPUT_FILE", "arg1", "arg2"},
      {MsgTable_ZH_CN, "INPUT_FILE", "arg1", "arg2"},
      {MsgTable_ES, "ARCHIVO_DE_ENTRADA", "arg1", "arg2"},
      {MsgTable_FR, "FICHIER_ENTREE", "arg1", "arg2"},
      {MsgTable_PL, "PLIK_WEJŚCIOWY", "arg1", "arg2"},
      {MsgTable_CS, "VSTUPNÍ_SOUBOR", "arg1", "arg2"},
      {MsgTable_HU, "BEMENETI_FÁJL", "arg1", "arg2"},
      {MsgTable_RU, "файл-ввода", "арг1", "арг2"},
  };
  const std::string english =
      "%s [-h] [-input INPUT_FILE] [-silent] [-licenseAccepted] "
      "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]";
  for (const auto& c : cases) {
    std::string expected = replaceAll(english, "INPUT_FILE", c.inputFile);
    expected = replaceAll(expected, "arg1", c.arg1);
    expected = replaceAll(expected, "arg2", c.arg2);
    EXPECT_EQ(expected, getStrFromSpecTable(2005, c.table, kMsgTableSize))
        << tableTag(c.table);
  }
}

TEST(StringTableLookup, SearchesOnlyTheGivenRowsAndTakesTheFirstMatch) {
  const STRING_ENTRY twice[] = {{7, "first"}, {7, "second"}, {8, "last"}};
  EXPECT_STREQ("first", getStrFromSpecTable(7, twice, 3));
  EXPECT_STREQ("last", getStrFromSpecTable(8, twice, 3));
  EXPECT_EQ(nullptr, getStrFromSpecTable(8, twice, 2));
  EXPECT_EQ(nullptr, getStrFromSpecTable(7, twice, 0));
  EXPECT_EQ(nullptr, getStrFromSpecTable(7, twice, -1));
  EXPECT_EQ(nullptr, getStrFromSpecTable(7, nullptr, 3));
  EXPECT_EQ(nullptr, getStrFromSpecTable(0, MsgTable_EN, kMsgTableSize));
  EXPECT_EQ(nullptr, getStrFromSpecTable(2012, MsgTable_EN, kMsgTableSize));
  EXPECT_STREQ("Message",
               getStrFromSpecTable(2010, MsgTable_EN, kMsgTableSize));
}

TEST(StringTableLocaleName, FromWhatSetlocaleReported) {
  const std::string longComposite =
      "LC_CTYPE=" + std::string(2000, 'x') + ";LC_MESSAGES=ru_RU.KOI8-R;" +
      "LC_TIME=" + std::string(2000, 'y');
  const struct {
    const char* reported;
    std::string expected;
  } cases[] = {
      {nullptr, "en_US"},
      {"C", "C"},
      {"fr_FR.UTF-8", "fr_FR.UTF-8"},
      {"LC_CTYPE=en_US.UTF-8;LC_MESSAGES=de_DE.UTF-8;LC_TIME=C",
       "de_DE.UTF-8"},
      {"LC_CTYPE=en_US.UTF-8;LC_MESSAGES=ja_JP.eucJP", "ja_JP.eucJP"},
      {"LC_CTYPE=fr_FR.UTF-8;LC_MESSAGES=C;LC_TIME=de_DE.UTF-8", "C"},
      {"LC_CTYPE=fr_FR.UTF-8;LC_TIME=de_DE.UTF-8", "en_US"},
      {"LC_CTYPE=fr_FR.UTF-8;LC_MESSAGES=", ""},
      {longComposite.c_str(), "ru_RU.KOI8-R"},
      // Only a name that starts with the category prefix is composite.
      {"de_DE.UTF-8;LC_MESSAGES=fr_FR", "de_DE.UTF-8;LC_MESSAGES=fr_FR"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, deriveLocaleName(c.reported))
        << (c.reported != nullptr ? c.reported : "(null)");
  }
}

TEST(StringTableLocaleName, ChoosesTheTableByPrefix) {
  const struct {
    const char* locale;
    const STRING_ENTRY* table;
  } cases[] = {
      {"en_US", MsgTable_EN},    {"fr_FR", MsgTable_FR},
      {"fr_CA", MsgTable_FR},    {"es_MX", MsgTable_ES},
      {"pt_PT", MsgTable_PT_BR}, {"pt_BR", MsgTable_PT_BR},
      {"it_IT", MsgTable_IT},    {"de_AT", MsgTable_DE},
      {"ja_JP", MsgTable_JA},    {"ko_KR", MsgTable_KO},
      {"zh_TW", MsgTable_ZH_TW}, {"zh_CN", MsgTable_ZH_CN},
      {"pl_PL", MsgTable_PL},    {"ru_RU", MsgTable_RU},
      {"cs_CZ", MsgTable_CS},    {"hu_HU", MsgTable_HU},
      {"ru", MsgTable_RU},       {"zh_HK", MsgTable_EN},
      {"zh_SG", MsgTable_EN},    {"zh", MsgTable_EN},
      {"zh_", MsgTable_EN},      {"C", MsgTable_EN},
      {"POSIX", MsgTable_EN},    {"", MsgTable_EN},
      {"d", MsgTable_EN},        {"DE_DE", MsgTable_EN},
      {"sv_SE", MsgTable_EN},    {nullptr, MsgTable_EN},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(tableTag(c.table), tableTag(chooseStringTable(c.locale)))
        << (c.locale != nullptr ? c.locale : "(null)");
  }
}

}  // namespace
