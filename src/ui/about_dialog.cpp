#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/server_manager.h"
#include "ui/app_icon.h"

namespace hm {

AboutDialog::AboutDialog(const QString& configFolder, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Haldmoor3"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(AppIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    const uint32_t v = ServerManager::kProgramVersion;
    auto* text = new QLabel(
        QStringLiteral("<h3>Haldmoor3 %1.%2.%3</h3>"
                       "<p>Runs and supervises Kelvane 3 dedicated servers on this host: launches them, "
                       "follows their remote consoles and players, restarts crashed or hung servers and "
                       "keeps their weekly schedules.</p>"
                       "<p>Copyright &copy; %4.</p>"
                       "<p>Configuration folder:</p>")
            .arg((v >> 16) & 0xFF)
            .arg((v >> 8) & 0xFF)
            .arg(v & 0xFF)
            .arg(QString::fromLatin1(ServerManager::kAuthorCredit)));
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setMinimumWidth(text->fontMetrics().averageCharWidth() * 52);
    auto* texts = new QVBoxLayout;
    texts->addWidget(text);
    // A path can be longer than any line: a field shows it whole, scrolls and can be copied.
    auto* folder = new QLineEdit(configFolder);
    folder->setReadOnly(true);
    folder->setCursorPosition(0);
    texts->addWidget(folder);
    top->addLayout(texts, 1);
    layout->addLayout(top);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace hm
