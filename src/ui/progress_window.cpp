#include "ui/progress_window.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/app_icon.h"
#include "ui/text_codec.h"

namespace hm {

namespace {
ProgressWindow::Observer& TheObserver() {
    static ProgressWindow::Observer observer;
    return observer;
}
}  // namespace

void ProgressWindow::SetObserver(Observer observer) { TheObserver() = std::move(observer); }

ProgressWindow::ProgressWindow(QWidget* parent)
    : QDialog(parent), heading_(new QLabel), bar_(new QProgressBar), text_(new QLabel) {
    setWindowTitle(QStringLiteral("Haldmoor3 loading..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(10);
    // The caption also inside the window: some desktops show no title bar on small windows.
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(AppIcon().pixmap(32, 32));
    top->addWidget(icon);
    QFont bold = heading_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    heading_->setFont(bold);
    top->addWidget(heading_, 1);
    layout->addLayout(top);
    text_->setMinimumWidth(text_->fontMetrics().averageCharWidth() * 48);
    layout->addWidget(text_);
    layout->addWidget(bar_);
    bar_->setTextVisible(false);
    setModal(false);
    show();
    Pump();
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::Setup(const std::string& caption, int steps) {
    setWindowTitle(ToQt(caption));
    heading_->setText(ToQt(caption));
    bar_->setRange(0, steps);
    bar_->setValue(0);
    text_->clear();
    Notify("caption: " + caption);
    Pump();
}

void ProgressWindow::Step(const std::string& text) {
    text_->setText(ToQt(text));
    bar_->setValue(std::min(bar_->value() + 1, bar_->maximum()));
    Notify("step: " + text);
    Pump();
}

QString ProgressWindow::stepText() const { return text_->text(); }
int ProgressWindow::position() const { return bar_->value(); }
int ProgressWindow::steps() const { return bar_->maximum(); }

void ProgressWindow::Pump() {
    // Repaint now and let the window system see us; input to other windows waits for the sequence.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressWindow::Notify(const std::string& record) {
    if (TheObserver()) TheObserver()(record, *this);
}

}  // namespace hm
