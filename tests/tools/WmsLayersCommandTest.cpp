// lmxmaps wms-layers arguments: every mistake is caught before any connection is tried.

#include "WmsLayersCommand.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result RunWmsLayers(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunWmsLayersCommand(args, out, err);
    return {status, out.str(), err.str()};
}

} // namespace

TEST(WmsLayersCommand, BadArgumentsExitTwoNamingTheProblem) {
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{}, "URL is required"},
        {{"--json"}, "URL is required"},
        {{"http://127.0.0.1/a?", "http://127.0.0.1/b?"}, "not expected: http://127.0.0.1/b?"},
        {{"http://127.0.0.1/mapserv?", "--xml"}, "not expected: --xml"},
        // Nothing listens on port 9 of the loopback: any attempt to connect would fail with
        // status 1, not 2.
        {{"ftp://127.0.0.1:9/mapserv"}, "not an http or https URL"},
        {{"127.0.0.1:9/mapserv"}, "not an http or https URL"},
        {{"http:///mapserv?"}, "not an http or https URL"},
        {{"mapserv"}, "not an http or https URL"},
    };
    for (const auto& c : cases) {
        const Result result = RunWmsLayers(c.args);
        EXPECT_EQ(result.status, 2) << c.expected;
        EXPECT_TRUE(result.out.empty()) << c.expected;
        EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
    }
}

TEST(WmsLayersCommand, HelpDescribesTheOutput) {
    const Result help = RunWmsLayers({"http://127.0.0.1:9/mapserv?", "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* text :
         {"wms-layers [OPTIONS] URL", "--json", "display-name", "max-scale-denom"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
}
