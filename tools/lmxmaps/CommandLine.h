#pragma once
// The commands' use of CLI11: one way a parse ends a run, and options whose text the tool parses
// itself.

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

// The parser of one command. A repeated option takes its last value, so a script's options can
// be overridden by appending.
class CommandApp : public CLI::App {
public:
    CommandApp(std::string description, std::string name);

    // Parses the words after the command's name. Returns the exit status when the run ends
    // here: success after the help on out, usage after the problem and the help on err.
    std::optional<int> ParseArguments(const std::vector<std::string>& args, std::ostream& out,
                                      std::ostream& err);
};

// An option whose text parse turns into value: the tool's own parsing, as CLI11's conversions
// also take octal, hexadecimal and leading blanks. parse throws std::invalid_argument saying
// what it wants; that is a usage error naming the option.
template <typename T, typename Parse>
CLI::Option* AddParsedOption(CLI::App& app, const std::string& name, T& value, Parse parse,
                             const std::string& description) {
    return app.add_option_function<std::string>(
        name,
        [&value, parse, name](const std::string& text) {
            try {
                value = parse(text);
            } catch (const std::invalid_argument& e) {
                throw CLI::ValidationError(name, e.what());
            }
        },
        description);
}
