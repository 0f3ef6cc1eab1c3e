#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The value of option name at args[i], given as "--name value" (i then moves to the value) or
// "--name=value"; nullopt when args[i] is not the option. A missing value is an invalid_argument.
inline std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                              const std::string& name) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 == args.size()) {
            throw std::invalid_argument(name + " needs a value");
        }
        return args[++i];
    }
    if (arg.rfind(name + "=", 0) == 0) {
        return arg.substr(name.size() + 1);
    }
    return std::nullopt;
}
