// "cache.dat" through libgsf: layout checked with an independent reader (olefile), rewrites that
// keep every disc, old Big5 texts, and damaged or foreign files.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "cddb/cache.h"
#include "platform/compound/gsf_cache_files.h"
#include "support/cddb_server.h"
#include "support/wav_builder.h"

namespace tralux::cddb {
namespace {

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

CdInfo Disc(const std::string& id, std::vector<std::string> titles,
            std::string discTitle = "歌手 / 專輯") {
    CdInfo info;
    info.discIdText = id;
    info.discTitle = std::move(discTitle);
    info.extended = "版權 2026";
    for (auto& t : titles) info.tracks.push_back(CdTrackEntry{std::move(t), "", true, 0});
    return info;
}

// What CacheRead expects: the identifier and N placeholder entries.
CdInfo Blank(const std::string& id, std::size_t n) {
    CdInfo info;
    info.discIdText = id;
    for (std::size_t i = 0; i < n; ++i)
        info.tracks.push_back(CdTrackEntry{"placeholder", "", true, 0});
    return info;
}

class CacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        files_ = compound::MakeGsfCacheFiles();
        SetCacheFiles(files_);
        SetCacheFolder(dir_.path());
    }
    void TearDown() override {
        SetCacheFolder({});
        SetCacheFiles(nullptr);
    }
    std::string Python(const std::string& args) {
        const std::string cmd = test::PythonPath() + " " + args + " 2>&1";
        std::string out;
        if (FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[4096];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
            ::pclose(p);
        }
        return out;
    }

    test::TempDir dir_;
    std::shared_ptr<CacheFiles> files_;
};

TEST_F(CacheTest, LayoutReadBackByAnIndependentReader) {
    CdInfo info = Disc("a0b0c02", {"春天", ""});
    info.tracks[0].extended = "live";
    ASSERT_TRUE(CacheWrite(info));
    if (Python("-c 'import olefile'") != "") {
        if (test::InCi()) FAIL() << "python3-olefile is missing";
        GTEST_SKIP() << "python3-olefile is missing";
    }
    const std::string dump =
        Python(std::string(TRALUX_SOURCE_DIR) + "/tests/cddb/dump_compound.py " +
               (dir_.path() / "cache.dat").string());
    // Every text with its terminating zero; the count as 32-bit little-endian.
    const std::string expected =
        "D a0b0c02.2\n"
        "S a0b0c02.2/Comments 00\n"
        "S a0b0c02.2/Copyright " +
        Hex("版權 2026") +
        "00\n"
        "S a0b0c02.2/DiskID " +
        Hex("a0b0c02") +
        "00\n"
        "S a0b0c02.2/EXTT0 " +
        Hex("live") +
        "00\n"
        "S a0b0c02.2/EXTT1 00\n"
        "S a0b0c02.2/NumTracks 02000000\n"
        "S a0b0c02.2/TTITLE0 " +
        Hex("春天") +
        "00\n"
        "S a0b0c02.2/TTITLE1 00\n"
        "S a0b0c02.2/Title " +
        Hex("歌手 / 專輯") + "00\n";
    EXPECT_EQ(dump, expected);
}

TEST_F(CacheTest, RoundTripAndMisses) {
    CdInfo miss = Blank("a0b0c02", 2);
    EXPECT_FALSE(CacheRead(miss));  // no file yet
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "cache.dat"));
    ASSERT_TRUE(CacheWrite(Disc("a0b0c02", {"春天", ""})));
    CdInfo hit = Blank("a0b0c02", 2);
    ASSERT_TRUE(CacheRead(hit));
    EXPECT_EQ(hit.discTitle, "歌手 / 專輯");
    EXPECT_EQ(hit.extended, "版權 2026");
    EXPECT_EQ(hit.tracks[0].title, "春天");
    EXPECT_EQ(hit.tracks[1].title, "");  // a one-byte stream reads as empty
    // The track count is part of the name.
    CdInfo other = Blank("a0b0c02", 3);
    EXPECT_FALSE(CacheRead(other));
    EXPECT_EQ(other.tracks[0].title, "placeholder");
}

TEST_F(CacheTest, EntriesUnderTheOldShortNameAreReadAndReplaced) {
    // Older versions wrote "a0b0c02.2" for disc 0a0b0c02.
    ASSERT_TRUE(CacheWrite(Disc("a0b0c02", {"舊", "歌"})));
    CdInfo hit = Blank("0a0b0c02", 2);
    ASSERT_TRUE(CacheRead(hit));
    EXPECT_EQ(hit.tracks[0].title, "舊");
    CdInfo rich = Disc("0a0b0c02", {"新", "歌"});
    rich.year = "2026";
    rich.genre = "Folk";
    ASSERT_TRUE(CacheWrite(rich));
    CompoundTree tree;
    ASSERT_EQ(files_->Read(dir_.path() / "cache.dat", nullptr, tree), CompoundReadResult::Ok);
    ASSERT_EQ(tree.storages.size(), 1u);
    EXPECT_EQ(tree.storages[0].name, "0a0b0c02.2");
    CdInfo back = Blank("0a0b0c02", 2);
    ASSERT_TRUE(CacheRead(back));
    EXPECT_EQ(back.tracks[0].title, "新");
    EXPECT_EQ(back.year, "2026");
    EXPECT_EQ(back.genre, "Folk");
}

TEST_F(CacheTest, OnePerUserFolderWhereverTheProgramRuns) {
    // The test program's own folder is writable: the cache must not go there.
    SetCacheFolder({});
    const char* saved = std::getenv("TRALUX_CACHE_DIR");
    const std::string keep = saved ? saved : "";
    ::unsetenv("TRALUX_CACHE_DIR");
    ::setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
    EXPECT_EQ(CacheFolder(), dir_.path() / "Quorvatix" / "tralux");
    ::setenv("TRALUX_CACHE_DIR", (dir_.path() / "own").c_str(), 1);
    EXPECT_EQ(CacheFolder(), dir_.path() / "own");
    if (saved)
        ::setenv("TRALUX_CACHE_DIR", keep.c_str(), 1);
    else
        ::unsetenv("TRALUX_CACHE_DIR");
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(CacheTest, RewritingADiscDropsItsOldStreams) {
    ASSERT_TRUE(CacheWrite(Disc("11", {"a", "b", "c"})));
    // The whole storage is replaced: no stream is left over or doubled.
    ASSERT_TRUE(CacheWrite(Disc("11", {"new a", "new b", "new c"}, "second")));
    CompoundTree tree;
    ASSERT_EQ(files_->Read(dir_.path() / "cache.dat", nullptr, tree), CompoundReadResult::Ok);
    ASSERT_EQ(tree.storages.size(), 1u);
    EXPECT_EQ(tree.storages[0].streams.size(), 5u + 6u);
    CdInfo back = Blank("11", 3);
    ASSERT_TRUE(CacheRead(back));
    EXPECT_EQ(back.discTitle, "second");
    EXPECT_EQ(back.tracks[2].title, "new c");
}

TEST_F(CacheTest, ManyDiscsAllSurviveAWrite) {
    for (int i = 0; i < 60; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "%x", 0x10000000 + i);
        ASSERT_TRUE(
            CacheWrite(Disc(id, {"曲 " + std::to_string(i), "b"}, "碟 " + std::to_string(i))))
            << i;
    }
    ASSERT_TRUE(CacheWrite(Disc("ffff", {"last"})));
    for (int i = 0; i < 60; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "%x", 0x10000000 + i);
        CdInfo back = Blank(id, 2);
        ASSERT_TRUE(CacheRead(back)) << i;
        EXPECT_EQ(back.discTitle, "碟 " + std::to_string(i));
        EXPECT_EQ(back.tracks[0].title, "曲 " + std::to_string(i));
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "cache.dat.tmp"));
}

TEST_F(CacheTest, Big5TextsOfOlderCachesReadAsChinese) {
    // "中文" and "音樂" in Big5, as the older program stored them; the count as it wrote it.
    CompoundTree tree;
    tree.storages.push_back(CompoundStorage{"2000301", {}});
    tree.storages[0].name = "2000301.1";
    tree.storages[0].streams = {{"DiskID", std::string("2000301\0", 8)},
                                {"Title", std::string("\xA4\xA4\xA4\xE5\0", 5)},
                                {"TTITLE0", std::string("\xAD\xB5\x1b[2J\xBC\xD6\0", 9)},
                                {"Copyright", std::string("\0", 1)}};
    ASSERT_TRUE(files_->Write(dir_.path() / "cache.dat", tree));
    CdInfo back = Blank("2000301", 1);
    back.comments = "kept";
    back.extended = "cleared";
    ASSERT_TRUE(CacheRead(back));
    EXPECT_EQ(back.discTitle, "中文");
    EXPECT_EQ(back.tracks[0].title, "音[2J樂");  // no control character survives
    EXPECT_EQ(back.extended, "");
    EXPECT_EQ(back.comments, "kept");  // no "Comments" stream: the field stays
}

TEST_F(CacheTest, DamagedFileIsAMissAndIsMovedAsideOnWrite) {
    const auto file = dir_.path() / "cache.dat";
    test::WriteFile(file, test::Bytes(3000, 0x5A));
    CdInfo back = Blank("11", 1);
    EXPECT_FALSE(CacheRead(back));
    ASSERT_TRUE(CacheWrite(Disc("11", {"t"})));
    EXPECT_EQ(test::ReadFile(dir_.path() / "cache.dat.damaged"), test::Bytes(3000, 0x5A));
    ASSERT_TRUE(CacheRead(back));
    EXPECT_EQ(back.tracks[0].title, "t");
    // Damaged again, cut short this time: read quietly as a miss, the first one still kept.
    const test::Bytes whole = test::ReadFile(file);
    test::WriteFile(file, test::Bytes(whole.begin(), whole.begin() + whole.size() / 2));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(CacheRead(back));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(CacheWrite(Disc("12", {"u"})));
    EXPECT_EQ(test::ReadFile(dir_.path() / "cache.dat.damaged"), test::Bytes(3000, 0x5A));
    EXPECT_EQ(test::ReadFile(dir_.path() / "cache.dat.damaged.2").size(), whole.size() / 2);
}

TEST_F(CacheTest, ForeignCompoundFileIsReplacedNotMerged) {
    CompoundTree foreign;
    foreign.storages.push_back(CompoundStorage{"Macros", {{"VBA", "code"}}});
    const auto file = dir_.path() / "cache.dat";
    ASSERT_TRUE(files_->Write(file, foreign));
    ASSERT_TRUE(CacheWrite(Disc("11", {"t"})));
    EXPECT_TRUE(std::filesystem::exists(dir_.path() / "cache.dat.damaged"));
    CompoundTree tree;
    ASSERT_EQ(files_->Read(file, nullptr, tree), CompoundReadResult::Ok);
    ASSERT_EQ(tree.storages.size(), 1u);
    EXPECT_EQ(tree.storages[0].name, "11.1");
}

TEST_F(CacheTest, ALinkedCacheStaysLinked) {
    std::filesystem::create_directories(dir_.path() / "elsewhere");
    ASSERT_TRUE(files_->Write(dir_.path() / "elsewhere/cache.dat", CompoundTree{}));
    std::filesystem::create_symlink("elsewhere/cache.dat", dir_.path() / "cache.dat");
    ASSERT_TRUE(CacheWrite(Disc("11", {"t"})));
    EXPECT_TRUE(std::filesystem::is_symlink(dir_.path() / "cache.dat"));
    CompoundTree tree;
    ASSERT_EQ(files_->Read(dir_.path() / "elsewhere/cache.dat", nullptr, tree),
              CompoundReadResult::Ok);
    EXPECT_EQ(tree.storages.size(), 1u);
}

TEST_F(CacheTest, UnwritableFolderFailsTheWrite) {
    SetCacheFolder(dir_.path() / "file-not-folder");
    test::WriteFile(dir_.path() / "file-not-folder", test::Bytes(4, 1));
    EXPECT_FALSE(CacheWrite(Disc("11", {"t"})));
}

// The real files, with one step of a write made to fail.
class FailingFiles final : public CacheFiles {
public:
    enum Fault { FailedWrite, TempGone };
    FailingFiles(std::shared_ptr<CacheFiles> real, Fault fault)
        : real_(std::move(real)), fault_(fault) {}
    CompoundReadResult Read(const std::filesystem::path& f, const std::string* only,
                            CompoundTree& tree) override {
        return real_->Read(f, only, tree);
    }
    bool Write(const std::filesystem::path& f, const CompoundTree& tree) override {
        const bool ok = real_->Write(f, tree);  // leaves a temporary file behind either way
        if (fault_ == FailedWrite) return false;
        std::filesystem::remove(f);  // the rename that follows fails
        return ok;
    }
    std::unique_ptr<FileLock> Lock(const std::filesystem::path& f) override {
        return real_->Lock(f);
    }
    bool FolderWritable(const std::filesystem::path& f) override {
        return real_->FolderWritable(f);
    }
    std::optional<std::string> LegacyToUtf8(std::string_view b) override {
        return real_->LegacyToUtf8(b);
    }

private:
    std::shared_ptr<CacheFiles> real_;
    Fault fault_;
};

TEST_F(CacheTest, AFailedWriteRenameOrLockLeavesTheCacheAsItWas) {
    const auto file = dir_.path() / "cache.dat";
    ASSERT_TRUE(CacheWrite(Disc("11", {"a"})));
    const test::Bytes before = test::ReadFile(file);
    for (auto fault : {FailingFiles::FailedWrite, FailingFiles::TempGone}) {
        SetCacheFiles(std::make_shared<FailingFiles>(files_, fault));
        EXPECT_FALSE(CacheWrite(Disc("22", {"b"}))) << fault;
        EXPECT_EQ(test::ReadFile(file), before) << fault;
        EXPECT_FALSE(std::filesystem::exists(dir_.path() / "cache.dat.tmp")) << fault;
    }
    // Another writer holds the lock past the wait.
    SetCacheFiles(compound::MakeGsfCacheFiles(std::chrono::milliseconds(200)));
    {
        const auto held = files_->Lock(dir_.path() / "cache.dat.lock");
        ASSERT_TRUE(held);
        EXPECT_FALSE(CacheWrite(Disc("22", {"b"})));
        EXPECT_EQ(test::ReadFile(file), before);
    }
    ASSERT_TRUE(CacheWrite(Disc("22", {"b"})));
    CdInfo first = Blank("11", 1), second = Blank("22", 1);
    ASSERT_TRUE(CacheRead(first));
    ASSERT_TRUE(CacheRead(second));
    EXPECT_EQ(first.tracks[0].title, "a");
    EXPECT_EQ(second.tracks[0].title, "b");
}

// The window and the command line may store discs at the same moment: each waits for the
// other, and every disc of both is kept.
TEST_F(CacheTest, TwoProcessesWritingAtOnceLoseNoDisc) {
    constexpr int kEach = 12;
    auto id = [](int who, int i) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", 0x1000 * (who + 1) + i);
        return std::string(text);
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = true;
        for (int i = 0; i < kEach; ++i) ok = CacheWrite(Disc(id(1, i), {"child"})) && ok;
        ::_exit(ok ? 0 : 1);
    }
    bool ok = true;
    for (int i = 0; i < kEach; ++i) ok = CacheWrite(Disc(id(0, i), {"parent"})) && ok;
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int who : {0, 1})
        for (int i = 0; i < kEach; ++i) {
            CdInfo back = Blank(id(who, i), 1);
            ASSERT_TRUE(CacheRead(back)) << who << " " << i;
            EXPECT_EQ(back.tracks[0].title, who ? "child" : "parent");
        }
}

TEST(CacheNamingTest, DecodeTextStopsAtZeroAndFallsBack) {
    EXPECT_EQ(DecodeText(std::string("ab\0cd", 5), nullptr), "ab");
    EXPECT_EQ(DecodeText("", nullptr), "");
    EXPECT_EQ(DecodeText("Caf\xE9", nullptr), "Café");  // neither UTF-8 nor a legacy reader
    EXPECT_TRUE(LooksLikeCache(CompoundTree{{{"a0b0c02.12", {}}, {"ffffffff.99", {}}}, false}));
    EXPECT_FALSE(LooksLikeCache(CompoundTree{{{"a0b0c02", {}}}, false}));
    EXPECT_FALSE(LooksLikeCache(CompoundTree{{{"xyz.1", {}}}, false}));
    EXPECT_FALSE(LooksLikeCache(CompoundTree{{}, true}));
}

}  // namespace
}  // namespace tralux::cddb
