// The lowest file layer: opening the launcher's input files safely, reading
// them line by line, and creating directories.
#ifndef LAUNCHER_FILES_H_
#define LAUNCHER_FILES_H_

#include <cstdio>
#include <string>

// Opens a file for reading as text when it is a regular file; null
// otherwise. A FIFO or a device where one of the launcher's files belongs
// would block its start or feed it without end, so it counts as missing.
FILE* openRegularFile(const std::string& path);
// The same for `path` relative to the directory handle `dirFd`.
FILE* openRegularFileAt(int dirFd, const std::string& path);
// The same for a file that decides what the launcher runs: as root, only
// when root's rule trusts it (see trust.h); *why then names the refusal.
FILE* openDecidingFile(int dirFd, const std::string& path, std::string* why);
// The same by name, for readers that need not say why: a file root's rule
// refuses is simply not there.
FILE* openDecidingFile(const std::string& path);

// Longest line the readers take. A path of any length a file system allows
// fits many times over; a line beyond it is no record anyone wrote, and
// reading it whole would let one file take the memory of the machine.
const size_t kMaxLineBytes = size_t{1024} * 1024;

// Reads the next line of a text file whole, without its newline. A NUL byte
// ends the line's text, as for every C string the formats were written for;
// the bytes after it up to the newline are skipped. A line longer than
// kMaxLineBytes arrives empty, so that no cut part of it can pass for a
// record. Returns false at end of file or on a read error.
bool readLine(FILE* file, std::string* line);

// Creates every directory along `path`; 0 on success, 1 on failure.
int mkdir_p(const std::string& path, int permissions);

#endif  // LAUNCHER_FILES_H_
