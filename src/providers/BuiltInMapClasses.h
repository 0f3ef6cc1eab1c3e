#pragma once
// The provider, connection, attribute-filter and validator registrations of the classes built into
// the library (tile server, blank, local, WMS, Mapbox). They run once when the library is loaded; a
// host may replace any of them afterwards.

namespace BuiltInMapClasses {

void Register();

} // namespace BuiltInMapClasses
