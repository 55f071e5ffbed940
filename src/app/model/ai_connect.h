#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/json.h"
#include "platform/child_processes.h"
#include "platform/host_environment.h"

namespace quintalis {

// What a registration did, in words for the user.
struct Registration {
    Registration(bool ok, std::string message, std::string snippet = {})
        : ok(ok), message(std::move(message)), snippet(std::move(snippet)) {}

    bool ok = false;
    std::string message;
    // What to paste by hand, when the file could not be changed for the user.
    std::string snippet;
};

// Registers this program's MCP server ("<program> mcp") with the AI clients
// a user may have, and tells whether each has it already:
// - Claude Code, through its claude command (user scope);
// - Claude Desktop, by merging an entry into its settings file, after a backup;
// - Codex, by a snippet the user pastes into its config.toml (never written here).
//
// Thread rule: no state of its own; any thread may call. findClaude and
// addToClaudeCode block while the programs they start run (up to 8 s, and
// up to 30 + 60 s); call them off the main thread.
class AIConnect {
public:
    static constexpr std::string_view kServerName = "quintalis";

    // `cliPath` gives the program that AI clients start.
    AIConnect(const HostEnvironment& host, ChildProcesses& processes, Clock& clock,
              std::function<std::filesystem::path()> cliPath);

    std::filesystem::path home() const;
    std::filesystem::path claudeDesktopConfig() const;
    std::filesystem::path claudeCodeConfig() const;
    // In CODEX_HOME: this process's, else the one the login shell set when
    // lookUpCodexHome last ran, else ~/.codex.
    std::filesystem::path codexConfig() const;
    std::filesystem::path cliPath() const { return cliPath_(); }

    // The command line a user can paste into a terminal instead.
    std::string claudeCodeCommand() const;
    // The "mcpServers" member to add to Claude Desktop's settings by hand.
    std::string desktopSnippet() const;
    // The table to paste into Codex's config.toml.
    std::string codexSnippet() const;

    // The claude command: in the places its installers use, else wherever
    // the user's login shell finds it.
    std::optional<std::filesystem::path> findClaude() const;
    // Asks the user's login shell for CODEX_HOME: a program started from the
    // desktop's menu does not see what the shell's profile sets. Blocks while
    // the shell runs (up to 8 s).
    void lookUpCodexHome() const;
    // Runs a program: its status and what it printed, as text without the
    // surrounding white space.
    ToolRun run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                Duration timeout) const;

    Registration addToClaudeCode(const std::filesystem::path& claude) const;
    Registration addToClaudeDesktop() const;

    // Each client counts as having Quintalis only while its entry starts
    // this copy: an entry left by a copy since moved or removed would start
    // nothing, or another version.
    bool claudeCodeHasQuintalis() const;
    bool claudeDesktopHasQuintalis() const;
    bool codexHasQuintalis() const;

private:
    bool startsThisCopy(const std::optional<std::string>& command) const;

    const HostEnvironment& host_;
    ChildProcesses& processes_;
    Clock& clock_;
    std::function<std::filesystem::path()> cliPath_;
    mutable std::mutex mutex_;
    mutable std::string shellCodexHome_;  // guarded by mutex_
};

// The word for a POSIX shell: bare when it holds only letters, digits and
// "_./-", else in single quotes (each quote inside written '\'').
std::string shellQuote(std::string_view word);
// The text as a JSON string, and as a TOML basic string, with their quotes.
std::string jsonStringLiteral(std::string_view text);
std::string tomlStringLiteral(std::string_view text);
// The file's contents when they are a JSON object; nothing otherwise.
std::optional<JSON> readJSON(const std::filesystem::path& file);

}  // namespace quintalis
