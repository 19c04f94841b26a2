#include "cli/cddb_console.h"

#include "cli/progress.h"

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "app/settings/cddb_section.h"
#include "app/settings/settings.h"
#include "cddb/cd_info.h"
#include "cddb/cddb_settings.h"
#include "cddb/engine/cd_info_provider.h"
#include "cddb/http_fetch.h"
#include "cddb/lookup.h"
#include "engine/job/engine_state.h"
#include "platform/compound/gsf_cache_files.h"
#include "platform/http/curl_transport.h"

namespace tralux::cli {
namespace {

std::string Prompt(const char* label, bool echo) {
    std::fprintf(stderr, "%s", label);
    std::fflush(stderr);
    termios saved{};
    const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal && !echo) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal && !echo) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputc('\n', stderr);
    }
    return line;
}

class ConsoleUi final : public cddb::CddbUi {
public:
    std::optional<std::size_t> choice;  // 0-based, from --cddb-choice
    bool refused = false;
    std::size_t messages = 0;  // every message of a lookup tells of a failure

    void ShowMessage(const std::string& text) override {
        ++messages;
        std::fprintf(stderr, "CDDB: %s\n", Shown(text).c_str());
    }

    std::optional<std::size_t> ChooseMatch(const std::vector<std::string>& matches) override {
        std::fprintf(stderr, "CDDB: 選取您的 CD\n");
        // Match lines are the server's bytes: no control character reaches the terminal.
        for (std::size_t i = 0; i < matches.size(); ++i)
            std::fprintf(stderr, "  %zu) %s\n", i + 1,
                         Printable(cddb::StripControls(matches[i])).c_str());
        const std::size_t chosen = choice.value_or(0);
        if (chosen >= matches.size()) {
            std::fprintf(stderr, "CDDB: --cddb-choice %zu: only %zu entries\n", chosen + 1,
                         matches.size());
            refused = true;
            return std::nullopt;
        }
        std::fprintf(stderr, "CDDB: using %zu) %s\n", chosen + 1,
                     Printable(cddb::StripControls(matches[chosen])).c_str());
        return chosen;
    }

    // No editor in a terminal: "Another..." ends the lookup without data.
    bool EditInfo(cddb::CdInfo&) override { return false; }

    bool NotFound(cddb::CdInfo&) override {
        // Like the dialog's Cancel: the titles are used now, but the disc is asked again next time.
        std::fprintf(stderr, "CDDB: 在 CDDB 內找不到關於這個 CD 訊息!\n");
        return false;
    }

    // Ctrl-C (or TERM, HUP) cancels a lookup at once: a silent server is not waited out.
    void RunProgress(cddb::LookupSession& session) override {
        while (session.Pump(*this, std::chrono::milliseconds(50)))
            if (Engine().StopRequested.load() && !session.Cancelled()) session.Cancel();
    }

    bool AskPassword(const std::string& url, std::string& user, std::string& password) override {
        if (!isatty(STDIN_FILENO)) return false;
        std::fprintf(stderr, "CDDB: %s asks for a name and password\n", Printable(url).c_str());
        user = Prompt("name: ", true);
        password = Prompt("password: ", false);
        return !user.empty();
    }
};

ConsoleUi g_ui;

}  // namespace

void InstallCddb() {
    cddb::SetHttpTransport(http::MakeCurlTransport(http::CurlOptionsFromEnvironment()));
    cddb::SetCacheFiles(compound::MakeGsfCacheFiles());
    cddb::SetSettingsStore(std::make_shared<settings::CddbSection>());
    // No dialog to keep on screen: no pauses.
    cddb::SetLookupTiming(
        cddb::LookupTiming{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
    cddb::SetThreadUi(&g_ui);
    cddb::InstallCdInfoProvider();
}

bool CddbChoiceRefused() {
    return g_ui.refused;
}

std::size_t CddbFailuresShown() {
    return g_ui.messages;
}

bool TakeCddbOptions(std::vector<std::string>& args) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--no-cddb") {
            cddb::SetNeverUseForRun(true);
        } else if (a == "--cddb-server" || a == "--cddb-choice") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                return false;
            }
            const std::string v = args[++i];
            if (a == "--cddb-server") {
                if (v.compare(0, 7, "http://") != 0) {
                    std::fprintf(stderr, "Error: can only use URLs beginning with http://\n");
                    return false;
                }
                cddb::SetServerForRun(v);
            } else {
                char* end = nullptr;
                const long n = std::strtol(v.c_str(), &end, 10);
                if (!end || *end || n < 1 || n > 1000) {
                    std::fprintf(stderr, "--cddb-choice wants a number from 1\n");
                    return false;
                }
                g_ui.choice = static_cast<std::size_t>(n - 1);
            }
        } else {
            rest.push_back(a);
        }
    }
    args = std::move(rest);
    return true;
}

}  // namespace tralux::cli
