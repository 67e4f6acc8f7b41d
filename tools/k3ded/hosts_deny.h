// The game's banned-address list "netgames/hosts.deny": read at start and on "$rehash", consulted for
// every joining client, extended by "$Ban". Owned by the server's main thread.
// Entry syntax (one per line, CR LF or LF): a dotted address "1.2.3.4", or a pattern whose parts may
// be "*" ("10.0.*.*"); a pattern with fewer than four parts whose last part is "*" covers the rest
// ("10.0.*"). Anything after the first blank or TAB is a comment; lines starting with ";" or "#", and
// lines that are no valid entry, are ignored. Never writes anything but whole CR LF lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm::k3ded {

class HostsDeny {
public:
    // Replaces the entries by those of the file; a missing file means no entries. Returns the count.
    size_t Load(const std::string& path);
    void LoadText(const std::string& text);
    // address: dotted text, e.g. "127.0.0.1".
    bool IsDenied(const std::string& address) const;
    // Appends "address\r\n" to the file (created when missing) unless the address is already denied,
    // and adds it to the entries. false when the file could not be written.
    bool Ban(const std::string& path, const std::string& address);
    size_t Count() const { return entries_.size(); }

private:
    struct Entry {
        int parts[4];  // 0..255, or -1 for "any"
    };
    static bool ParseEntry(const std::string& word, Entry& entry);
    std::vector<Entry> entries_;
};

}  // namespace hm::k3ded
