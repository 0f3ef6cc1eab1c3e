#pragma once
// Application options and preferences: one process-wide registry of named values with
// defaults.
//
// The value of an option is, in order of precedence: a value set with Options::Set, the
// environment variable "LMX_" followed by the name with every '.' turned into '_'
// (LMX_LogLevel, LMX_imageobject_preferred_cache_size), the registered default. Asking
// for a name that is not registered is a logic error: it catches misspelt names at once.

#include <optional>
#include <vector>

#include <lmxmaps/host/TString.h>

namespace Options {

struct Definition {
    const char* name;
    const char* defaultValue;
    const char* description;
};

// Every registered option, in registry order.
const std::vector<Definition>& Definitions();

TString GetString(const TString& name);
// "true", "1", "yes" and "on" (any case) are true; anything else is false.
bool GetBool(const TString& name);
// The value parsed as a decimal; the default when the value is not a number.
double GetDouble(const TString& name);
// The value parsed as a base-10 integer; the default when it is not one.
long long GetInt(const TString& name);

// Overrides an option for this process; std::nullopt removes the override.
void Set(const TString& name, std::optional<TString> value);

// The name of the environment variable that overrides an option.
TString EnvironmentName(const TString& name);

} // namespace Options
