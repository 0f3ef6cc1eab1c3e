#pragma once
// "lmxmaps geom": geometry preparation (plump, generalize) and custom-territory operations
// (union, centroid) on WKT in longitude/latitude, one geometry per line.

#include <iosfwd>
#include <string>
#include <vector>

// args are the words after "geom". Returns the process exit status: 0 when every line was
// handled, 1 when some were not (they are reported on err and skipped), 2 for bad arguments.
int RunGeomCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err);
