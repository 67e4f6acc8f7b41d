// The server configurations as a text file for people: every field of every record by its name, so an
// administrator can read, compare, hand-edit and carry configurations between hosts, and read them back.
//
//   [Server NAME]                     one section per configuration, in list order
//   game.timeLimit=120                every field of the record, block.field=value
//   schedule.count=1                  numbered lists: their length, then entries from 1
//   schedule.1=Mon, 08:00 - Mon, 20:00
//
// Values are the record's bytes (Windows-1252) as stored; a backslash, CR, LF, TAB and the other control
// bytes are written as \\, \r, \n, \t and \xHH, so every value stays on its line and comes back byte for
// byte. Lines end with CR LF; the reader also takes LF alone. Blank lines and lines starting with ';'
// or '#' are comments.
//
// Pure functions (text in, text or records out), used by the server manager's export and import
// commands on the user-interface thread. The reader never trusts the text: every number, list index
// and entry is checked, every record goes through the configuration dialog's rules, and a text with
// any error yields no records at all, so an import is all or nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "servers/global_options.h"
#include "servers/server_config.h"

namespace hm {

// The largest text file the import reads.
inline constexpr uint64_t kConfigTextLimit = 1u << 20;

// The text of these configurations, sections in list order.
std::string ConfigsToText(const std::vector<CServerConfig>& configs);

struct ConfigTextError {
    size_t line = 0;  // 1-based; 0 for a remark about the whole text
    std::string message;
};
// "Error: line 12: Please enter an integer between 1024 and 65535." ("Error: message" without a line).
std::string ConfigTextErrorLine(const ConfigTextError& error);

// Reads the sections of a text. Each starts from a new record made with the global options (as the
// server list's "Add" does); keys that a section leaves out keep that record's values, lists it leaves
// out keep their defaults. True with one record per section when the whole text is valid; otherwise
// false, `configs` empty and `errors` naming each bad line (at most kMaxConfigTextErrors, then one
// remark with the count of the rest).
inline constexpr size_t kMaxConfigTextErrors = 50;
bool ConfigsFromText(const std::string& text, const CGlobalOptions& defaults, std::vector<CServerConfig>& configs,
                     std::vector<ConfigTextError>& errors);

// Takes read records into the stored list: the n-th record of a name replaces the n-th stored
// configuration of that name (so lists with repeated names come back as they were exported), the rest
// are appended in text order.
struct ConfigMergeCount {
    size_t replaced = 0;
    size_t added = 0;
};
ConfigMergeCount MergeConfigs(std::vector<CServerConfig>& stored, std::vector<CServerConfig> imported);

}  // namespace hm
