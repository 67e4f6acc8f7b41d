#include "app/command_server.h"

#include <vector>

#include "app/commands.h"
#include "eventlog/event_loop.h"

namespace hm {

namespace {
constexpr const char* kShuttingDown = "Error: Haldmoor3 is shutting down.\n";
}

bool CommandServer::Start(const std::string& name) {
    LocalServerOptions options;
    options.tooLargeAnswer = "Error: request too large.\n";
    options.closingAnswer = kShuttingDown;
    {
        std::lock_guard<std::mutex> guard(late_->lock);
        late_->server = &server_;
    }
    return server_.Listen(name, options, [this](uint64_t id, const std::string& request) {
        std::vector<std::string> words;
        if (!DecodeCommand(request, words)) {
            server_.Answer(id, "Error: malformed request.\n");
        } else if (stopping_) {
            server_.Answer(id, kShuttingDown);
        } else {
            loop_.Post([this, id, words] {
                std::shared_ptr<LateAnswers> late = late_;
                const std::optional<std::string> answer = ExecuteCommandOrLater(
                    manager_, words, nullptr, [late, id](const std::string& text) { late->Answer(id, text); });
                if (answer) server_.Answer(id, *answer);
            });
        }
    });
}

void CommandServer::Stop() {
    if (stopped_) return;
    stopped_ = true;
    stopping_ = true;
    loop_.RunPending();
    {
        std::lock_guard<std::mutex> guard(late_->lock);
        late_->server = nullptr;
    }
    server_.Close();
}

}  // namespace hm
