#include "ui/presenter.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "ui/text_codec.h"

namespace hm {

namespace {
const QString kCaption = QStringLiteral("Haldmoor3");
}

void DialogPresenter::Message(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, kCaption, text);
}

void DialogPresenter::Error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, kCaption + QStringLiteral(" - Error"), text);
}

bool DialogPresenter::AskYesNo(QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, kCaption, question, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool DialogPresenter::PickFile(QWidget* parent, const QString& title, const QString& filter, QString& chosen) {
    const QString file = QFileDialog::getOpenFileName(parent, title, chosen, filter);
    if (file.isEmpty()) return false;
    chosen = file;
    return true;
}

int DialogPresenter::Exec(QDialog& dialog) { return dialog.exec(); }

QString QtFileFilter(const std::string& filter) {
    const QStringList parts = ToQt(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        if (description.isEmpty()) break;  // the closing "||"
        // Qt reads the patterns from the parentheses, so they are written there from the pattern field.
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open > 0 && description.endsWith(QLatin1Char(')'))) description = description.left(open).trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        }
        entries << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace hm
