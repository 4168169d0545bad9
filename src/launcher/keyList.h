// Key=value files, the small files that record where the agent is
// installed: an in-memory list of their entries, and one-shot reads and
// writes of a single key.
#ifndef LAUNCHER_KEYLIST_H_
#define LAUNCHER_KEYLIST_H_

#include <cstdio>
#include <string>

struct KEYNODE {
  std::string key;
  std::string value;
  KEYNODE* next = nullptr;
};

// Entries run from the most recently added to the oldest; keys are unique
// and compared byte for byte.
class KEYLIST {
 public:
  KEYLIST();
  ~KEYLIST();
  KEYLIST(const KEYLIST&) = delete;
  KEYLIST& operator=(const KEYLIST&) = delete;

  int add(const std::string& key, const std::string& value);
  int update(const std::string& key, const std::string& value);
  const char* find(const std::string& key);
  int isExist(const std::string& key);
  int remove(const std::string& key);
  void clearList();
  void resetIterator();
  int getNextKey(std::string* keyOut, std::string* valueOut);
  int printList();
  int loadList(const std::string& path);
  // Loads from a file the caller opened; the file stays open.
  int loadList(FILE* file);
  int saveList(const std::string& path);

 private:
  KEYNODE* insertNode(KEYNODE* node, const std::string& key,
                      const std::string& value);
  KEYNODE* findNode(KEYNODE* node, const std::string& key);
  KEYNODE* findPrevNode(KEYNODE* node, const std::string& key);
  int deleteNode(KEYNODE* node, const std::string& key);

  KEYNODE* head;
  KEYNODE* current;
};

// One-shot reads and writes of a key=value file. 0 on success, -1 on
// failure; a file that cannot be opened leaves *dst unchanged.
int getProperty(const std::string& path, const std::string& key,
                std::string* dst);
// The same from a file the caller opened (null: cannot be opened); the file
// stays open.
int getProperty(FILE* file, const std::string& key, std::string* dst);
int setProperty(const std::string& path, const std::string& key,
                const std::string& value);
// Loads the file, adds or updates the key and saves it again; the two texts
// are printed when adding or saving fails.
int storeProperty(const std::string& path, const std::string& key,
                  const std::string& value, const char* addError,
                  const char* saveError);

#endif  // LAUNCHER_KEYLIST_H_
