// Why a program cannot be started: one line per kind of file.
#include "programFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "test_support.h"

TEST(ProgramFileTest, ReasonFromTheFile) {
  TempDir t;
  ScopedCwd cwd(t.path);
  std::string sparc("\x7f" "ELF\x01\x01\x01", 7);  // 32-bit, little-endian
  sparc.resize(64, '\0');
  sparc[18] = 2;  // EM_SPARC
  writeFile("sparc", sparc);
  writeFile("long", "#!/" + std::string(300, 'x') + "\n");
  struct Case {
    const char* name;
    const char* text;  // null: the file is there already, or missing
    unsigned mode;
    uid_t uid;
    int execErrno;
    std::string reason;
  };
  const Case cases[] = {
      {"", nullptr, 0, 0, 0, "no program path"},
      {"missing", nullptr, 0, 0, ENOENT, "no such file"},
      {"/tmp", nullptr, 0, 0, EACCES, "a directory"},
      {"/dev/null", nullptr, 0, 0, EACCES, "not a regular file"},
      {"plain", "#!/bin/sh\n", 0644, 0, 0, "no execute permission"},
      {"other-x", "#!/bin/sh\n", 0601, 0, 0, ""},  // root: any execute bit
      {"other-x", "#!/bin/sh\n", 0601, 4242, 0, ""},
      {"owner-x", "#!/bin/sh\n", 0700, 4242, EACCES, "no execute permission"},
      {"crlf", "#!/bin/sh\r\necho\r\n", 0755, 0, ENOENT,
       "the #! line ends with a carriage return (CRLF line ends): interpreter \"/bin/sh\\r\" not found"},
      {"lost", "#! /nonexistent/sh -e\n", 0755, 0, ENOENT, "interpreter \"/nonexistent/sh\" not found"},
      {"via-plain", "#!plain\n", 0755, 0, EACCES, "interpreter \"plain\": no execute permission"},
      {"bare", "#!\n", 0755, 0, ENOEXEC, "the #! line names no interpreter"},
      {"long", nullptr, 0755, 0, ENOEXEC, "the #! line is too long"},
      {"loop", "#!loop\n", 0755, 0, ELOOP, "#! interpreters nested too deeply"},
      {"via-via", "#!via-plain\n", 0755, 0, EACCES, "interpreter \"via-plain\": interpreter \"plain\": no execute permission"},
      {"text", "echo hi\n", 0755, 0, ENOEXEC, "no known executable format"},
      {"sparc", nullptr, 0755, 0, ENOEXEC, "an ELF file for another machine (type 2)"},
      {"/bin/true", nullptr, 0, 0, ENOENT, "the dynamic loader it names is missing"},
      {"/bin/true", nullptr, 0, 0, E2BIG, strerror(E2BIG)},
      {"/bin/true", nullptr, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    if (c.text) writeFile(c.name, c.text);
    if (c.mode) {
      ASSERT_EQ(0, chmod(c.name, c.mode));
    }
    EXPECT_EQ(c.reason, whyProgramCannotStart(c.name, c.execErrno, c.uid, c.uid))
        << c.name << " as " << c.uid;
  }
}
