// The main window's parts that need no game server: the event list as the operator uses it, every
// control's tool tip, minimising with and without a notification area, the About box and the help page.
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QUrl>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QTextBrowser>

#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "servers/dialog_state.h"
#include "ui/editor_context.h"
#include "ui/event_list_view.h"
#include "ui/help.h"
#include "ui/scheduler_dialog.h"
#include "ui/status_list.h"
#include "ui/text_codec.h"
#include "ui_harness.h"

namespace hm::ui_test {

// Catches what the window opens in the browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

namespace {

class WindowPartsTest : public UiHarness {
protected:
    void SetUp() override {
        UiHarness::SetUp();
        Prepare({0, 500});
        Open();
        StartUp();
    }
};

TEST_F(WindowPartsTest, TheEventListFollowsTheCoreCopiesFiltersAndMarksErrors) {
    EventLogList events(RealClock(), nullptr, loop.get());
    events.SetSink(window.get());
    QListWidget* list = window->eventList()->list();
    list->clear();
    for (int i = 1; i <= 801; ++i) events.AddEvent("event %d", i);
    ASSERT_TRUE(WaitFor([&] { return list->count() == 780; }));
    EXPECT_TRUE(list->item(779)->text().endsWith("event 801"));
    EXPECT_TRUE(list->item(0)->text().endsWith("event 22"));
    const QRect newest = list->visualItemRect(list->item(779));
    EXPECT_TRUE(list->viewport()->rect().intersects(newest));

    // Scrolled up by the operator, the view stays where it is.
    list->verticalScrollBar()->setValue(0);
    events.AddEvent("event 802");
    ASSERT_TRUE(WaitFor([&] { return list->item(list->count() - 1)->text().endsWith("event 802"); }));
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);

    // Copy: the selected lines, each with CR LF; none selected is said.
    list->clearSelection();
    window->eventList()->CopySelection();
    EXPECT_EQ(presenter.messages.value(0), "No items selected!");
    list->item(3)->setSelected(true);
    list->item(1)->setSelected(true);
    window->eventList()->CopySelection();
    EXPECT_EQ(QApplication::clipboard()->text(), list->item(1)->text() + "\r\n" + list->item(3)->text() + "\r\n");

    // The filter narrows what is shown, never the list itself.
    QLineEdit* filter = window->eventList()->filter();
    QTest::keyClicks(filter, "event 79");
    int shown = 0;
    for (int row = 0; row < list->count(); ++row) shown += !list->item(row)->isHidden();
    EXPECT_EQ(shown, 11);  // 79 and 790 ... 799
    EXPECT_EQ(events.Lines().size(), static_cast<size_t>(list->count()));
    filter->clear();
    shown = 0;
    for (int row = 0; row < list->count(); ++row) shown += !list->item(row)->isHidden();
    EXPECT_EQ(shown, list->count());

    // Errors red, warnings amber, the rest plain.
    struct Mark {
        const char* text;
        EventListView::Kind kind;
    };
    const Mark marks[] = {
        {"Error: Cannot write KelvaneConfig.dat.", EventListView::Kind::Error},
        {"Server 2092: remote console timeout (crashed?)", EventListView::Kind::Warning},
        {"Server 2092: Startup failed.", EventListView::Kind::Warning},
        {"Server 2092: Launched - TCP/IP.", EventListView::Kind::Plain},
    };
    for (const Mark& mark : marks)
        EXPECT_EQ(EventListView::KindOf(QString("2026-12-08 10:00:00: ") + mark.text), mark.kind) << mark.text;
    events.SetSink(nullptr);
}

TEST_F(WindowPartsTest, EveryControlShowsItsToolTip) {
    const std::pair<const char*, const char*> tips[] = {
        {"globalOptions", "Change the global Haldmoor3 options."},
        {"startServers", "Open the server list to configure and/or start\nKelvane 3 servers."},
        {"stopServers", "Stop the selected Kelvane 3 server(s)."},
        {"stopAll", "Stop all running Kelvane 3 servers."},
        {"about", "Display copyright and version info of Haldmoor3."},
        {"help", "Open a web browser with a more detailed description\nof this window."},
        {"exit", "Close Haldmoor3.\n\nThis does not stop running Kelvane 3 servers.\n"},
        {"stopExit", "Stop all servers and exit Haldmoor3.\n\nServers will be stopped regardless of whether there\nare "
                     "players in them or not. After all servers have\nbeen stopped Haldmoor3 exits."},
        {"stopEmptyExit", "First stop all servers that don't have players in them,\nthen exit Haldmoor3.\n\nKelvane 3 "
                          "servers with players will stay running."},
        {"stopEmpty", "Stop all servers that don't have players in them."},
    };
    for (const auto& [name, tip] : tips) {
        QWidget* control = window->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(control->toolTip().toStdString(), tip) << name;
    }
    EXPECT_EQ(window->statusList()->toolTip(), "Kelvane 3 server status.");
    EXPECT_EQ(window->eventList()->list()->toolTip(),
              "Left-click to select server events.\nRight-click to copy the selected events into the clipboard.");
}

TEST_F(WindowPartsTest, MinimisingUsesTheNotificationAreaOnlyWhereThereIsOne) {
    for (const bool tray : {true, false}) {
        window->SetTrayAvailable(tray);
        window->ShowNormal();
        ASSERT_TRUE(WaitFor([&] { return window->isVisible() && !window->isMinimized(); })) << tray;
        window->showMinimized();
        if (tray) {
            ASSERT_TRUE(WaitFor([&] { return !window->isVisible(); }));
            ASSERT_NE(window->trayIcon(), nullptr);
            EXPECT_TRUE(window->trayIcon()->isVisible());
            EXPECT_EQ(window->trayIcon()->toolTip(), "Haldmoor3");
            emit window->trayIcon()->activated(QSystemTrayIcon::DoubleClick);
            EXPECT_TRUE(WaitFor([&] { return window->isVisible() && !window->isMinimized(); }));
            EXPECT_FALSE(window->trayIcon()->isVisible());
        } else {
            // Without a notification area the window stays reachable from the task bar.
            ASSERT_TRUE(WaitFor([&] { return window->isMinimized(); }));
            EXPECT_TRUE(window->isVisible());
            EXPECT_FALSE(window->trayIcon() && window->trayIcon()->isVisible());
        }
    }
}

TEST_F(WindowPartsTest, AboutHoldsTheSettingsFlagAndHelpOpensTheMainWindowPage) {
    bool flagWhileOpen = false;
    presenter.onExec = [&](QDialog& dialog) {
        flagWhileOpen = settingsDialogOpen.load() == 1;
        SaveShot(dialog, "about");
        return static_cast<int>(QDialog::Accepted);
    };
    QTest::mouseClick(window->findChild<QPushButton*>("about"), Qt::LeftButton);
    EXPECT_TRUE(flagWhileOpen);
    EXPECT_EQ(settingsDialogOpen.load(), 0u);

    // Each window opens its own page: the main window 11, the scheduler 5.
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    QTest::mouseClick(window->findChild<QPushButton*>("help"), Qt::LeftButton);
    CServerConfig config;
    EditorContext context{presenter, false, &manager->installation};
    SchedulerDialog scheduler(config, context, window.get());
    scheduler.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.urls.size(), 2) << presenter.messages.join("; ").toStdString();
    EXPECT_TRUE(catcher.urls[0].toLocalFile().endsWith("/help/11-main-window.html"));
    EXPECT_TRUE(catcher.urls[1].toLocalFile().endsWith("/help/05-scheduler.html"));

    // The pages are plain HTML that any browser shows; the overview as a simple one renders it.
    QTextBrowser page;
    page.setSearchPaths({QFileInfo(HelpPagePath(0)).absolutePath()});
    page.setSource(QUrl::fromLocalFile(HelpPagePath(0)));
    page.resize(900, 700);
    EXPECT_NE(page.toPlainText().indexOf("Haldmoor3"), -1);
    SaveShot(page, "help-index");
}

// Texts cross into the window in Windows-1252 and back; filters of the stores' form become Qt's.
TEST(WindowText, Windows1252BothWaysAndFileFiltersInQtForm) {
    std::string every;
    for (int byte = 1; byte < 256; ++byte) every.push_back(static_cast<char>(byte));
    EXPECT_EQ(FromQt(ToQt(every)), every);
    EXPECT_EQ(ToQt("\x80 \x9f \xe9"), QString::fromUtf8("\u20ac \u0178 \u00e9"));
    QString bad;
    EXPECT_FALSE(FromQt(QString::fromUtf8("Pilot \u03a9"), &bad).has_value());
    EXPECT_EQ(bad, QString::fromUtf8("\u03a9"));

    const std::pair<const char*, const char*> filters[] = {
        {"Config files (*.cfg)|*.cfg|All files (*.*)|*.*||", "Config files (*.cfg);;All files (*)"},
        {"Batch files|*.bat;*.cmd||", "Batch files (*.bat *.cmd)"},
        {"", ""},
    };
    for (const auto& [stored, qt] : filters) EXPECT_EQ(QtFileFilter(stored), QString(qt)) << stored;
}

}  // namespace
}  // namespace hm::ui_test

#include "window_parts_test.moc"
