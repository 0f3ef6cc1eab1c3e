#pragma once

#include <ostream>
#include <string>
#include <vector>

// lmxmaps layers --source FILE [--style NAME] [--area NAME] [--json]: the layers a map source
// offers, each with all of its attributes.
int RunLayersCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
