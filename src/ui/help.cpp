#include "ui/help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "platform/files.h"
#include "ui/text_codec.h"

namespace hm {

namespace {
constexpr const char* kPageFiles[kHelpPages] = {
    "00-overview.html",          "01-server-list.html",    "02-server-configuration.html",
    "03-game-options.html",      "04-console-and-logging.html", "05-scheduler.html",
    "06-global-options.html",    "07-trackers.html",       "08-anti-cheat.html",
    "09-remote-info-server.html", "10-updates.html",       "11-main-window.html",
    "12-files-and-commands.html",
};

// help/ beside the program (a build folder, an unpacked release), else where an installation under a
// prefix keeps it: the program in PREFIX/bin, the pages in PREFIX/share/haldmoor3/help.
QString HelpFolder() {
    if (!qEnvironmentVariableIsEmpty("HALDMOOR3_HELP_DIR")) return qEnvironmentVariable("HALDMOOR3_HELP_DIR");
    const QString program = QString::fromStdString(fs::ExecutableFolder());
    const QString beside = program + QStringLiteral("/help");
    const QString installed = QDir::cleanPath(program + QStringLiteral("/../share/haldmoor3/help"));
    return !QFileInfo(beside).isDir() && QFileInfo(installed).isDir() ? installed : beside;
}
}  // namespace

QString HelpPagePath(int page) {
    if (page < 0 || page >= kHelpPages) return QString();
    return HelpFolder() + QLatin1Char('/') + QLatin1String(kPageFiles[page]);
}

bool OpenHelpPage(int page) {
    const QString path = HelpPagePath(page);
    if (path.isEmpty() || !QFileInfo::exists(path)) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace hm
