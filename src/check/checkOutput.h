// launcher-check: the report as text for people, or as one JSON document
// for programs (described by docs/launcher-check.schema.json).
#ifndef LAUNCHER_CHECKOUTPUT_H_
#define LAUNCHER_CHECKOUTPUT_H_

#include <string>
#include <vector>

#include "check.h"

// The exit status the reports call for: 1 when any has an error (or, with
// `strict`, a warning), else 0.
int checkVerdict(const std::vector<CheckReport>& reports, bool strict);

std::string formatCheckText(const CheckReport& report);
// How wide the "As" column of a table of `rows` is: its longest entry.
int asColumnWidth(const std::vector<CheckReport>& rows);
// One table of the predicted ends of several reports of one package, then
// their problems, each once.
std::string formatMatrixText(const std::vector<CheckReport>& rows, bool strict);
// One document: the first report at the top level, and with several, every
// one of them under "matrix". `exitStatus` is the command's verdict, which
// a trial may have decided.
std::string formatCheckJson(const std::vector<CheckReport>& reports, bool strict,
                            int exitStatus);

#endif  // LAUNCHER_CHECKOUTPUT_H_
