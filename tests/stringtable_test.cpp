// The catalogue's contents, checked table-wide against the English table,
// and the pure parts of the locale choice.
#include <iconv.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stringtable.h"
#include "stringtable_tables.h"

namespace {

bool isValidUtf8(std::string text) {
  iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  std::vector<char> out(4 * text.size() + 4);
  char* in = &text[0];
  char* to = out.data();
  size_t inLeft = text.size(), outLeft = out.size();
  bool ok = iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  iconv_close(cd);
  return ok;
}

// The printf conversions of a format, in order ("%%" is none; a dangling
// '%' breaks printf as well).
std::vector<std::string> conversions(const std::string& s) {
  std::vector<std::string> out;
  for (size_t i = s.find('%'); i != std::string::npos; i = s.find('%', i + 1)) {
    if (s.compare(i, 2, "%%") == 0) {
      ++i;
      continue;
    }
    size_t end = s.find_first_of("diouxXeEfFgGaAcspn", i + 1);
    out.push_back(s.substr(i, end == std::string::npos ? end : end - i + 1));
    if (end == std::string::npos) break;
    i = end;
  }
  return out;
}

// Each line break with the blanks before it, and each other run of two or
// more blanks; then how often the product is named.
std::vector<std::string> layout(const std::string& s) {
  std::vector<std::string> out;
  for (size_t i = 0, end; i < s.size(); i = end == i ? i + 1 : end) {
    end = std::min(s.find_first_not_of(' ', i), s.size());
    if (end < s.size() && s[end] == '\n') {
      out.push_back(s.substr(i, ++end - i));
    } else if (end - i >= 2) {
      out.push_back(s.substr(i, end - i));
    }
  }
  const std::string product = "Telvane Quorvin";
  size_t named = 0;
  for (size_t at = s.find(product); at != std::string::npos; at = s.find(product, at + 1)) ++named;
  out.push_back("named " + std::to_string(named));
  return out;
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

const int kKeyOrder[kMsgTableSize] = {1, 2004, 2005, 26, 2011, 2013, 2015, 2016, 2006, 2010, 2017};

// A translation is a printf format for the caller's English arguments: any
// other conversion, or another order, reads the wrong argument. It also
// keeps the English line breaks and two-blank runs, so a dialog is laid out
// the same in every language, and names the product as often.
TEST(StringTableContents, EveryTableIsATranslationOfTheEnglishOne) {
  for (const NamedTable& t : kAllTables) {
    for (int i = 0; i < kMsgTableSize; ++i) {
      const std::string english = MsgTable_EN[i].text, text = t.table[i].text;
      SCOPED_TRACE(std::string(t.tag) + " row " + std::to_string(i));
      EXPECT_EQ(kKeyOrder[i], t.table[i].key);
      EXPECT_TRUE(isValidUtf8(text));
      EXPECT_LE(text.size(), 511u);
      EXPECT_FALSE(text.empty());
      for (unsigned char c : text) EXPECT_TRUE(c >= 0x20 || c == '\n') << "control byte " << int(c);
      EXPECT_EQ(conversions(english), conversions(text));
      EXPECT_EQ(layout(english), layout(text));
      EXPECT_EQ(english.back() == '\n', !text.empty() && text.back() == '\n');
    }
  }
}

// The titles, and the usage text whose option names stay English: only the
// placeholder words are translated, and only in some tables.
TEST(StringTableContents, TitlesAndUsageAreTheDesignedOnes) {
  const struct {
    const STRING_ENTRY* table;
    const char *usage, *error, *message, *inputFile, *arg;
  } cases[] = {
      {MsgTable_EN, "Usage:", "Error", "Message", "INPUT_FILE", "arg"},
      {MsgTable_FR, "Syntaxe :", "Erreur", "Message", "FICHIER_ENTREE", "arg"},
      {MsgTable_ES, "Utilización:", "Error", "Mensaje", "ARCHIVO_DE_ENTRADA", "arg"},
      {MsgTable_PT_BR, "Uso:", "Erro", "Mensagem", "INPUT_FILE", "arg"},
      {MsgTable_IT, "Utilizzo:", "Errore", "Messaggio", "INPUT_FILE", "arg"},
      {MsgTable_DE, "Verwendung:", "Fehler", "Nachricht", "INPUT_FILE", "arg"},
      {MsgTable_JA, "使用法:", "エラー", "メッセージ", "INPUT_FILE", "arg"},
      {MsgTable_KO, "사용법:", "오류", "메시지", "INPUT_FILE", "arg"},
      {MsgTable_ZH_TW, "用法\xEF\xBC\x9A", "錯誤", "訊息", "INPUT_FILE", "arg"},
      {MsgTable_ZH_CN, "用法\xEF\xBC\x9A", "错误", "消息", "INPUT_FILE", "arg"},
      {MsgTable_PL, "Składnia:", "Błąd", "Komunikat", "PLIK_WEJŚCIOWY", "arg"},
      {MsgTable_RU, "Формат:", "Ошибка", "Сообщение", "файл-ввода", "арг"},
      {MsgTable_CS, "Použití:", "Chyba", "Zpráva", "VSTUPNÍ_SOUBOR", "arg"},
      {MsgTable_HU, "Használat:", "Hiba", "Üzenet", "BEMENETI_FÁJL", "arg"},
  };
  const std::string english =
      "%s [-h] [-input INPUT_FILE] [-silent] [-licenseAccepted] "
      "[-installerArgs arg1 arg2...] [-managerArgs arg1 arg2 ...]";
  for (const auto& c : cases) {
    SCOPED_TRACE(tableTag(c.table));
    auto text = [&](int key) { return getStrFromSpecTable(key, c.table, kMsgTableSize); };
    EXPECT_STREQ(c.usage, text(MSG_USAGE_TITLE));
    EXPECT_STREQ(c.error, text(MSG_ERROR_TITLE));
    EXPECT_STREQ(c.message, text(MSG_MESSAGE_TITLE));
    EXPECT_EQ(replaceAll(replaceAll(english, "INPUT_FILE", c.inputFile), "arg", c.arg), text(MSG_USAGE));
  }
}

TEST(StringTableLookup, SearchesOnlyTheGivenRowsAndTakesTheFirstMatch) {
  const STRING_ENTRY twice[] = {{7, "first"}, {7, "second"}, {8, "last"}};
  EXPECT_STREQ("first", getStrFromSpecTable(7, twice, 3));
  EXPECT_STREQ("last", getStrFromSpecTable(8, twice, 3));
  EXPECT_EQ(nullptr, getStrFromSpecTable(8, twice, 2));
  EXPECT_EQ(nullptr, getStrFromSpecTable(7, twice, -1));
  EXPECT_EQ(nullptr, getStrFromSpecTable(7, nullptr, 3));
  EXPECT_EQ(nullptr, getStrFromSpecTable(2012, MsgTable_EN, kMsgTableSize));
}

TEST(StringTableLocaleName, FromWhatSetlocaleReported) {
  const std::string longComposite = "LC_CTYPE=" + std::string(2000, 'x') +
                                    ";LC_MESSAGES=ru_RU.KOI8-R;LC_TIME=" + std::string(2000, 'y');
  const std::pair<const char*, std::string> cases[] = {
      {nullptr, "en_US"},
      {"fr_FR.UTF-8", "fr_FR.UTF-8"},  // the cut to five characters comes later
      {"LC_CTYPE=en_US.UTF-8;LC_MESSAGES=de_DE.UTF-8;LC_TIME=C", "de_DE.UTF-8"},
      {"LC_CTYPE=en_US.UTF-8;LC_MESSAGES=ja_JP.eucJP", "ja_JP.eucJP"},
      {"LC_CTYPE=fr_FR.UTF-8;LC_TIME=de_DE.UTF-8", "en_US"},
      {longComposite.c_str(), "ru_RU.KOI8-R"},
      // Only a name that starts with the category prefix is composite.
      {"de_DE.UTF-8;LC_MESSAGES=fr_FR", "de_DE.UTF-8;LC_MESSAGES=fr_FR"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, deriveLocaleName(c.first)) << (c.first != nullptr ? c.first : "(null)");
  }
}

TEST(StringTableLocaleName, ChoosesTheTableByPrefix) {
  const std::pair<const char*, const STRING_ENTRY*> cases[] = {
      {"en_US", MsgTable_EN},    {"fr_CA", MsgTable_FR},    {"es_MX", MsgTable_ES},
      {"pt_PT", MsgTable_PT_BR}, {"it_IT", MsgTable_IT},    {"de_AT", MsgTable_DE},
      {"ja_JP", MsgTable_JA},    {"ko_KR", MsgTable_KO},    {"zh_TW", MsgTable_ZH_TW},
      {"zh_CN", MsgTable_ZH_CN}, {"pl_PL", MsgTable_PL},    {"ru", MsgTable_RU},
      {"cs_CZ", MsgTable_CS},    {"hu_HU", MsgTable_HU},    {"zh_HK", MsgTable_EN},
      {"zh_", MsgTable_EN},      {"C", MsgTable_EN},        {"", MsgTable_EN},
      {"DE_DE", MsgTable_EN},    {nullptr, MsgTable_EN},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(tableTag(c.second), tableTag(chooseStringTable(c.first)))
        << (c.first != nullptr ? c.first : "(null)");
  }
}

}  // namespace
