#pragma once
// lmxmaps wms-layers: what a WMS server offers, as a table or as JSON.

#include <iosfwd>
#include <string>
#include <vector>

// Returns the exit status: 0 when the server's capabilities were read, 1 when the server failed
// (no answer, an error status, a document the library cannot use), 2 for bad arguments.
int RunWmsLayersCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
