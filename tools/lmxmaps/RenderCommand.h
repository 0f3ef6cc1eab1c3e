#pragma once
// lmxmaps render: one map view of a source drawn to a PNG, fetching its tiles as a host does.

#include <iosfwd>
#include <string>
#include <vector>

// showProgress: draw a progress bar on err (for a terminal). Returns the exit status: 0 for a
// complete image, 1 when tiles failed or are missing (the image is still written), 2 for bad
// arguments or an unusable source.
int RunRenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     bool showProgress);
