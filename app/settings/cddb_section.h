#pragma once
// The "CDDB" section of the settings store, as the CD information client reads and writes it.
// Header-only, so the settings library itself does not depend on the client.
#include <string>
#include <string_view>

#include "app/settings/settings.h"
#include "cddb/cddb_settings.h"

namespace tralux::settings {

class CddbSection final : public cddb::SettingsStore {
public:
    std::string ReadText(std::string_view key) override { return ReadProfileText("CDDB", key); }
    int ReadNumber(std::string_view key) override { return ReadProfileNumber("CDDB", key); }
    void WriteText(std::string_view key, std::string_view value) override {
        WriteProfileText("CDDB", key, value);
    }
    void WriteNumber(std::string_view key, int value) override {
        WriteProfileNumber("CDDB", key, value);
    }
};

}  // namespace tralux::settings
