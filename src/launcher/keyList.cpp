#include "keyList.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unordered_set>

#include "files.h"
#include "utilities.h"

KEYLIST::KEYLIST() : head(new (std::nothrow) KEYNODE), current(nullptr) {
  // Without a sentinel the list stays unusable but harmless: every
  // operation below treats it as empty and adds nothing.
  if (!head) fprintf(stderr, "Out of space: %s\n", strerror(errno));
}

KEYLIST::~KEYLIST() {
  if (!head) return;
  KEYNODE* node = head->next;
  while (node) {
    KEYNODE* next = node->next;
    delete node;
    node = next;
  }
  delete head;
}

KEYNODE* KEYLIST::insertNode(KEYNODE* node, const std::string& key,
                             const std::string& value) {
  KEYNODE* entry = new (std::nothrow) KEYNODE;
  if (!entry) {
    fprintf(stderr, "Out of space: %s\n", strerror(errno));
    return nullptr;
  }
  entry->key = key;
  entry->value = value;
  entry->next = node->next;
  node->next = entry;
  return entry;
}

KEYNODE* KEYLIST::findNode(KEYNODE* node, const std::string& key) {
  for (KEYNODE* entry = node ? node->next : nullptr; entry; entry = entry->next) {
    if (entry->key == key) return entry;
  }
  return nullptr;
}

KEYNODE* KEYLIST::findPrevNode(KEYNODE* node, const std::string& key) {
  while (node && node->next && node->next->key != key) node = node->next;
  return node;
}

int KEYLIST::deleteNode(KEYNODE* node, const std::string& key) {
  KEYNODE* prev = findPrevNode(node, key);
  if (!prev || !prev->next) return 1;
  KEYNODE* entry = prev->next;
  prev->next = entry->next;
  if (current == entry) current = entry->next;
  delete entry;
  return 0;
}

int KEYLIST::add(const std::string& key, const std::string& value) {
  if (!head) return 1;
  if (isExist(key)) return 1;
  insertNode(head, key, value);
  return 0;
}

int KEYLIST::update(const std::string& key, const std::string& value) {
  KEYNODE* entry = findNode(head, key);
  if (!entry) return 1;
  entry->value = value;
  return 0;
}

const char* KEYLIST::find(const std::string& key) {
  KEYNODE* entry = findNode(head, key);
  return entry ? entry->value.c_str() : nullptr;
}

int KEYLIST::isExist(const std::string& key) {
  return findNode(head, key) ? 1 : 0;
}

int KEYLIST::remove(const std::string& key) { return deleteNode(head, key); }

void KEYLIST::clearList() {
  if (!head) return;
  while (KEYNODE* entry = head->next) {
    fprintf(stdout, "Removing %s\n", entry->key.c_str());
    head->next = entry->next;
    delete entry;
  }
  current = nullptr;
}

void KEYLIST::resetIterator() { current = head ? head->next : nullptr; }

int KEYLIST::getNextKey(std::string* keyOut, std::string* valueOut) {
  if (!current) return 1;
  *keyOut = current->key;
  *valueOut = current->value;
  current = current->next;
  return 0;
}

int KEYLIST::printList() {
  std::string key, value;
  resetIterator();
  int end;
  while ((end = getNextKey(&key, &value)) == 0) {
    fprintf(stdout, "%s=%s\n", key.c_str(), value.c_str());
  }
  return end;
}

int KEYLIST::loadList(const std::string& path) {
  FILE* file = openRegularFile(path);
  if (!file) {
    clearList();
    return 1;
  }
  int result = loadList(file);
  fclose(file);
  return result;
}

int KEYLIST::loadList(FILE* file) {
  clearList();
  if (!file) return 1;
  std::string line, key, value;
  // The first line of a key wins. Checking the keys seen so far in a set
  // keeps a long file linear; add() would walk the whole list per line.
  std::unordered_set<std::string> seen;
  while (readLine(file, &line)) {
    if (!head || parseKey(line, &key, &value) != 0) continue;
    if (seen.insert(key).second) insertNode(head, key, value);
  }
  return 0;
}

int KEYLIST::saveList(const std::string& path) {
  std::string dir = dirName(path);
  struct stat st;
  if (!dir.empty() && fstatat(AT_FDCWD, dir.c_str(), &st, 0) != 0 && mkdir_p(dir, 0700) != 0) {
    fprintf(stdout, "Unable to create %s\n", dir.c_str());
    return 1;
  }
  FILE* file = fopen(path.c_str(), "we");
  if (!file) {
    fprintf(stdout, "error in fopen\n");
    return 1;
  }
  std::string key, value;
  resetIterator();
  while (getNextKey(&key, &value) == 0) {
    fprintf(file, "%s=%s\n", key.c_str(), value.c_str());
  }
  // A full disk must not pass for a saved file: the location record would
  // be lost without a word.
  bool failed = ferror(file) != 0;
  if (fclose(file) != 0) failed = true;
  return failed ? 1 : 0;
}

int getProperty(const std::string& path, const std::string& key,
                std::string* dst) {
  FILE* file = openDecidingFile(path);
  int result = getProperty(file, key, dst);
  if (file) fclose(file);
  return result;
}

int getProperty(FILE* file, const std::string& key, std::string* dst) {
  KEYLIST list;
  if (list.loadList(file) != 0) return -1;
  dst->clear();
  const char* value = list.find(key);
  if (!value) return -1;
  dst->assign(value);
  return 0;
}

int storeProperty(const std::string& path, const std::string& key,
                  const std::string& value, const char* addError,
                  const char* saveError) {
  KEYLIST list;
  list.loadList(path);
  int failed = list.isExist(key) ? list.update(key, value) : list.add(key, value);
  if (failed) fputs(addError, stdout);
  if (list.saveList(path) != 0) {
    fputs(saveError, stdout);
    return -1;
  }
  return 0;
}

int setProperty(const std::string& path, const std::string& key,
                const std::string& value) {
  return storeProperty(path, key, value, "Error adding the property key",
                       "Error saving property key\n");
}
