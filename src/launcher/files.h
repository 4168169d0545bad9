// The lowest file layer: opening the launcher's input files safely, reading
// them in the pieces their formats are defined by, and creating directories.
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

// Reads the next piece of a text file the way the launcher's file formats
// are defined: at most 254 bytes, stopping after a newline, with the first
// newline cut off. A longer physical line arrives as several pieces;
// *endsLine (when given) tells whether this piece ended its line. Returns
// false at end of file or on a read error.
bool readPiece(FILE* file, std::string* piece, bool* endsLine = nullptr);

// Creates every directory along `path`; 0 on success, 1 on failure.
int mkdir_p(const std::string& path, int permissions);

#endif  // LAUNCHER_FILES_H_
