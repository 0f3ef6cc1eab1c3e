#pragma once
// Map-source attribute sets for the command line: read from a JSON file, or the built-in
// default source.

#include <optional>
#include <string>

#include <lmxmaps/host/TString.h>

// The attribute set of a JSON object whose members are strings (numbers and booleans are
// taken as written); nullopt with a message naming the problem otherwise.
std::optional<AttributeMap> ReadSourceFile(const std::string& path, std::string& error);

// A local source over the world tile set that scripts/setup builds in the map tiles directory.
AttributeMap DefaultSourceAttributes();

// The directory the default source reads its tiles from.
TString DefaultSourceTileDirectory();
