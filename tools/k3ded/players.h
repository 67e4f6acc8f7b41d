// The players of the simulated game: who joined from which address, their player numbers and observer
// state. Numbers start at 1 (0 is the server itself) and a joining player gets the lowest free one.
// Owned by the server's main thread; no locking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm::k3ded {

struct Player {
    uint32_t number = 0;
    std::string name;
    uint32_t address = 0;  // network byte order
    uint16_t port = 0;
    bool observing = false;
};

class PlayerList {
public:
    // Null when the name is taken (names compare ignoring case) or no number is free below limit.
    Player* Add(const std::string& name, uint32_t address, uint16_t port, uint32_t capacity);
    Player* FindByName(const std::string& name);
    Player* FindByNumber(uint32_t number);
    bool Remove(uint32_t number);
    size_t Count() const { return players_.size(); }
    const std::vector<Player>& All() const { return players_; }  // in number order

private:
    std::vector<Player> players_;
};

}  // namespace hm::k3ded
