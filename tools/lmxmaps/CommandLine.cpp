#include "CommandLine.h"

#include "ExitCodes.h"

CommandApp::CommandApp(std::string description, std::string name)
    : CLI::App(std::move(description), std::move(name)) {
    option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

std::optional<int> CommandApp::ParseArguments(const std::vector<std::string>& args,
                                              std::ostream& out, std::ostream& err) {
    try {
        // CLI11 takes the words last first.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << help();
        return ExitCode::kSuccess;
    } catch (const CLI::ParseError& e) {
        err << get_name() << ": " << e.what() << "\n" << help();
        return ExitCode::kUsage;
    }
    return std::nullopt;
}
