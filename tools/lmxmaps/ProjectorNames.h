#pragma once
// Projector names accepted on the command line: webmercator, mercator, platecarree, identity,
// albers:LON0,LAT0,LAT1,LAT2,A,E, cea:C and smyth.

#include <string>

#include <lmxmaps/SpatialProjector.h>

// The projector for a name; throws std::invalid_argument with a message naming the problem.
SpatialProjectorPtr CreateProjectorFromName(const std::string& name);

// Whether the projector's world has finite bounds of some size, so that it has a unit square.
bool HasFiniteWorld(const SpatialProjector& projector);

// One line per accepted name, for help texts.
const char* ProjectorNamesHelp();
