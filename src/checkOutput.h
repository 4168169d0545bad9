// launcher-check: the report as text for people, or as one JSON document
// for programs (described by docs/launcher-check.schema.json).
#ifndef LAUNCHER_CHECKOUTPUT_H_
#define LAUNCHER_CHECKOUTPUT_H_

#include <string>

#include "check.h"

std::string formatCheckText(const CheckReport& report);
std::string formatCheckJson(const CheckReport& report);

#endif  // LAUNCHER_CHECKOUTPUT_H_
