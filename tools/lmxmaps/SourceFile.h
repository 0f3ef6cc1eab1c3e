#pragma once
// Map-source attribute sets for the command line: read from a JSON file, or the built-in
// default source.

#include <memory>
#include <optional>
#include <string>

#include <lmxmaps/host/TString.h>

class MapSource;

// The attribute set of a JSON object whose members are strings (numbers and booleans are
// taken as written); nullopt with a message naming the problem otherwise.
std::optional<AttributeMap> ReadSourceFile(const std::string& path, std::string& error);

// A local source over the world tile set that scripts/setup builds in the map tiles directory.
AttributeMap DefaultSourceAttributes();

// The directory the default source reads its tiles from.
TString DefaultSourceTileDirectory();

// The source of an attribute set, as MapSourceFactory makes it (and throws), with an empty
// stored layer list when it has none: a flat attribute set names no layers, and tile-server
// providers list their feature layers from that list.
std::shared_ptr<MapSource> MakeMapSource(const AttributeMap& attributes);
