#pragma once
// One INI file on disk, shared by every thread of this process and by other processes.
//
// Every read goes to the file (it is small), so a read always sees the last completed write,
// also one made by another process or another IniStore on the same file. A write replaces the
// file through a temporary file in the same folder (written, flushed to disk, then renamed over
// the old one), so readers and a crash only ever see the old or the new file, never a half. A
// read-modify-write holds an advisory lock on "<file>.lock" so that concurrent writers from
// several processes do not lose each other's keys.
//
// Section names and keys are case-sensitive (see ini_document.h).

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ini/ini_document.h"

namespace tralux::ini {

class IniStore {
public:
    explicit IniStore(std::filesystem::path file);
    IniStore(const IniStore&) = delete;
    IniStore& operator=(const IniStore&) = delete;

    const std::filesystem::path& File() const { return file_; }

    // Missing file, missing key or an unreadable file: nullopt.
    std::optional<std::string> Read(std::string_view section, std::string_view key) const;
    // Snapshot of the whole file; empty when it is missing or unreadable.
    IniDocument Load() const;

    // False when the value could not be stored (bad name, folder or disk trouble, or an existing
    // file we cannot read: that one is left alone rather than replaced by a file holding one key).
    bool Write(std::string_view section, std::string_view key, std::string_view value);
    bool Remove(std::string_view section, std::string_view key);

    // Read-modify-write as one step against other writers. `edit` returns true when it changed the
    // document (only then is the file rewritten); the result is false when the document could not
    // be loaded or saved, or the edit reported failure through `ok`.
    bool Update(const std::function<bool(IniDocument& doc, bool& ok)>& edit);

    // Largest file we read; anything larger is taken for damage, not settings.
    static constexpr std::size_t kMaxFileSize = 16u << 20;

private:
    mutable std::mutex mutex_;
    std::filesystem::path file_;
};

// $XDG_CONFIG_HOME when set and absolute, else $HOME/.config (the password database's home when
// HOME is unset). Empty when no home folder is known.
std::filesystem::path DefaultConfigHome();
// The current user's home folder ($HOME, else the password database); empty when unknown.
std::filesystem::path HomeFolder();

}  // namespace tralux::ini
