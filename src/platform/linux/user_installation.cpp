#include "platform/linux/user_installation.h"

#include <gio/gio.h>

#include "base/atomic_file.h"
#include "platform/linux/desktop_entry.h"

namespace quintalis {
namespace {

constexpr const char* kIconFile = "quintalis.svg";

bool startsWith(const std::filesystem::path& path, const char* folder) {
    return path.string().rfind(folder, 0) == 0;
}

// Moves the file or folder to the trash; nothing when it is not there.
Outcome trash(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return Outcome::success();
    GFile* file = g_file_new_for_path(path.c_str());
    GError* failure = nullptr;
    bool done = g_file_trash(file, nullptr, &failure);
    g_object_unref(file);
    if (done) return Outcome::success();
    std::string reason = failure ? failure->message : "cannot move " + path.string() + " to the trash";
    if (failure) g_error_free(failure);
    return Outcome::failure(reason);
}

// Copies the program under a temporary name first, so that a half-copied
// file never stands at the installed path.
Outcome copyProgram(const std::filesystem::path& from, const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    if (error) return Outcome::failure(error.message());
    fs::path partial = to;
    partial += ".partial";
    fs::copy_file(from, partial, fs::copy_options::overwrite_existing, error);
    if (!error) fs::permissions(partial, fs::perms(0755), error);
    if (!error) fs::rename(partial, to, error);
    if (error) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        return Outcome::failure(error.message());
    }
    return Outcome::success();
}

}  // namespace

UserInstallation::UserInstallation(std::filesystem::path runningProgram, std::filesystem::path home,
                                   std::filesystem::path dataHome)
    : running_(std::move(runningProgram)), home_(std::move(home)), dataHome_(std::move(dataHome)) {}

std::filesystem::path UserInstallation::thisProgram() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::filesystem::path UserInstallation::installedProgram() const { return home_ / ".local/bin/quintalis"; }

std::filesystem::path UserInstallation::installedData() const { return dataHome_ / "quintalis"; }

std::filesystem::path UserInstallation::dataFiles() const {
    std::error_code error;
    if (std::filesystem::equivalent(running_, installedProgram(), error)) return installedData();
    return running_.parent_path().parent_path() / "share/quintalis";
}

std::filesystem::path UserInstallation::desktopEntry() const { return dataHome_ / "applications/quintalis.desktop"; }

bool UserInstallation::runsInstalled() const {
    std::error_code error;
    if (std::filesystem::equivalent(running_, installedProgram(), error)) return true;
    auto folder = running_.parent_path();
    return folder == "/usr/bin" || folder == "/usr/local/bin";
}

bool UserInstallation::runsFromRemovableMedia() const {
    return startsWith(running_, "/media/") || startsWith(running_, "/run/media/") || startsWith(running_, "/mnt/");
}

Outcome UserInstallation::trashInstalledCopy() {
    auto trashed = trash(installedProgram());
    return trashed.ok() ? trash(installedData()) : trashed;
}

Outcome UserInstallation::copyRunningProgram() {
    namespace fs = std::filesystem;
    if (auto copied = copyProgram(running_, installedProgram()); !copied.ok()) return copied;
    std::error_code error;
    fs::path data = dataFiles();
    if (fs::is_directory(data, error)) {
        fs::create_directories(installedData(), error);
        if (!error) {
            fs::copy(data, installedData(), fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
        }
        if (error) return Outcome::failure(error.message());
    }
    std::optional<fs::path> icon;
    if (fs::exists(installedData() / kIconFile, error)) icon = installedData() / kIconFile;
    fs::create_directories(desktopEntry().parent_path(), error);
    if (error) return Outcome::failure(error.message());
    if (!writeFileAtomically(desktopEntry(), quintalisDesktopEntry(installedProgram(), icon), error)) {
        return Outcome::failure(error.message());
    }
    return Outcome::success();
}

}  // namespace quintalis
