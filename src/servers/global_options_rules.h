// The rules of the global options dialog without any screen: the range checks made on OK, the
// alternate address control, the version-check switch and the minutes shown for the restart period.
//
// Pure functions used by the Qt dialog (and the tests) on the user-interface thread. They never touch
// the live options: the dialog works on a copy and the caller copies the result back on OK.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "servers/global_options.h"

namespace hm {

// The fields whose values the dialog checks, in the order it checks them.
enum class GlobalOptionsField {
    None,
    BaseServerPort,
    DefaultPacketsPerSecond,
    DefaultFramesPerSecond,
    DefaultMaxPlayers,
    BaseConsolePort,
    AutoRestartMinutes,
    DefaultTimeLimit,
    DefaultKillGoal,
    MaxPlayersAll,
    DefaultMotd,
};

struct FieldCheck {
    GlobalOptionsField field = GlobalOptionsField::None;  // None: every value is acceptable
    std::string message;                                  // the text for the operator
    bool ok() const { return field == GlobalOptionsField::None; }
};

inline constexpr size_t kMaxMotdLength = 127;

// "Please enter an integer between %1 and %2." with the numbers filled in.
std::string RangeMessage(int64_t low, int64_t high);
// The accepted range of a numeric field; false for fields that have none.
bool FieldRange(GlobalOptionsField field, int64_t& low, int64_t& high);

// What the dialog's controls hold while it is open. Numbers are kept as entered (they may be out of
// range); the flags and texts are edited in `options`, the dialog's copy.
struct GlobalOptionsForm {
    CGlobalOptions options{0};
    int64_t baseServerPort = 0;
    int64_t defaultPacketsPerSecond = 0;
    int64_t defaultFramesPerSecond = 0;
    int64_t defaultMaxPlayers = 0;
    int64_t baseConsolePort = 0;
    int64_t autoRestartMinutes = 0;
    int64_t defaultTimeLimit = 0;
    int64_t defaultKillGoal = 0;
    int64_t maxPlayersAll = 0;
    std::array<uint32_t, 4> addressFields{};  // the four fields of the address control
    uint32_t region = 0;                      // selected index of the region list
    bool versionCheckTicked = false;          // the "Check for software updates" box
};

// Fills the controls from the options as the dialog opens.
GlobalOptionsForm FormFromOptions(const CGlobalOptions& options);
// The first field (in dialog order) whose value is out of range, with its message.
FieldCheck CheckForm(const GlobalOptionsForm& form);
// OK: checks the form; when every value is in range, `result` gets the dialog's copy with the values
// taken over (restart period in milliseconds, region, alternate address, version-check rule).
FieldCheck ApplyForm(const GlobalOptionsForm& form, CGlobalOptions& result);

// "%u.%u.%u.%u" when all four fields are non-zero, else "" (bind to all addresses).
std::string AlternateAddressFromFields(const std::array<uint32_t, 4>& fields);
// Splits the text at "." into at most four numbers, each taken as a byte; missing ones are 0.
std::array<uint32_t, 4> AddressFieldsFromText(const std::string& text);
// Turning the update check on (it was off) clears lastVersionCheck so the check comes soon.
void ApplyVersionCheck(uint32_t versionCheckBefore, bool ticked, CGlobalOptions& options);

inline uint32_t MinutesToPeriod(uint32_t minutes) { return minutes * CGlobalOptions::kMillisecondsPerMinute; }
inline uint32_t PeriodToMinutes(uint32_t milliseconds) { return milliseconds / CGlobalOptions::kMillisecondsPerMinute; }

}  // namespace hm
