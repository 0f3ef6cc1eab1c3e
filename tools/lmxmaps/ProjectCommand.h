#pragma once
// "lmxmaps project": projects points read one per line.

#include <iosfwd>
#include <string>
#include <vector>

// args are the words after "project". Returns the process exit status.
int RunProjectCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                      std::ostream& err);
