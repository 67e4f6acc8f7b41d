#include "ui/server_files_dialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialog_buttons.h"
#include "ui/presenter.h"
#include "ui/text_codec.h"

namespace hm {

namespace {

constexpr int kImportHelpPage = 1;

struct FieldText {
    const char* label;
    const char* tip;
    const char* browseTip;
    const char* filter;
};
// The batch filter also offers shell scripts: on this host servers are started by scripts too.
constexpr FieldText kTexts[ServerFilesDialog::kFields] = {
    {"Launch batch file", "Enter the full path and name of a Kelvane 3 dedicated server configuration batch file here",
     "Select a Kelvane 3 dedicated server start batch file",
     "Batch file (*.bat)|*.bat|Cmd file (*.cmd)|*.cmd|Shell script (*.sh)|*.sh||"},
    {"Main config file", "Main config file", "Select main config file", "Config files (*.cfg)|*.cfg|All files (*.*)|*.*||"},
    {"Multi settings", "Multi settings", "Select multi settings", "Config files (*.cfg)|*.cfg|All files (*.*)|*.*||"},
    {"Autoexec", "Autoexec", "Select autoexec", "Multisettings files (*.dmfc)|*.dmfc|All files (*.*)|*.*||"},
    {"Game tracker", "Game tracker", "Select game tracker", "Game tracker config (*.cfg)|*.cfg|All files (*.*)|*.*||"},
};

}  // namespace

ServerFilesDialog::ServerFilesDialog(UiPresenter& presenter, QWidget* parent) : QDialog(parent), presenter_(presenter) {
    setWindowTitle(QStringLiteral("Haldmoor3 Server Files"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Either a launch batch file, or the main configuration file and the files "
                                                "that go with it:")));
    auto* grid = new QGridLayout;
    for (int f = 0; f < kFields; ++f) {
        auto* label = new QLabel(QString::fromLatin1(kTexts[f].label));
        fields_[f] = new QLineEdit;
        fields_[f]->setObjectName(QStringLiteral("field%1").arg(f));
        fields_[f]->setToolTip(QString::fromLatin1(kTexts[f].tip));
        fields_[f]->setMinimumWidth(fields_[f]->fontMetrics().averageCharWidth() * 56);
        label->setBuddy(fields_[f]);
        browse_[f] = new QPushButton(QStringLiteral("..."));
        browse_[f]->setObjectName(QStringLiteral("browse%1").arg(f));
        browse_[f]->setToolTip(QString::fromLatin1(kTexts[f].browseTip));
        browse_[f]->setAutoDefault(false);
        browse_[f]->setMaximumWidth(browse_[f]->fontMetrics().averageCharWidth() * 6 + 16);
        const int row = f == Batch ? 0 : f + 1;  // a gap between the batch file and the four others
        grid->addWidget(label, row, 0);
        grid->addWidget(fields_[f], row, 1);
        grid->addWidget(browse_[f], row, 2);
        connect(browse_[f], &QPushButton::clicked, this, [this, f] { Browse(static_cast<Field>(f)); });
    }
    grid->setRowMinimumHeight(1, fontMetrics().height() / 2);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    connect(fields_[Batch], &QLineEdit::textChanged, this, [this] { FollowBatch(); });

    auto* box = MakeDialogButtons(this, presenter_, kImportHelpPage);
    connect(box, &QDialogButtonBox::accepted, this, &ServerFilesDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
}

void ServerFilesDialog::Browse(Field f) {
    QString chosen = fields_[f]->text();
    if (!presenter_.PickFile(this, QString::fromLatin1(kTexts[f].browseTip), QtFileFilter(kTexts[f].filter), chosen)) return;
    Chosen(f, chosen);
}

void ServerFilesDialog::Chosen(Field f, const QString& path) {
    if (f == Main && !QFileInfo(path).isFile()) {
        presenter_.Message(this, QStringLiteral("Cannot open %1 for reading!").arg(path));
        return;
    }
    fields_[f]->setText(path);
    if (f != Main) return;
    const std::optional<std::string> main = FromQt(path);
    if (!main) return;
    const ServerFilePaths proposed = ProposeServerFiles(*main);
    fields_[MultiSettings]->setText(ToQt(proposed.multiSettingsFile));
    fields_[Autoexec]->setText(ToQt(proposed.autoexecFile));
    fields_[Tracker]->setText(ToQt(proposed.trackerFile));
}

void ServerFilesDialog::FollowBatch() {
    const bool batch = !fields_[Batch]->text().trimmed().isEmpty();
    for (int f = Main; f < kFields; ++f) {
        fields_[f]->setEnabled(!batch);
        browse_[f]->setEnabled(!batch);
    }
}

void ServerFilesDialog::accept() {
    std::string* targets[kFields] = {&paths_.batchFile, &paths_.mainFile, &paths_.multiSettingsFile, &paths_.autoexecFile,
                                     &paths_.trackerFile};
    for (int f = 0; f < kFields; ++f) {
        QString bad;
        const std::optional<std::string> bytes = FromQt(fields_[f]->text().trimmed(), &bad);
        if (!bytes) {
            presenter_.Message(this, QStringLiteral("The path contains the character \"%1\", which the game's files cannot "
                                                    "hold. Please choose a file whose path has none.")
                                         .arg(bad));
            fields_[f]->setFocus();
            return;
        }
        *targets[f] = *bytes;
    }
    if (paths_.batchFile.empty() && paths_.mainFile.empty()) {
        presenter_.Message(this, QStringLiteral("Please choose a launch batch file or a main config file."));
        fields_[Main]->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace hm
