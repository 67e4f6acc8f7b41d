// What the editors of a server configuration's blocks need besides the record: the presenter for
// their messages, whether the logging library is there, and the game installation for its lists.
//
// Each editor is a modal QDialog that takes a copy of the whole configuration, edits one block of it
// and, after OK, writes that block (and only that block) back with Apply(). Cancel leaves the
// caller's record alone. GUI thread only.
#pragma once

namespace hm {

class CGameInstallation;
class UiPresenter;

struct EditorContext {
    UiPresenter& presenter;
    bool jotwellPresent = false;                      // the library's switch is offered only when present
    const CGameInstallation* installation = nullptr;  // null: the lists show what the record holds
};

}  // namespace hm
