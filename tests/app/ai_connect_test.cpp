#include <gtest/gtest.h>

#include <fstream>
#include <iostream>

#include "app/model/ai_connect.h"
#include "base/read_file.h"
#include "base/text.h"
#include "platform/linux/posix_child_processes.h"
#include "support/fake_clock.h"
#include "support/fake_platform.h"
#include "support/kill_during_writes.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

namespace fs = std::filesystem;

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

fs::path script(const fs::path& file, const std::string& body) {
    write(file, "#!/bin/sh\n" + body);
    fs::permissions(file, fs::perms(0755));
    return file;
}

// Real time, except that it stands still until the program under test says
// it is ready (creates `gate`), then runs an hour ahead: past any time-out,
// yet only once the program has done what the test looks for.
class GateClock final : public Clock {
public:
    explicit GateClock(fs::path gate) : gate_(std::move(gate)) {}
    int64_t wallMillis() const override { return Clock::real().wallMillis(); }
    MonotonicTime now() const override {
        if (!open_) open_ = fs::exists(gate_);
        return open_ ? Clock::real().now() + std::chrono::hours(1) : start_;
    }
    void sleep(Duration duration) override { Clock::real().sleep(duration); }

private:
    fs::path gate_;
    MonotonicTime start_ = Clock::real().now();
    mutable bool open_ = false;
};

class AIConnectTest : public ::testing::Test {
protected:
    AIConnectTest() { host.home = home.path(); }

    AIConnect connect(const fs::path& cli = "/opt/quintalis/quintalis") {
        return AIConnect(host, processes, clock, [cli] { return cli; });
    }
    fs::path desktopConfig() { return home.path() / ".config/Claude/claude_desktop_config.json"; }
    int backups() {
        int found = 0;
        for (const auto& entry : fs::directory_iterator(desktopConfig().parent_path())) {
            found += entry.path().filename().string().find(".backup-") != std::string::npos;
        }
        return found;
    }

    TempDir home;
    FakeHostEnvironment host;
    FakeClock clock;  // 2026-01-01T00:00:00Z
    PosixChildProcesses processes{std::chrono::milliseconds(200)};
};

// What the user pastes must name this program whatever its path holds.
TEST_F(AIConnectTest, SnippetsQuoteThePathForEachFormat) {
    auto odd = connect("/home/ann/My \"Apps\"/it's\\q");
    EXPECT_EQ(odd.claudeCodeCommand(), "claude mcp add -s user quintalis -- '/home/ann/My \"Apps\"/it'\\''s\\q' mcp");
    auto snippet = parseJSON("{" + odd.desktopSnippet() + "}");
    ASSERT_TRUE(snippet);
    EXPECT_EQ((*snippet)["quintalis"]["command"], "/home/ann/My \"Apps\"/it's\\q");
    EXPECT_EQ(odd.codexSnippet(),
              "[mcp_servers.quintalis]\ncommand = \"/home/ann/My \\\"Apps\\\"/it's\\\\q\"\nargs = [\"mcp\"]");
    EXPECT_EQ(tomlStringLiteral("a\tb\x01\x7f"), "\"a\\tb\\u0001\\u007F\"");
    EXPECT_EQ(shellQuote("/opt/q-1/bin_2/quintalis"), "/opt/q-1/bin_2/quintalis");
}

// A check mark says the client starts this copy: an entry that names a
// program since removed, or another copy, leaves the row to be added again.
TEST_F(AIConnectTest, CountsOnlyUserLevelEntriesThatStartThisCopy) {
    const fs::path self = script(home.path() / "opt/quintalis", "");
    const fs::path other = script(home.path() / "old/quintalis", "");
    fs::create_symlink(self, home.path() / "linked");
    auto ai = connect(self);
    auto json = [](const fs::path& command) {
        return R"({"mcpServers": {"quintalis": {"command": )" + jsonStringLiteral(command.string()) + "}}}";
    };
    const std::pair<std::string, bool> cases[] = {
        {json(self), true},
        {json(home.path() / "linked"), true},
        {json(other), false},
        {R"({"mcpServers": {"quintalis": null}})", false},
        {R"({"mcpServers": {"other": {}}, "projects": {"/x": {"mcpServers": {"quintalis": {}}}}})", false},
        {R"({"mcpServers": ["quintalis"]})", false},
        {"{not json", false},
    };
    for (const auto& [claudeJSON, found] : cases) {
        write(home.path() / ".claude.json", claudeJSON);
        EXPECT_EQ(ai.claudeCodeHasQuintalis(), found) << claudeJSON;
    }
    EXPECT_FALSE(ai.claudeDesktopHasQuintalis()) << "no file";
    write(desktopConfig(), json(self));
    EXPECT_TRUE(ai.claudeDesktopHasQuintalis());
    fs::remove(self);
    EXPECT_FALSE(ai.claudeDesktopHasQuintalis()) << "this copy is gone";
    script(self, "");

    host.variables["CODEX_HOME"] = (home.path() / "codex").string();
    const fs::path codex = home.path() / "codex/config.toml";
    EXPECT_EQ(ai.codexConfig(), codex);
    const std::pair<std::string, bool> tables[] = {
        {"model = \"o3\"\n# [mcp_servers.quintalis] goes below\ncommand = '" + self.string() + "'\n", false},
        {ai.codexSnippet(), true},
        {"[mcp_servers.quintalis]\ncommand = '" + self.string() + "'\n[other]\ncommand = \"x\"\n", true},
        {"[mcp_servers.quintalis]\nargs = [\"mcp\"]\n[other]\ncommand = '" + self.string() + "'\n", false},
        {"[mcp_servers.quintalis]\ncommand = \"" + other.string() + "\"\n", false},
    };
    for (const auto& [toml, found] : tables) {
        write(codex, toml);
        EXPECT_EQ(ai.codexHasQuintalis(), found) << toml;
    }
}

TEST_F(AIConnectTest, MergesIntoClaudeDesktopSettingsAfterABackup) {
    auto ai = connect("/opt/q/quintalis");
    write(desktopConfig(), R"({"theme": "dark", "mcpServers": {"files": {"command": "/usr/bin/files"},
        "quintalis": {"command": "/old/path"}}})");
    auto added = ai.addToClaudeDesktop();
    EXPECT_TRUE(added.ok);
    EXPECT_EQ(added.message,
              "Added (previous settings saved as claude_desktop_config.json.backup-2026-01-01T00-00-00Z). "
              "Quit and reopen Claude Desktop to load it.");
    EXPECT_EQ(readFile(desktopConfig()), R"({"theme": "dark", "mcpServers": {"files": {"command": "/usr/bin/files"},
        "quintalis": {"command": "/opt/q/quintalis", "args": ["mcp"]}}})")
        << "only the entry changes";
    EXPECT_NE(readFile(desktopConfig().string() + ".backup-2026-01-01T00-00-00Z")->find("/old/path"),
              std::string::npos);

    auto again = ai.addToClaudeDesktop();
    EXPECT_FALSE(again.ok) << "a backup of that second exists already";
    EXPECT_EQ(again.message.rfind("Couldn't back up the settings file: ", 0), 0u) << again.message;
    clock.advance(std::chrono::seconds(1));
    EXPECT_TRUE(ai.addToClaudeDesktop().ok);

    // A file that is no JSON object is the user's to mend: left as it is.
    for (const char* broken : {R"({"mcpServers": {)", "[1]"}) {
        write(desktopConfig(), broken);
        auto refused = ai.addToClaudeDesktop();
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.message, "Claude Desktop's settings file isn't valid JSON, so it was left as is. Add this by "
                                   "hand under \"mcpServers\" in " + desktopConfig().string() + ":");
        EXPECT_EQ(refused.snippet, ai.desktopSnippet());
        EXPECT_EQ(readFile(desktopConfig()), broken);
    }

    fs::remove_all(home.path() / ".config");
    EXPECT_EQ(ai.addToClaudeDesktop().message, "Added. Quit and reopen Claude Desktop to load it.");
    EXPECT_EQ(backups(), 0);
}

// The merge edits the user's own file: everything but the entry stays
// byte for byte, numbers no double can hold among it, and so do who may
// read the file and a link to where the user keeps it.
TEST_F(AIConnectTest, TheMergeKeepsTheUsersTextTheFilesModeAndItsLink) {
    auto ai = connect("/opt/q/quintalis");
    const std::string entry = R"({"command": "/opt/q/quintalis", "args": ["mcp"]})";
    const std::pair<std::string, std::string> cases[] = {
        {"", "{\n  \"mcpServers\": {\n    \"quintalis\": " + entry + "\n  }\n}\n"},
        {"{\n  \"big\": 12345678901234567890123\n}\n",
         "{\n  \"mcpServers\": {\"quintalis\": " + entry + "},\n  \"big\": 12345678901234567890123\n}\n"},
        {"{\"mcpServers\": {\n    \"files\": {\"args\": [\"}\", \"\\\"{\"], \"n\": 1.0E+300}\n  }}",
         "{\"mcpServers\": {\n    \"quintalis\": " + entry +
             ",\n    \"files\": {\"args\": [\"}\", \"\\\"{\"], \"n\": 1.0E+300}\n  }}"},
        {R"({"mcpServers": ["a"], "z": -0.0})", R"({"mcpServers": {"quintalis": )" + entry + R"(}, "z": -0.0})"},
        {"\xEF\xBB\xBF{}", "\xEF\xBB\xBF{\"mcpServers\": {\"quintalis\": " + entry + "}}"},
        // The last of two entries is the one that counts, and is the one replaced.
        {R"({"mcp\u0053ervers": {"quintalis": 1, "quintalis": 2.50}})",
         R"({"mcp\u0053ervers": {"quintalis": 1, "quintalis": )" + entry + "}}"},
    };
    for (const auto& [before, after] : cases) {
        fs::remove_all(desktopConfig().parent_path());
        write(desktopConfig(), before);
        fs::permissions(desktopConfig(), fs::perms(0640));
        EXPECT_TRUE(ai.addToClaudeDesktop().ok) << before;
        EXPECT_EQ(readFile(desktopConfig()), after);
        EXPECT_EQ(fs::status(desktopConfig()).permissions(), fs::perms(0640)) << before;
        EXPECT_EQ(backups(), 1) << before;
    }

    fs::path kept = home.path() / "dotfiles/claude.json";
    write(kept, R"({"theme": "light"})");
    fs::remove(desktopConfig());
    fs::create_symlink(kept, desktopConfig());
    clock.advance(std::chrono::seconds(1));
    EXPECT_TRUE(ai.addToClaudeDesktop().ok);
    EXPECT_TRUE(fs::is_symlink(desktopConfig()));
    EXPECT_NE(readFile(kept)->find("quintalis"), std::string::npos);
}

TEST_F(AIConnectTest, AKilledMergeLeavesTheOldOrTheNewSettingsWhole) {
    TempDir folder(killTestFolder());
    host.home = folder.path();
    const fs::path settings = folder.path() / ".config/Claude/claude_desktop_config.json";
    auto cli = [](int64_t number) { return fs::path("/opt/quintalis-" + std::to_string(number) + "/quintalis"); };
    // Each version installs the program elsewhere; each merge's backup has
    // its own second.
    auto merge = [&](int64_t number) {
        FakeClock later;
        later.advance(std::chrono::seconds(number));
        return AIConnect(host, processes, later, [&] { return cli(number); }).addToClaudeDesktop().ok;
    };
    const JSON others = {{"files", {{"command", "/usr/bin/files"}}}};
    write(settings, JSON{{"theme", "dark"}, {"mcpServers", others}}.dump());
    ASSERT_TRUE(merge(0));
    auto tally = killDuringWrites(
        settings, 200,
        [&](int64_t number) {
            if (!merge(number)) ::_exit(3);
        },
        [&]() -> std::optional<int64_t> {
            auto merged = readJSON(settings);
            if (!merged || merged->value("theme", "") != "dark") return std::nullopt;
            JSON servers = merged->value("mcpServers", JSON());
            if (!servers.is_object() || servers.size() != 2 || servers["files"] != others["files"]) return std::nullopt;
            std::string command = servers["quintalis"].value("command", "");
            int64_t number = 0;
            if (!command.starts_with("/opt/quintalis-") ||
                parseDecimal(command.substr(15, command.find('/', 15) - 15), number) != DecimalParse::ok ||
                servers["quintalis"] != JSON{{"command", cli(number).string()}, {"args", JSON::array({"mcp"})}}) {
                return std::nullopt;
            }
            return number;
        });
    EXPECT_EQ(tally.kills, 200);
    std::cout << "killed " << tally.kills << " times: " << tally.halfWritten << " halfway through a write, "
              << tally.inFlight << " after a merge it had not reported\n";
    // A backup, too, is whole or absent; and the next merge clears away
    // what the killed ones left.
    ASSERT_TRUE(merge(1'000'000));
    for (const auto& entry : fs::directory_iterator(settings.parent_path())) {
        if (entry.path() == settings) continue;
        EXPECT_TRUE(entry.path().filename().string().starts_with(settings.filename().string() + ".backup-"))
            << entry.path();
        auto saved = readJSON(entry.path());
        EXPECT_TRUE(saved && saved->is_object()) << entry.path();
    }
}

TEST_F(AIConnectTest, RegistersWithClaudeCodeThroughItsCommand) {
    fs::path log = home.path() / "calls";
    auto claude = script(home.path() / "bin/claude", "echo \"$@\" >> '" + log.string() + "'\n"
                                                     "case \"$2\" in add) echo '  already there  ';; esac\n");
    auto ai = connect("/opt/my app/quintalis");
    auto added = ai.addToClaudeCode(claude);
    EXPECT_TRUE(added.ok);
    EXPECT_EQ(readFile(log), "mcp remove -s user quintalis\nmcp add -s user quintalis -- /opt/my app/quintalis mcp\n");

    script(claude, "echo 'Invalid scope' >&2; exit 2\n");
    EXPECT_EQ(ai.addToClaudeCode(claude).message, "Invalid scope");
    script(claude, "exit 3\n");
    auto silent = ai.addToClaudeCode(claude);
    EXPECT_FALSE(silent.ok);
    EXPECT_EQ(silent.message, "claude exited with 3");
    EXPECT_EQ(ai.addToClaudeCode(home.path() / "nowhere/claude").message, "No such file or directory");
}

TEST_F(AIConnectTest, RunEndsAHungProgramAndKeepsWhatItPrinted) {
    // Each program creates `ready` once it has printed, and its time-out
    // passes only then.
    fs::path ready = home.path() / "ready";
    auto runUntilReady = [&](const std::string& body, Duration grace) {
        fs::remove(ready);
        GateClock gate(ready);
        PosixChildProcesses gated(grace, gate);
        auto program =
            script(home.path() / "program", body + "; touch '" + ready.string() + "'; while :; do sleep 1; done\n");
        AIConnect ai(host, gated, gate, [] { return fs::path("/opt/quintalis/quintalis"); });
        return ai.run(program, {}, std::chrono::seconds(1));
    };
    auto hung = runUntilReady("echo started", std::chrono::seconds(2));
    EXPECT_EQ(hung.output, "started");
    EXPECT_EQ(hung.status, SIGTERM);
    auto stubborn = runUntilReady("trap '' TERM; echo stubborn", std::chrono::milliseconds(200));
    EXPECT_EQ(stubborn.output, "stubborn");
    EXPECT_EQ(stubborn.status, SIGKILL);

    // A program that leaves another holding its output is done when it exits.
    fs::path left = home.path() / "left";
    auto leaves = script(home.path() / "leaves",
                         "setsid sleep 600 & echo $! > '" + left.string() + "'\necho done; echo \"\\377\"; exit 4\n");
    auto run = connect().run(leaves, {}, std::chrono::seconds(60));
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.output, "done\n\uFFFD");
    ::kill(std::stoi(*readFile(left)), SIGKILL);
}

TEST_F(AIConnectTest, FindsClaudeWhereItsInstallersPutIt) {
    if (fs::exists("/usr/local/bin/claude") || fs::exists("/usr/bin/claude")) GTEST_SKIP() << "claude is installed";
    auto ai = connect();
    host.variables["SHELL"] = "/bin/false";
    write(home.path() / ".bun/bin/claude", "not executable");
    EXPECT_EQ(ai.findClaude(), std::nullopt);
    script(home.path() / ".npm-global/bin/claude", "");
    script(home.path() / ".local/bin/claude", "");
    EXPECT_EQ(ai.findClaude(), home.path() / ".local/bin/claude");

    fs::remove_all(home.path() / ".local");
    fs::remove_all(home.path() / ".npm-global");
    auto elsewhere = script(home.path() / "tools/claude", "");
    auto shell = script(home.path() / "login-shell", "[ \"$1 $2\" = '-lc command -v claude' ] && echo '" +
                                                         elsewhere.string() + "'\n");
    host.variables["SHELL"] = shell.string();
    EXPECT_EQ(ai.findClaude(), elsewhere);
    script(shell, "echo 'claude not found'\n");
    EXPECT_EQ(ai.findClaude(), std::nullopt);
}

}  // namespace
