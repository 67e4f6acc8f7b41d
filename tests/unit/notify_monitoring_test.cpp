// The monitoring outputs of a snapshot: `status --json` read back as JSON, and the metrics text held
// to the rules of the Prometheus text exposition format, whatever the servers are called.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "app/monitoring.h"
#include "notify/json_text.h"

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

TEST(Monitoring, StatusJsonReadsBackAsOneObjectPerServer) {
    const json status = json::parse(StatusJson(Sample()));
    ASSERT_TRUE(status.is_array());
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0], json({{"port", 2300},
                               {"name", Cp1252ToUtf8(kHostileName)},
                               {"mission", "Oasis \u2013 Night"},
                               {"game_type", "anarchy"},
                               {"pid", 4242},
                               {"state", "running"},
                               {"players", 3},
                               {"max_players", 8},
                               {"uptime_seconds", 125},
                               {"restarts", 2},
                               {"last_event", "2026-01-05 12:00:00: Server 2300: Player 'a\tb' kicked."}}));
    EXPECT_EQ(status[1]["pid"], nullptr);
    EXPECT_EQ(status[1]["players"], nullptr);
    EXPECT_EQ(status[1]["uptime_seconds"], nullptr);
    EXPECT_EQ(status[1]["last_event"], nullptr);
    EXPECT_EQ(json::parse(StatusJson(MonitoringSnapshot{})), json::array());
}

// One sample line: its metric name, labels (unescaped) and value; false when the line breaks a rule.
bool ParseSample(const std::string& line, std::string& name, std::map<std::string, std::string>& labels, double& value,
                 std::string& why) {
    static const std::regex kName("[a-zA-Z_:][a-zA-Z0-9_:]*");
    static const std::regex kLabel("[a-zA-Z_][a-zA-Z0-9_]*");
    size_t at = line.find_first_of("{ ");
    if (at == std::string::npos) return why = "no value", false;
    name = line.substr(0, at);
    if (!std::regex_match(name, kName)) return why = "metric name", false;
    labels.clear();
    if (line[at] == '{') {
        ++at;
        while (line[at] != '}') {
            const size_t eq = line.find('=', at);
            if (eq == std::string::npos) return why = "label without =", false;
            const std::string label = line.substr(at, eq - at);
            if (!std::regex_match(label, kLabel)) return why = "label name " + label, false;
            if (line[eq + 1] != '"') return why = "unquoted label value", false;
            std::string text;
            size_t i = eq + 2;
            for (; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] != '\\') {
                    text += line[i];
                    continue;
                }
                const char next = ++i < line.size() ? line[i] : '\0';
                if (next == 'n') text += '\n';
                else if (next == '\\' || next == '"') text += next;
                else return why = "escape \\" + std::string(1, next), false;
            }
            if (i >= line.size()) return why = "open label value", false;
            labels[label] = text;
            at = i + 1;
            if (line[at] == ',') ++at;
            else if (line[at] != '}') return why = "after a label value", false;
        }
        ++at;
    }
    if (line[at] != ' ') return why = "no blank before the value", false;
    char* end = nullptr;
    value = std::strtod(line.c_str() + at + 1, &end);
    if (end == line.c_str() + at + 1 || *end) return why = "value", false;
    return true;
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
            std::string name, why;
            std::map<std::string, std::string> labels;
            double value = 0;
            ASSERT_TRUE(ParseSample(line, name, labels, value, why)) << why << ": " << line;
            EXPECT_EQ(types.count(name), 1u) << "a sample before its family's TYPE line: " << line;
            std::string key = name + "{";
            for (const auto& [label, text] : labels) key += label + "=" + text + ",";
            EXPECT_TRUE(values.emplace(key + "}", value).second) << "a sample twice: " << line;
        }
        EXPECT_EQ(helps.size(), types.size());
        for (const char* state : {"running", "restarting", "scheduled", "stopped"})
            EXPECT_EQ(values.count(std::string("haldmoor3_servers{state=") + state + ",}"), 1u) << state;
        EXPECT_EQ(values.count("haldmoor3_kicks_total{reason=hacked,}"), 1u);
        if (snapshot.servers.empty()) continue;

        const std::string server = "{name=" + Cp1252ToUtf8(kHostileName) + ",port=2300,}";
        EXPECT_EQ(values.at("haldmoor3_players" + server), 3);
        EXPECT_EQ(values.at("haldmoor3_restarts_total" + server), 2);
        EXPECT_EQ(values.at("haldmoor3_restarts_total{name=Beta,port=2301,}"), 0);
        EXPECT_EQ(values.count("haldmoor3_players{name=Beta,port=2301,}"), 0u) << "no console, no count";
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
