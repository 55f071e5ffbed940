#include "app/model/ai_connect.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "app/model/json_text_edit.h"
#include "app/model/unicode_text.h"
#include "base/atomic_file.h"
#include "base/read_file.h"
#include "base/text.h"

namespace quintalis {
namespace {

constexpr auto kShellTimeout = std::chrono::seconds(8);
constexpr auto kRemoveTimeout = std::chrono::seconds(30);
constexpr auto kAddTimeout = std::chrono::seconds(60);
constexpr const char* kNotJSON = "Claude Desktop's settings file isn't valid JSON, so it was left as is. Add this by "
                                 "hand under \"mcpServers\" in ";

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

// The command of our entry in the "mcpServers" object of a JSON settings file.
std::optional<std::string> listedCommand(const std::filesystem::path& file) {
    auto settings = readJSON(file);
    if (!settings) return std::nullopt;
    auto servers = settings->find("mcpServers");
    if (servers == settings->end() || !servers->is_object()) return std::nullopt;
    auto entry = servers->find(AIConnect::kServerName);
    if (entry == servers->end() || !entry->is_object()) return std::nullopt;
    auto command = entry->find("command");
    if (command == entry->end() || !command->is_string()) return std::nullopt;
    return command->get<std::string>();
}

// The command of the [mcp_servers.quintalis] table of a Codex config.toml,
// as a basic ("…") or literal ('…') string on one line.
std::optional<std::string> tableCommand(const std::string& toml) {
    const std::string header = "[mcp_servers." + std::string(AIConnect::kServerName) + "]";
    bool inTable = false;
    size_t start = 0;
    while (start < toml.size()) {
        size_t end = toml.find('\n', start);
        if (end == std::string::npos) end = toml.size();
        std::string line = trimWhiteSpace(toml.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            inTable = line.rfind(header, 0) == 0;
            continue;
        }
        if (!inTable || line.rfind("command", 0) != 0) continue;
        std::string value = trimWhiteSpace(line.substr(7));
        if (value.empty() || value[0] != '=') continue;
        value = trimWhiteSpace(value.substr(1));
        if (value.size() >= 2 && value[0] == '\'') return value.substr(1, value.find('\'', 1) - 1);
        if (value.empty() || value[0] != '"') return std::nullopt;
        std::string text;
        for (size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            text += value[i];
        }
        return text;
    }
    return std::nullopt;
}

// The time as in 2026-12-05T06-11-18Z: UTC to the second, "-" for ":" so it
// can stand in a file name.
std::string backupStamp(int64_t wallMillis) {
    std::time_t seconds = static_cast<std::time_t>(wallMillis / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H-%M-%SZ", &utc);
    return text;
}

}  // namespace

std::string shellQuote(std::string_view word) {
    bool bare = true;
    for (char c : word) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                     c == '.' || c == '/' || c == '-';
        bare = bare && plain;
    }
    if (bare) return std::string(word);
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string jsonStringLiteral(std::string_view text) {
    return JSON(std::string(text)).dump(-1, ' ', false, JSON::error_handler_t::replace);
}

std::string tomlStringLiteral(std::string_view text) {
    std::string literal = "\"";
    for (char c : repairUTF8(text)) {
        switch (c) {
            case '"': literal += "\\\""; break;
            case '\\': literal += "\\\\"; break;
            case '\b': literal += "\\b"; break;
            case '\t': literal += "\\t"; break;
            case '\n': literal += "\\n"; break;
            case '\f': literal += "\\f"; break;
            case '\r': literal += "\\r"; break;
            default:
                if ((c >= 0 && c < 0x20) || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
                    literal += escaped;
                } else {
                    literal += c;
                }
        }
    }
    return literal + "\"";
}

std::optional<JSON> readJSON(const std::filesystem::path& file) {
    auto text = readFile(file);
    if (!text) return std::nullopt;
    auto value = parseJSON(*text);
    if (!value || !value->is_object()) return std::nullopt;
    return value;
}

AIConnect::AIConnect(const HostEnvironment& host, ChildProcesses& processes, Clock& clock,
                     std::function<std::filesystem::path()> cliPath)
    : host_(host), processes_(processes), clock_(clock), cliPath_(std::move(cliPath)) {}

std::filesystem::path AIConnect::home() const { return host_.homeDirectory(); }

std::filesystem::path AIConnect::claudeDesktopConfig() const {
    return host_.configurationDirectory() / "Claude/claude_desktop_config.json";
}

std::filesystem::path AIConnect::claudeCodeConfig() const { return home() / ".claude.json"; }

std::filesystem::path AIConnect::codexConfig() const {
    std::string codexHome = host_.variable("CODEX_HOME").value_or("");
    if (codexHome.empty()) {
        std::lock_guard lock(mutex_);
        codexHome = shellCodexHome_;
    }
    std::filesystem::path folder = !codexHome.empty() ? std::filesystem::path(codexHome) : home() / ".codex";
    return folder / "config.toml";
}

void AIConnect::lookUpCodexHome() const {
    if (!host_.variable("CODEX_HOME").value_or("").empty()) return;
    auto shell = host_.variable("SHELL");
    std::filesystem::path program = shell && !shell->empty() ? std::filesystem::path(*shell) : "/bin/sh";
    ToolRun answer = run(program, {"-lc", "printf %s \"$CODEX_HOME\""}, kShellTimeout);
    // Only an absolute folder is taken: a profile may print its own greetings.
    std::string found = answer.status == 0 && !answer.output.empty() && answer.output[0] == '/' &&
                                answer.output.find('\n') == std::string::npos
                            ? answer.output
                            : "";
    std::lock_guard lock(mutex_);
    shellCodexHome_ = found;
}

std::string AIConnect::claudeCodeCommand() const {
    return "claude mcp add -s user " + std::string(kServerName) + " -- " + shellQuote(cliPath().string()) + " mcp";
}

std::string AIConnect::desktopSnippet() const {
    return "\"" + std::string(kServerName) + "\": { \"command\": " + jsonStringLiteral(cliPath().string()) +
           ", \"args\": [\"mcp\"] }";
}

std::string AIConnect::codexSnippet() const {
    return "[mcp_servers." + std::string(kServerName) + "]\ncommand = " + tomlStringLiteral(cliPath().string()) +
           "\nargs = [\"mcp\"]";
}

ToolRun AIConnect::run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                       Duration timeout) const {
    ToolRun result = processes_.run(executable, arguments, timeout);
    result.output = trimWhiteSpace(repairUTF8(result.output));
    return result;
}

std::optional<std::filesystem::path> AIConnect::findClaude() const {
    const std::filesystem::path places[] = {
        home() / ".claude/local/claude", home() / ".local/bin/claude", "/usr/local/bin/claude",
        "/usr/bin/claude",               home() / ".npm-global/bin/claude", home() / ".bun/bin/claude",
    };
    for (const auto& place : places) {
        if (isExecutableFile(place)) return place;
    }
    auto shell = host_.variable("SHELL");
    std::filesystem::path program = shell && !shell->empty() ? std::filesystem::path(*shell) : "/bin/sh";
    std::string answer = run(program, {"-lc", "command -v claude"}, kShellTimeout).output;
    if (!answer.empty() && answer[0] == '/' && isExecutableFile(answer)) return answer;
    return std::nullopt;
}

Registration AIConnect::addToClaudeCode(const std::filesystem::path& claude) const {
    std::string name(kServerName);
    // An earlier registration, perhaps of another path, would make the add fail.
    run(claude, {"mcp", "remove", "-s", "user", name}, kRemoveTimeout);
    ToolRun added = run(claude, {"mcp", "add", "-s", "user", name, "--", cliPath().string(), "mcp"}, kAddTimeout);
    if (added.status == 0) return {true, "Added. Start a new Claude Code session and ask it to look at your iPhone."};
    if (!added.output.empty()) return {false, added.output};
    return {false, "claude exited with " + std::to_string(added.status)};
}

bool AIConnect::startsThisCopy(const std::optional<std::string>& command) const {
    if (!command || command->empty() || !isExecutableFile(*command)) return false;
    std::error_code error;
    return *command == cliPath().string() || std::filesystem::equivalent(*command, cliPath(), error);
}

bool AIConnect::claudeCodeHasQuintalis() const { return startsThisCopy(listedCommand(claudeCodeConfig())); }

bool AIConnect::claudeDesktopHasQuintalis() const { return startsThisCopy(listedCommand(claudeDesktopConfig())); }

bool AIConnect::codexHasQuintalis() const {
    auto text = readFile(codexConfig());
    return text && startsThisCopy(tableCommand(*text));
}

Registration AIConnect::addToClaudeDesktop() const {
    namespace fs = std::filesystem;
    fs::path file = claudeDesktopConfig();
    fs::path target = file;
    const std::string entry = "{\"command\": " + jsonStringLiteral(cliPath().string()) + ", \"args\": [\"mcp\"]}";
    std::string text = "{\n  \"mcpServers\": {\n    " + jsonStringLiteral(kServerName) + ": " + entry + "\n  }\n}\n";
    std::string note;
    std::optional<fs::perms> mode;
    std::error_code error;
    if (!fs::exists(file, error)) {
        fs::create_directories(file.parent_path(), error);
    } else {
        auto old = readFile(file);
        if (!old) return {false, "Couldn't read " + file.string() + "."};
        if (!old->empty()) {
            // Edited as text, so that the user's numbers, order and spacing stay as they were.
            auto merged = setNestedMember(*old, "mcpServers", kServerName, entry);
            auto check = merged ? parseJSON(*merged) : std::nullopt;
            bool listed = check && check->is_object() && check->contains("mcpServers") &&
                          (*check)["mcpServers"].is_object() && (*check)["mcpServers"].contains(kServerName);
            if (!listed) return {false, kNotJSON + file.string() + ":", desktopSnippet()};
            text = *merged;
        }
        // The backup is written whole or not at all, from the text just read:
        // a copy cut short by a crash would pass for the user's old settings.
        std::string backup = file.filename().string() + ".backup-" + backupStamp(clock_.wallMillis());
        if (fs::exists(file.parent_path() / backup, error)) error = std::make_error_code(std::errc::file_exists);
        if (!error) writeFileAtomically(file.parent_path() / backup, *old, error);
        if (error) return {false, "Couldn't back up the settings file: " + error.message()};
        note = " (previous settings saved as " + backup + ")";
        // A settings file kept elsewhere and linked here stays linked.
        if (fs::is_symlink(file, error)) target = fs::canonical(file, error);
        if (error) return {false, "Couldn't write the settings file: " + error.message()};
        mode = fs::status(target, error).permissions();
        if (error) mode.reset();
    }
    // Earlier merges that were killed halfway must not litter the client's folder.
    removeAbandonedTemporaries(target);
    if (!writeFileAtomically(target, text, error)) return {false, "Couldn't write the settings file: " + error.message()};
    // The new file is private until told otherwise; the user's file keeps the mode it had.
    if (mode) fs::permissions(target, *mode, fs::perm_options::replace, error);
    return {true, "Added" + note + ". Quit and reopen Claude Desktop to load it."};
}

}  // namespace quintalis
