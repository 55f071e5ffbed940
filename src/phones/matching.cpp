#include "phones/matching.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <set>

#include "base/log.h"
#include "phones/devices.h"

namespace quintalis {
namespace matching {

int changed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, Spot around) {
    // The centre is truncated, not rounded: 0.7 × 90 is just under 63 in doubles, so column 62.
    int cx = static_cast<int>(around.x * kThumbWidth);
    int cy = static_cast<int>(around.y * kThumbHeight);
    int count = 0;
    for (int r = std::max(cy - 7, 0); r <= std::min(cy + 7, kThumbHeight - 1); ++r) {
        for (int c = std::max(cx - 7, 0); c <= std::min(cx + 7, kThumbWidth - 1); ++c) {
            size_t i = static_cast<size_t>(r) * kThumbWidth + c;
            if (std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])) >= kChangedLevel) ++count;
        }
    }
    return count;
}

int score(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    int first = changed(before, after, kFirst);
    int second = changed(before, after, kSecond);
    int controlA = changed(before, after, kControlA);
    int controlB = changed(before, after, kControlB);
    return std::min(first, second) - std::max(controlA, controlB);
}

bool visiblyChanged(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    if (before.size() != after.size()) return true;
    int count = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        if (std::abs(static_cast<int>(before[i]) - static_cast<int>(after[i])) >= kChangedLevel && ++count >= 2) {
            return true;
        }
    }
    return false;
}

std::optional<size_t> decide(const std::vector<int>& scores) {
    if (scores.empty()) return std::nullopt;
    std::vector<size_t> order(scores.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return scores[a] > scores[b]; });
    int best = scores[order[0]];
    if (best < 3) return std::nullopt;
    if (order.size() >= 2 && !(best > 2 * scores[order[1]])) return std::nullopt;
    return order[0];
}

}  // namespace matching

std::optional<size_t> Devices::probe(const UUID& host, const std::vector<ScreenRef>& unmatched) {
    using namespace matching;
    auto pointer = input(host);
    auto thumbnails = [&] {
        std::vector<std::optional<std::vector<uint8_t>>> pictures;
        for (const auto& screen : unmatched) pictures.push_back(screen->thumbnail(kThumbWidth, kThumbHeight));
        return pictures;
    };
    pointer->move(kFirst.x, kFirst.y);
    clock_.sleep(seconds(kSettle));
    auto before = thumbnails();
    pointer->move(kSecond.x, kSecond.y);
    clock_.sleep(seconds(kSettle));
    auto after = thumbnails();

    std::vector<size_t> scored;
    std::vector<int> scores;
    std::string line = "probe " + host.string() + ": ";
    for (size_t i = 0; i < unmatched.size(); ++i) {
        if (!before[i] || !after[i]) continue;  // no frame: no score
        scored.push_back(i);
        scores.push_back(score(*before[i], *after[i]));
        line += (scores.size() > 1 ? " " : "") + unmatched[i]->name() + "=" + std::to_string(scores.back());
    }
    log(line);
    auto chosen = decide(scores);
    if (!chosen) return std::nullopt;
    return scored[*chosen];
}

std::map<std::string, UUID> Devices::runMatch(bool force, bool alwaysProbe) {
    using namespace matching;
    auto screens = screens_.all();
    auto connected = peripheral_.connectedHosts();
    Pairings known;
    {
        std::lock_guard lock(lock_);
        known = pairings_;
    }
    if (force) {
        for (const auto& screen : screens) known.erase(screen->id());
    }
    auto isConnected = [&](const UUID& host) { return std::find(connected.begin(), connected.end(), host) != connected.end(); };
    std::set<UUID> taken;
    std::vector<ScreenRef> unmatched;
    for (const auto& screen : screens) {
        auto paired = known.find(screen->id());
        if (paired != known.end() && isConnected(paired->second)) {
            taken.insert(paired->second);
        } else {
            unmatched.push_back(screen);
        }
    }
    std::vector<UUID> free;
    for (const auto& host : connected) {
        if (!taken.count(host)) free.push_back(host);
    }
    if (unmatched.empty() || free.empty()) return {};

    std::map<std::string, UUID> found;
    if (screens.size() == 1 && connected.size() == 1 && !alwaysProbe) {
        found[screens.front()->id()] = connected.front();
    } else {
        for (const auto& host : free) {
            if (unmatched.empty()) break;
            if (auto chosen = probe(host, unmatched)) {
                found[unmatched[*chosen]->id()] = host;
                unmatched.erase(unmatched.begin() + static_cast<long>(*chosen));
            }
        }
    }
    if (!found.empty()) {
        std::lock_guard lock(lock_);
        store(found);
    }
    for (const auto& [id, host] : found) {
        std::string name = id;
        for (const auto& screen : screens) {
            if (screen->id() == id) name = screen->name();
        }
        log("matched " + name + " to bluetooth host " + host.string());
    }
    return found;
}

}  // namespace quintalis
