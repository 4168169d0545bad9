// The key=value file store: loading arbitrary content, looking every key up,
// and a save/load round trip.
#include <utility>

#include "fuzz_common.h"
#include "keyList.h"
#include "utilities.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Entries;

Entries entriesOf(KEYLIST* list) {
  Entries entries;
  std::string key, value;
  list->resetIterator();
  while (list->getNextKey(&key, &value) == 0) entries.emplace_back(key, value);
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::writeFile("location", data, size);
  KEYLIST list;
  fuzz::check(list.loadList(path) == 0, "an existing file loads");
  Entries entries = entriesOf(&list);

  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& key = entries[i].first;
    const std::string& value = entries[i].second;
    fuzz::check(!key.empty() && key.find('=') == std::string::npos &&
                    key.find('\n') == std::string::npos &&
                    value.find('\n') == std::string::npos,
                "entry as parseKey splits a line");
    const char* found = list.find(key);
    fuzz::check(found && value == found, "find gives the entry's value");
    fuzz::check(list.add(key, "other") == 1, "add refuses an existing key");
    std::string dst = "stale";
    fuzz::check(getProperty(path, key, &dst) == 0 && dst == value,
                "getProperty agrees with the list");
    for (size_t j = 0; j < i; ++j) {
      fuzz::check(entries[j].first != key, "keys are unique");
    }
  }
  std::string dst = "stale";
  if (!list.find("\n")) {
    fuzz::check(getProperty(path, "\n", &dst) == -1 && dst.empty(),
                "a missing key gives -1 and an empty value");
  }

  // Saving into a directory that does not exist yet creates it; loading the
  // saved file gives the same entries, in reverse order.
  std::string saved = fuzz::scratchDir() + "/store/sub/location";
  fuzz::check(list.saveList(saved) == 0, "the list saves");
  KEYLIST reloaded;
  fuzz::check(reloaded.loadList(saved) == 0, "the saved file loads");
  Entries again = entriesOf(&reloaded);
  fuzz::check(Entries(again.rbegin(), again.rend()) == entries,
              "save and load keep every entry");

  if (!entries.empty()) {
    const std::string key = entries.front().first;
    fuzz::check(list.remove(key) == 0 && !list.isExist(key) &&
                    list.remove(key) == 1,
                "remove takes the entry out once");
  }
  return 0;
}
