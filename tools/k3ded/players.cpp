#include "players.h"

#include <algorithm>

#include "text_util.h"

namespace hm::k3ded {

Player* PlayerList::Add(const std::string& name, uint32_t address, uint16_t port, uint32_t capacity) {
    if (FindByName(name) || players_.size() >= capacity) return nullptr;
    uint32_t number = 1;
    for (const Player& p : players_) {  // sorted by number: the first gap is the lowest free number
        if (p.number != number) break;
        ++number;
    }
    Player player;
    player.number = number;
    player.name = name;
    player.address = address;
    player.port = port;
    auto at = std::lower_bound(players_.begin(), players_.end(), number,
                               [](const Player& p, uint32_t n) { return p.number < n; });
    return &*players_.insert(at, player);
}

Player* PlayerList::FindByName(const std::string& name) {
    for (Player& p : players_)
        if (EqualsNoCase(p.name, name)) return &p;
    return nullptr;
}

Player* PlayerList::FindByNumber(uint32_t number) {
    for (Player& p : players_)
        if (p.number == number) return &p;
    return nullptr;
}

bool PlayerList::Remove(uint32_t number) {
    auto it = std::find_if(players_.begin(), players_.end(), [number](const Player& p) { return p.number == number; });
    if (it == players_.end()) return false;
    players_.erase(it);
    return true;
}

}  // namespace hm::k3ded
