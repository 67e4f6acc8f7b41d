// The notifications dialog behind the global options: it lists the web hooks of cfg/haldmoor3.ini,
// "Test" shows what each one answered, and a hook added in the dialog is checked, written to the file
// (its comments kept) and used at once.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/socket.h"
#include "support/text.h"
#include "ui/global_options_dialog.h"
#include "ui/notifications_dialog.h"
#include "ui_harness.h"

namespace hm::ui_test {
namespace {

// A web hook on 127.0.0.1 that answers every request with 204 and keeps each request's path and body.
class Hook {
public:
    Hook() {
        listener_.Create(SocketType::Stream);
        listener_.Bind(LoopbackAddress(), 0);
        listener_.Listen();
        listener_.SetReceiveTimeout(100);
        thread_ = std::thread([this] {
            while (!stop_) {
                TcpSocket client;
                if (listener_.Accept(client)) Serve(client);
            }
        });
    }
    ~Hook() {
        stop_ = true;
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(listener_.LocalPort()) + path; }
    std::vector<std::pair<std::string, std::string>> Received() {
        std::lock_guard<std::mutex> guard(lock_);
        return received_;
    }

private:
    void Serve(TcpSocket& client) {
        client.SetReceiveTimeout(2000);
        std::string request;
        char buffer[4096];
        size_t head = std::string::npos;
        while ((head = request.find("\r\n\r\n")) == std::string::npos) {
            const int got = client.Receive(buffer, sizeof buffer);
            if (got <= 0) return;
            request.append(buffer, static_cast<size_t>(got));
        }
        const size_t length = std::stoul(request.substr(request.find("Content-Length: ") + 16));
        while (request.size() < head + 4 + length) {
            const int got = client.Receive(buffer, sizeof buffer);
            if (got <= 0) return;
            request.append(buffer, static_cast<size_t>(got));
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            const size_t path = request.find(' ') + 1;
            received_.emplace_back(request.substr(path, request.find(' ', path) - path), request.substr(head + 4));
        }
        client.Send("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }

    TcpSocket listener_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::pair<std::string, std::string>> received_;
    std::thread thread_;
};

class NotificationsTest : public UiHarness {};

QString Cell(QTableWidget* list, int row, int column) {
    const QTableWidgetItem* item = list->item(row, column);
    return item ? item->text() : QString();
}

TEST_F(NotificationsTest, TheDialogListsTestsAndSavesTheWebHooks) {
    Hook hook;
    Prepare({0, 500});
    const std::string closed = "http://127.0.0.1:" + std::to_string(FindFreeTcpPort()) + "/archive";
    std::filesystem::create_directories(folder / "cfg");
    const std::string ini = (folder / "cfg" / "haldmoor3.ini").string();
    std::ofstream(ini) << "; my web hooks\n[notify admins]\nurl=" << hook.Url("/admins")
                       << "\nformat=discord\nevents=crash,error\n\n[notify archive]\nurl=" << closed << "\n";
    Open();
    StartUp();

    bool listed = false, saved = false;
    presenter.onExec = [&](QDialog& shown) {
        if (auto* options = dynamic_cast<GlobalOptionsDialog*>(&shown)) {
            EXPECT_EQ(options->findChild<QLabel*>("notifyCount")->text(), "2 web hooks");
            QTest::mouseClick(options->button("notifications"), Qt::LeftButton);
            EXPECT_EQ(options->findChild<QLabel*>("notifyCount")->text(), "3 web hooks");
            options->reject();  // the hooks were saved by their own dialog
            return static_cast<int>(QDialog::Rejected);
        }
        auto* d = dynamic_cast<NotificationsDialog*>(&shown);
        if (!d) return static_cast<int>(QDialog::Rejected);
        QTableWidget* list = d->list();
        EXPECT_EQ(list->rowCount(), 2);
        const QStringList rows[] = {
            {"admins", QString::fromStdString(hook.Url("/admins")), "discord", "crash, error"},
            {"archive", QString::fromStdString(closed), "json", "all"},
        };
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 4; ++column) EXPECT_EQ(Cell(list, row, column), rows[row][column]) << row << column;
        listed = true;

        QTest::mouseClick(d->findChild<QPushButton*>("test"), Qt::LeftButton);
        EXPECT_TRUE(WaitFor([&] {
            return Cell(list, 0, NotificationsDialog::kResult) == "HTTP 204" &&
                   Cell(list, 1, NotificationsDialog::kResult).startsWith("failed: ");
        })) << Cell(list, 0, NotificationsDialog::kResult).toStdString() << " / "
            << Cell(list, 1, NotificationsDialog::kResult).toStdString();
        SaveShot(*d, "notifications");

        // A new hook: its address is checked before the dialog closes.
        QTest::mouseClick(d->findChild<QPushButton*>("add"), Qt::LeftButton);
        EXPECT_EQ(list->rowCount(), 3);
        auto* name = d->findChild<QLineEdit*>("name");
        name->selectAll();
        QTest::keyClicks(name, "ops room");
        QTest::keyClicks(d->findChild<QLineEdit*>("url"), "chat.example.org/hook");
        QTest::mouseClick(d->findChild<QCheckBox*>("kind_start"), Qt::LeftButton);
        QTest::mouseClick(Ok(*d), Qt::LeftButton);
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(presenter.messages.value(0), "The address of \"ops room\" must begin with http:// or https:// and hold no blanks.");
        auto* url = d->findChild<QLineEdit*>("url");
        url->clear();
        QTest::keyClicks(url, QString::fromStdString(hook.Url("/ops")));
        EXPECT_EQ(Cell(list, 2, NotificationsDialog::kEvents), "stop, crash, restart, kick, ban, update, error");
        QTest::mouseClick(Ok(*d), Qt::LeftButton);
        saved = d->result() == QDialog::Accepted;
        return d->result();
    };
    QTest::mouseClick(window->findChild<QPushButton*>("globalOptions"), Qt::LeftButton);
    ASSERT_TRUE(listed);
    ASSERT_TRUE(saved);

    const std::string text = test_support::ReadFile(ini);
    EXPECT_EQ(text.rfind("; my web hooks\n[notify admins]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\n[notify ops room]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nurl=" + hook.Url("/ops") + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nformat=discord\n"), std::string::npos) << text;
    ASSERT_EQ(manager->programSettings.settings.notify.size(), 3u);

    // The new hook hears of the next crash at once.
    manager->events.AddEvent("Server 2300: Not running anymore -> Restart.");
    EXPECT_TRUE(WaitFor([&] {
        for (const auto& [path, body] : hook.Received())
            if (path == "/ops" && body.find("[crash] Server 2300: Not running anymore") != std::string::npos) return true;
        return false;
    }));
}

}  // namespace
}  // namespace hm::ui_test
