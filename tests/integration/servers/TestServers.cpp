#include "TestServers.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <map>
#include <rapidjson/document.h>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// lighttpd hands each line to a piped logger right after the response; a log still for this
// long has everything that was answered before the wait began.
constexpr auto kQuietFor = 150ms;
constexpr auto kPollEvery = 10ms;
constexpr auto kWaitAtMost = 3s;
constexpr int kHttpOk = 200;

std::map<std::string, std::string> ReadEnvFile(const std::filesystem::path& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return values;
}

std::uintmax_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

void WaitUntilQuiet(const std::string& accessLog) {
    const auto deadline = std::chrono::steady_clock::now() + kWaitAtMost;
    auto size = FileSize(accessLog);
    auto stillSince = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kPollEvery);
        const auto now = std::chrono::steady_clock::now();
        const auto newSize = FileSize(accessLog);
        if (newSize != size) {
            size = newSize;
            stillSince = now;
        } else if (now - stillSince >= kQuietFor) {
            return;
        }
    }
}

// Complete lines only: a line being written is not there yet.
std::vector<std::string> ReadLines(const std::string& accessLog) {
    std::ifstream in(accessLog, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

const TestServers* TestServers::Get() {
    static const TestServers* const servers = []() -> const TestServers* {
        const char* dir = std::getenv("LMX_TEST_SERVERS_DIR");
        if (dir == nullptr || *dir == '\0') {
            return nullptr;
        }
        auto values = ReadEnvFile(std::filesystem::path(dir) / "servers.env");
        static TestServers read;
        try {
            read.staticPort = std::stoi(values.at("LMX_STATIC_TILE_PORT"));
            read.mapServerPort = std::stoi(values.at("LMX_MAPSERVER_PORT"));
            read.staticAccessLog = values.at("LMX_STATIC_ACCESS_LOG");
            read.mapServerAccessLog = values.at("LMX_MAPSERVER_ACCESS_LOG");
            read.mapDataDir = values.at("LMX_MAP_DATA_DIR");
            read.mapfile = values.at("LMX_MAPSERVER_MAPFILE");
            read.mapboxPort = std::stoi(values.at("LMX_MAPBOX_PORT"));
            read.mapboxDocumentsDir = values.at("LMX_MAPBOX_DOCUMENTS");
        } catch (const std::exception&) {
            return nullptr;
        }
        return &read;
    }();
    return servers;
}

std::size_t AccessLogSize(const std::string& accessLog) {
    WaitUntilQuiet(accessLog);
    return ReadLines(accessLog).size();
}

int CountLinesSince(const std::string& accessLog, std::size_t fromLine,
                    const std::function<bool(std::string_view line)>& matches) {
    WaitUntilQuiet(accessLog);
    const auto lines = ReadLines(accessLog);
    int count = 0;
    for (std::size_t i = fromLine; i < lines.size(); ++i) {
        count += matches(lines[i]) ? 1 : 0;
    }
    return count;
}

int CountMapboxRequests(const std::string& path) {
    const TestServers* servers = TestServers::Get();
    if (servers == nullptr) {
        throw std::runtime_error("no test servers to ask for Mapbox request counts");
    }
    httplib::Client client("127.0.0.1", servers->mapboxPort);
    const httplib::Result result = client.Get("/_fixture/requests");
    if (!result || result->status != kHttpOk) {
        throw std::runtime_error("the Mapbox fixture did not give its request counts");
    }
    rapidjson::Document counts;
    counts.Parse(result->body.c_str(), result->body.size());
    if (counts.HasParseError() || !counts.IsObject()) {
        throw std::runtime_error("the Mapbox fixture's request counts are no JSON object");
    }
    const auto found = counts.FindMember(path.c_str());
    return found != counts.MemberEnd() && found->value.IsInt() ? found->value.GetInt() : 0;
}
