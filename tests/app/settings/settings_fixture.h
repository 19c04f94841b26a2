#pragma once
// A private settings file, home folder and XDG config folder per test.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/settings/settings.h"
#include "platform/ini/ini_document.h"

namespace tralux::settings::testing {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        std::string tmpl = (fs::temp_directory_path() / "tralux-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        home_ = dir_ / "home";
        xdg_ = dir_ / "xdg";
        fs::create_directories(home_);
        Save("HOME", savedHome_, hadHome_);
        Save("XDG_CONFIG_HOME", savedXdg_, hadXdg_);
        ::setenv("HOME", home_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", xdg_.c_str(), 1);
        SetRegistryKey("Quorvatix");
        SetApplicationName("tralux-test");
        SetConfigRoot(dir_ / "cfg");
        ClearOptionOverrides();
    }
    void TearDown() override {
        ClearOptionOverrides();
        SetConfigRoot({});
        SetApplicationName("");
        Restore("HOME", savedHome_, hadHome_);
        Restore("XDG_CONFIG_HOME", savedXdg_, hadXdg_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::filesystem::path File() const { return dir_ / "cfg" / "Quorvatix" / "tralux-test.ini"; }
    std::string FileText() const {
        std::ifstream in(File(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    ini::IniDocument Doc() const { return ini::IniDocument::Parse(FileText()); }
    void WriteFile(const std::string& text) const {
        std::filesystem::create_directories(File().parent_path());
        std::ofstream(File(), std::ios::binary) << text;
    }

    std::filesystem::path dir_, home_, xdg_;

private:
    static void Save(const char* name, std::string& value, bool& had) {
        const char* v = ::getenv(name);
        had = v != nullptr;
        value = v ? v : "";
    }
    static void Restore(const char* name, const std::string& value, bool had) {
        had ? ::setenv(name, value.c_str(), 1) : ::unsetenv(name);
    }
    std::string savedHome_, savedXdg_;
    bool hadHome_ = false, hadXdg_ = false;
};

}  // namespace tralux::settings::testing
