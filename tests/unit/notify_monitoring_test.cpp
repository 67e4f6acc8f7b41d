// The monitoring outputs of a snapshot: `status --json` read back as JSON, and the metrics text held
// to the rules of the Prometheus text exposition format, whatever the servers are called.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "app/monitoring.h"
#include "servers/json_text.h"

namespace hm {
namespace {

using nlohmann::json;

// A name with every character that needs escaping somewhere, a Windows-1252 character and an
// undefined byte.
const std::string kHostileName = "Al\"ph\\a\nx}{,=\x93\x81";

MonitoringSnapshot Sample() {
    MonitoringSnapshot s;
    ServerSnapshot running;
    running.port = 2300;
    running.name = kHostileName;
    running.mission = "Oasis \x96 Night";
    running.gameType = "anarchy";
    running.pid = 4242;
    running.state = "running";
    running.players = 3;
    running.maxPlayers = 8;
    running.uptimeSeconds = 125;
    running.restarts = 2;
    running.lastEvent = "2026-01-05 12:00:00: Server 2300: Player 'a\tb' kicked.";
    ServerSnapshot scheduled;
    scheduled.port = 2301;
    scheduled.name = "Beta";
    scheduled.state = "scheduled";
    s.servers = {running, scheduled};
    s.counters.consoleTimeouts = 1;
    s.counters.kicks = {{"hacked", 2}, {"operator", 1}};
    s.counters.bans = {{"some \"new\" reason", 1}};
    s.passes = 9;
    s.lastPassMs = 12;
    s.longestPassMs = 1500;
    s.notifications.sent = 5;
    return s;
}

TEST(Monitoring, StatusJsonReadsBackWithNullsForWhatIsUnknown) {
    const json status = json::parse(StatusJson(Sample()));
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0]["name"], Cp1252ToUtf8(kHostileName));
    EXPECT_EQ(status[0]["mission"], "Oasis \u2013 Night");
    EXPECT_EQ(status[0]["last_event"], "2026-01-05 12:00:00: Server 2300: Player 'a\tb' kicked.");
    for (const char* unknown : {"pid", "players", "uptime_seconds", "last_event"}) EXPECT_TRUE(status[1][unknown].is_null());
    EXPECT_EQ(json::parse(StatusJson(MonitoringSnapshot{})), json::array());
}

// A sample line as the format has it: metric name, labels with their values quoted and escaped, value.
const std::string kLabelPattern = R"re(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\[\\"n])*)")re";
const std::regex kSampleLine("([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\\{((?:" + kLabelPattern + ")(?:," + kLabelPattern +
                             ")*)\\})? (-?[0-9]+(?:\\.[0-9]+)?)");

// "name{label=value,...}" with the values unescaped.
std::string SampleKey(const std::smatch& sample) {
    std::string key = sample[1].str() + "{";
    const std::string labels = sample[2].str();
    const std::regex label(kLabelPattern);
    for (auto it = std::sregex_iterator(labels.begin(), labels.end(), label); it != std::sregex_iterator(); ++it) {
        std::string value;
        const std::string escaped = (*it)[2].str();
        for (size_t i = 0; i < escaped.size(); ++i)
            value += escaped[i] != '\\' ? escaped[i] : escaped[++i] == 'n' ? '\n' : escaped[i];
        key += (*it)[1].str() + "=" + value + ",";
    }
    return key + "}";
}

TEST(Monitoring, MetricsFollowTheExpositionFormatWhateverTheNames) {
    for (const MonitoringSnapshot& snapshot : {Sample(), MonitoringSnapshot{}}) {
        const std::string text = MetricsText(snapshot);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        std::map<std::string, std::string> types;
        std::set<std::string> helps;
        std::map<std::string, double> values;  // "name{label=value,...}" (labels unescaped) -> value
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("# TYPE ", 0) == 0) {
                std::istringstream words(line.substr(7));
                std::string family, type;
                words >> family >> type;
                EXPECT_TRUE(types.emplace(family, type).second) << "second TYPE line of " << family;
                EXPECT_TRUE(type == "counter" || type == "gauge") << line;
                continue;
            }
            if (line.rfind("# HELP ", 0) == 0) {
                EXPECT_TRUE(helps.insert(line.substr(7, line.find(' ', 7) - 7)).second) << line;
                continue;
            }
            std::smatch sample;
            ASSERT_TRUE(std::regex_match(line, sample, kSampleLine)) << line;
            EXPECT_EQ(types.count(sample[1].str()), 1u) << "a sample before its family's TYPE line: " << line;
            EXPECT_TRUE(values.emplace(SampleKey(sample), std::stod(sample[sample.size() - 1].str())).second) << "twice: " << line;
        }
        EXPECT_EQ(helps.size(), types.size());
        for (const char* state : {"running", "restarting", "scheduled", "stopped"})
            EXPECT_EQ(values.count(std::string("haldmoor3_servers{state=") + state + ",}"), 1u) << state;
        EXPECT_EQ(values.count("haldmoor3_kicks_total{reason=hacked,}"), 1u);
        if (snapshot.servers.empty()) continue;

        const std::string server = "{port=2300,name=" + Cp1252ToUtf8(kHostileName) + ",}";
        EXPECT_EQ(values.at("haldmoor3_players" + server), 3);
        EXPECT_EQ(values.at("haldmoor3_restarts_total" + server), 2);
        EXPECT_EQ(values.at("haldmoor3_restarts_total{port=2301,name=Beta,}"), 0);
        EXPECT_EQ(values.count("haldmoor3_players{port=2301,name=Beta,}"), 0u) << "no console, no count";
        EXPECT_EQ(values.at("haldmoor3_players_total{}"), 3);
        EXPECT_EQ(values.at("haldmoor3_servers{state=running,}"), 1);
        EXPECT_EQ(values.at("haldmoor3_servers{state=scheduled,}"), 1);
        EXPECT_EQ(values.at("haldmoor3_kicks_total{reason=hacked,}"), 2);
        EXPECT_EQ(values.at("haldmoor3_kicks_total{reason=short,}"), 0);
        EXPECT_EQ(values.at("haldmoor3_bans_total{reason=some \"new\" reason,}"), 1);
        EXPECT_EQ(values.at("haldmoor3_console_timeouts_total{}"), 1);
        EXPECT_EQ(values.at("haldmoor3_supervisor_tick_seconds{pass=longest,}"), 1.5);
        EXPECT_EQ(values.at("haldmoor3_supervisor_tick_seconds{pass=last,}"), 0.012);
        EXPECT_EQ(values.at("haldmoor3_notifications_total{outcome=sent,}"), 5);
    }
}

}  // namespace
}  // namespace hm
