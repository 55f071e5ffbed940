#include "mirror/windows.h"
#include "base/text.h"

#include <algorithm>
#include <cstdlib>

namespace quintalis {
namespace {

// The mirroring app's name as its windows give their owner.
constexpr const char* kMirrorAppName = "iPhone Mirroring";

bool containsText(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A window number as plain decimal digits that fit 32 bits.
std::optional<uint32_t> parseWindowNumber(const std::string& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

// Points for what the owner is and what the user asked for: the evidence
// that makes a window the receiver's rather than one that mentions phones.
int evidenceScore(const WindowDescription& w, const EnvironmentReader& environment) {
    const std::string owner = foldCase(w.owner + " " + w.bundle);
    const std::string title = foldCase(w.title);
    int score = 0;
    const std::string ownerWanted = foldCase(environment("QUINTALIS_AIRPLAY_OWNER").value_or(""));
    const std::string titleWanted = foldCase(environment("QUINTALIS_AIRPLAY_TITLE").value_or(""));
    if (!ownerWanted.empty()) score = containsText(owner, ownerWanted) ? 200 : 0;
    if (!titleWanted.empty() && containsText(title, titleWanted)) score += 200;
    if (w.bundle == "com.apple.AirPlayUIAgent" || containsText(owner, "airplayuiagent")) {
        score += 120;
    } else if (containsText(owner, "airplay") || containsText(owner, "uxplay")) {
        score += 90;
    } else if (w.bundle == "com.apple.controlcenter" && w.width >= 300 && w.height >= 300 && w.layer <= 0) {
        score += w.layer == 0 ? 100 : 40;
    }
    return score;
}

}  // namespace

std::optional<std::string> processEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

JSON WinInfo::json() const {
    JSON json{{"id", window.number},      {"owner", window.owner},  {"bundle", window.bundle},
              {"pid", window.pid},        {"title", window.title},  {"layer", window.layer},
              {"onScreen", window.onScreen}, {"x", window.x},       {"y", window.y},
              {"w", window.width},        {"h", window.height},     {"score", score}};
    if (titleOnly) {
        json["note"] = "only the title suggests a phone: captured only when chosen with --window " +
                       std::to_string(window.number) + " or QUINTALIS_AIRPLAY_TITLE";
    }
    return json;
}

int airplayScore(const WindowDescription& w, const EnvironmentReader& environment) {
    if (w.width < 120 || w.height < 120) return 0;
    const std::string title = foldCase(w.title);
    int score = evidenceScore(w, environment);
    if (containsText(title, "airplay") || containsText(title, "iphone") || containsText(title, "mirroring") ||
        containsText(title, "uxplay")) {
        score += 20;
    } else if (score == 0) {
        return 0;  // visibility alone never makes a candidate
    }
    if (w.onScreen) score += 15;
    if (w.layer == 0) score += 5;
    return score;
}

std::vector<WinInfo> airplayCandidates(const std::vector<WindowDescription>& windows,
                                       const EnvironmentReader& environment) {
    std::vector<WinInfo> candidates;
    for (const auto& window : windows) {
        int score = airplayScore(window, environment);
        if (score > 0) candidates.push_back(WinInfo{window, score, evidenceScore(window, environment) == 0});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const WinInfo& a, const WinInfo& b) {
        if (a.score != b.score) return a.score > b.score;
        return a.window.width * a.window.height > b.window.width * b.window.height;
    });
    return candidates;
}

std::optional<WinInfo> bestReceiver(const std::vector<WinInfo>& candidates) {
    // A hidden receiver shows nothing; one on screen, even scored lower, does.
    for (bool hiddenToo : {false, true}) {
        for (const auto& candidate : candidates) {
            if (!candidate.titleOnly && (hiddenToo || candidate.window.onScreen)) return candidate;
        }
    }
    return std::nullopt;
}

std::vector<WindowDescription> allWindows(WindowServer& server) { return server.windows(); }

std::optional<WinInfo> windowInfo(WindowServer& server, uint32_t number) {
    for (auto& window : server.windows()) {
        if (window.number == number) return WinInfo{std::move(window), 0};
    }
    return std::nullopt;
}

std::optional<WinInfo> pickWindow(WindowServer& server, const std::optional<std::string>& wanted,
                                  const EnvironmentReader& environment) {
    if (wanted && !wanted->empty()) {
        if (auto number = parseWindowNumber(*wanted)) return windowInfo(server, *number);
    }
    return bestReceiver(airplayCandidates(server.windows(), environment));
}

std::optional<RunningApplication> mirrorApp(WindowServer& server) {
    auto windows = server.windows();
    for (const auto& w : windows) {
        if (w.bundle == "com.apple.ScreenContinuity") return RunningApplication{w.pid, w.owner, w.bundle};
    }
    for (const auto& w : windows) {
        if (w.owner == kMirrorAppName) return RunningApplication{w.pid, w.owner, w.bundle};
    }
    return std::nullopt;
}

std::optional<JSON> findWindow(WindowServer& server) {
    std::optional<WindowDescription> best;
    for (auto& w : server.onScreenWindows()) {
        if (w.owner != kMirrorAppName || w.layer != 0) continue;
        if (!best || w.width * w.height > best->width * best->height) best = std::move(w);
    }
    if (!best) return std::nullopt;
    return JSON{{"id", best->number}, {"x", best->x}, {"y", best->y}, {"w", best->width}, {"h", best->height}};
}

}  // namespace quintalis
