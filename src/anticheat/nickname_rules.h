// Nickname rules: the verdict on a player's nickname (invalid, hacked, too short, disallowed), the
// prefix patterns of the disallowed list, the merge of a downloaded nickname list, and the small rules
// of the anti-cheat dialog.
//
// The free functions are pure and work on whatever AntiCheatOptions they are given. NicknameRules is
// the one program-wide holder of the options that threads share: every console worker asks it for
// verdicts, the update thread merges downloaded lists into it and the user-interface thread replaces
// it after a load or the dialog and reads it back before storing. It hands out immutable snapshots
// behind a lock, so a verdict never sees a list half-way through a merge. Nothing here touches the
// network, a file or a player; a nickname is only ever compared, copied and passed as an argument to
// a constant format, never used as a format or a path.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "servers/anticheat_options.h"

namespace hm {

class EventLogList;

enum class NicknameVerdictResult {
    None,
    Invalid,     // empty, or the first '%'-or-unprintable character is a '%'
    Hacked,      // holds a character the game never produces (disallowHacked)
    TooShort,    // shortLength characters or fewer (disallowShort)
    Disallowed,  // matches an entry of disallowedNicknames
};

// The accepted range of shortLength; a stored value outside it is taken as the nearest end.
constexpr int32_t kMinShortLength = 1;
constexpr int32_t kMaxShortLength = 4;

// The first rule that applies, in the order of NicknameVerdictResult.
NicknameVerdictResult NicknameVerdict(const std::string& name, const AntiCheatOptions& options);

// The name is invalid because of a '%' (not merely because it is empty): the player's details are
// then never asked for, as the '%' would reach the server's own formatting.
bool NicknameInvalidByPercent(const std::string& name);

// An entry ending in '*' matches every name of two or more characters that begins with the text
// before the '*'; any other entry matches the equal name. Case is ignored.
bool NicknamePatternMatches(const std::string& pattern, const std::string& name);

// Merges a downloaded list (null: the download failed) into list. Lines end at CR LF, CR or LF;
// ";" plus white space starts a comment; leading white space is dropped, trailing white space kept;
// names already listed (ignoring case) are skipped. Each added name is appended to updateLog and
// reported to events (may be null). 1 when at least one name was added, else 0.
int MergeNicknames(EventLogList* events, std::vector<std::string>& list, const std::string* text,
                   std::string& updateLog, bool removePrevious);

// The dialog's "add": appends name unless it is empty or already listed, ignoring case.
bool AddDisallowedNickname(std::vector<std::string>& list, const std::string& name);

// What the dialog's OK keeps: the edited record, with shortLength brought into range and the
// last-update tick of an automatic download that was switched on in the dialog set to 0, so the next
// update check downloads at once.
AntiCheatOptions AcceptAntiCheatDialog(const AntiCheatOptions& before, AntiCheatOptions edited);

// The nickname list is due for download: automatic updates are on, an address is set, the last
// download is 12 hours old (or never happened), and the banned-address list was not due in the same
// pass of the update thread (one download per pass).
constexpr Tick kNicknameUpdatePeriodMs = 43200000;
bool NicknameUpdateDue(const AntiCheatOptions& options, Tick now, bool hostsDenyDueThisPass);

// The update-log text of one download: "Update YYYY-MM-DD HH:MM (uri):" and the downloaded text.
std::string NicknameUpdateLogHeader(const LocalTime& now, const std::string& uri, const std::string& text);

// The program-wide anti-cheat options shared by the console workers, the update thread and the
// user-interface thread.
class NicknameRules {
public:
    NicknameRules();
    explicit NicknameRules(const AntiCheatOptions& options);

    // Replaces the whole record (after the start-up load or the dialog's OK).
    void Set(const AntiCheatOptions& options);
    // A copy of the current record (for storing it with the global options, or for the dialog).
    AntiCheatOptions Get() const;
    // The current record, unchanged for as long as the caller holds it.
    std::shared_ptr<const AntiCheatOptions> Snapshot() const;

    NicknameVerdictResult Verdict(const std::string& name) const;

    // MergeNicknames on disallowedNicknames; readers see the list before or after, never between.
    int Merge(EventLogList* events, const std::string* text, std::string& updateLog,
              bool removePrevious);
    // Sets the time of the last nickname or banned-address download (update thread).
    void SetNicknamesLastUpdate(uint32_t tick);
    void SetHostsDenyLastUpdate(uint32_t tick);

    // After a nickname list download (null text: it failed): merges it as removePreviousNicknames
    // says and, when names were added, writes the update log to "BannedNicknamesUpdate.log" in
    // logFolder, replacing the file when the previous names were removed, else appending. Result as
    // MergeNicknames.
    int ApplyNicknameDownload(EventLogList* events, const std::string& logFolder, const LocalTime& now,
                              const std::string& uri, const std::string* text);

private:
    void Publish(std::shared_ptr<const AntiCheatOptions> next);

    mutable std::mutex lock_;                        // guards current_
    std::shared_ptr<const AntiCheatOptions> current_;
    std::mutex writeLock_;                           // one read-modify-write at a time
};

}  // namespace hm
