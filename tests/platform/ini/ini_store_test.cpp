#include "platform/ini/ini_store.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tralux::ini {
namespace {

namespace fs = std::filesystem;

class IniStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "tralux-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        file_ = dir_ / "Quorvatix" / "app.ini";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    static std::string Slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    fs::path dir_, file_;
};

TEST_F(IniStoreTest, CreatesFolderOnFirstWriteAndReadsBack) {
    IniStore store(file_);
    EXPECT_EQ(store.Read("Options", "BAQ"), std::nullopt);
    EXPECT_FALSE(fs::exists(file_.parent_path()));  // reading creates nothing
    ASSERT_TRUE(store.Write("Options", "BAQ", "1"));
    ASSERT_TRUE(store.Write("Options", "BOut", "/tmp/"));
    EXPECT_EQ(store.Read("Options", "BAQ"), "1");
    EXPECT_EQ(Slurp(file_), "[Options]\nBAQ=1\nBOut=/tmp/\n");
    // Only the file and its lock remain: no temporary files left behind.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(file_.parent_path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"app.ini", "app.ini.lock"}));
}

TEST_F(IniStoreTest, SecondInstanceAndSecondProcessSeeEachOthersWrites) {
    IniStore a(file_), b(file_);
    ASSERT_TRUE(a.Write("Options", "X", "1"));
    EXPECT_EQ(b.Read("Options", "X"), "1");
    ASSERT_TRUE(b.Write("Options", "X", "2"));
    EXPECT_EQ(a.Read("Options", "X"), "2");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        IniStore c(file_);
        const bool ok = c.Read("Options", "X") == std::optional<std::string>("2") &&
                        c.Write("Options", "FromChild", "yes");
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(a.Read("Options", "FromChild"), "yes");
}

TEST_F(IniStoreTest, ConcurrentWritersLoseNoKeys) {
    IniStore a(file_), b(file_);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            IniStore& store = t % 2 ? a : b;
            for (int i = 0; i < 10; ++i)
                store.Write("Options", "k" + std::to_string(t) + "_" + std::to_string(i),
                            std::to_string(i));
        });
    }
    for (auto& th : threads) th.join();
    const auto doc = a.Load();
    EXPECT_EQ(doc.Keys("Options").size(), 40u);
    EXPECT_EQ(doc.Get("Options", "k3_9"), "9");
}

TEST_F(IniStoreTest, LeftoverTemporaryFileFromInterruptedWriteIsHarmless) {
    IniStore store(file_);
    ASSERT_TRUE(store.Write("Options", "A", "1"));
    // A writer killed before its rename leaves a partial temporary file next to the store.
    { std::ofstream(file_.string() + ".tmp.dead01", std::ios::binary) << "[Options]\nA="; }
    EXPECT_EQ(store.Read("Options", "A"), "1");
    ASSERT_TRUE(store.Write("Options", "B", "2"));
    EXPECT_EQ(Slurp(file_), "[Options]\nA=1\nB=2\n");
}

TEST_F(IniStoreTest, DamagedFileReadsWhatItCanAndKeepsUnknownLines) {
    fs::create_directories(file_.parent_path());
    { std::ofstream(file_, std::ios::binary) << "garbage\x80\xff\n[Options]\nA=1\nnonsense\n"; }
    IniStore store(file_);
    EXPECT_EQ(store.Read("Options", "A"), "1");
    ASSERT_TRUE(store.Write("Options", "A", "5"));
    EXPECT_EQ(Slurp(file_), "garbage\x80\xff\n[Options]\nA=5\nnonsense\n");
}

TEST_F(IniStoreTest, ALinkedFileIsWrittenThroughItsLink) {
    const fs::path real = dir_ / "dotfiles" / "app.ini";
    fs::create_directories(real.parent_path());
    fs::create_directories(file_.parent_path());
    { std::ofstream(real, std::ios::binary) << "[Options]\nA=1\n"; }
    fs::create_symlink("../dotfiles/app.ini", file_);
    IniStore store(file_);
    ASSERT_TRUE(store.Write("Options", "B", "2"));
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(Slurp(real), "[Options]\nA=1\nB=2\n");
}

TEST_F(IniStoreTest, UnwritableFolderFailsCleanly) {
    // The company "folder" is a plain file: nothing can be created below it.
    { std::ofstream(dir_ / "Quorvatix") << "x"; }
    IniStore store(file_);
    EXPECT_FALSE(store.Write("Options", "A", "1"));
    EXPECT_EQ(store.Read("Options", "A"), std::nullopt);
    EXPECT_FALSE(store.Write("Options", "bad=key", "1"));
}

TEST_F(IniStoreTest, UnreadableFileIsNotReplaced) {
    {
        // Something that is not a regular file stands where the store should be.
        fs::create_directories(file_ / "inner");
        IniStore odd(file_);
        EXPECT_EQ(odd.Read("Options", "A"), std::nullopt);
        EXPECT_FALSE(odd.Write("Options", "A", "1"));
        EXPECT_TRUE(fs::is_directory(file_ / "inner"));
        fs::remove_all(file_);
    }
    // Permission bits do not bind root (and CI runs as root): the refusal then runs in a child
    // that has become "nobody".
    const auto refusal = [this]() -> int {
        IniStore store(file_);
        if (!store.Write("Options", "A", "1")) return 1;
        fs::permissions(file_, fs::perms::none);
        if (store.Write("Options", "B", "2")) return 2;
        fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);
        return Slurp(file_) == "[Options]\nA=1\n" ? 0 : 3;
    };
    if (::geteuid() != 0) {
        EXPECT_EQ(refusal(), 0);
        return;
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    fs::create_directories(file_.parent_path());
    fs::remove(file_.string() + ".lock");  // root's lock file from the first half
    ASSERT_EQ(::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chown(file_.parent_path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(10);
        ::_exit(refusal());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1 first write, 2 write accepted, 3 content, 10 setuid";
}

TEST_F(IniStoreTest, OversizedFileIsTakenForDamage) {
    fs::create_directories(file_.parent_path());
    {
        std::ofstream out(file_, std::ios::binary);
        out << "[Options]\nA=1\n" << std::string(IniStore::kMaxFileSize, 'x');
    }
    IniStore store(file_);
    EXPECT_EQ(store.Read("Options", "A"), std::nullopt);
    EXPECT_FALSE(store.Write("Options", "A", "2"));
}

TEST(IniPaths, ConfigHomeFollowsXdgThenHome) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
    EXPECT_EQ(DefaultConfigHome(), fs::path("/x/cfg"));
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // invalid: ignored
    EXPECT_EQ(DefaultConfigHome(), fs::path("/home/someone/.config"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultConfigHome(), fs::path("/home/someone/.config"));
    oldXdg ? ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    oldHome ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
}

}  // namespace
}  // namespace tralux::ini
