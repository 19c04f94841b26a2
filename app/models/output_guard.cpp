#include "app/models/output_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/job/clock_text.h"
#include "engine/job/errors.h"
#include "engine/job/printable_text.h"

namespace tralux::models {

namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec)) && !ec;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec) && !ec;
    return PathKey(a) == PathKey(b);
}

// The system's reason in the user's words where we know it.
std::string ErrnoText(int err) {
    switch (err) {
        case ENOENT:
            return "檔案或資料夾不存在";
        case EACCES:
        case EPERM:
            return "沒有存取權限";
        case EROFS:
            return "位置是唯讀的";
        case ENOSPC:
            return "磁碟已滿";
        case EISDIR:
            return "這是資料夾，不是檔案";
        case ENOTDIR:
            return "路徑中有一部分不是資料夾";
        case ENAMETOOLONG:
            return "名稱太長";
        default:
            return std::strerror(err);
    }
}

}  // namespace

std::string PathKey(const std::string& path) {
    std::error_code ec;
    const fs::path abs = fs::absolute(path, ec);
    const fs::path c = fs::weakly_canonical(ec ? fs::path(path) : abs, ec);
    return (ec ? fs::path(path).lexically_normal() : c).string();
}

std::string FreeOutputName(const std::string& path,
                           const std::function<bool(const std::string&)>& taken) {
    const fs::path p(path);
    const std::string stem = p.stem().string(), ext = p.extension().string();
    for (int n = 2;; ++n) {
        const std::string candidate =
            (p.parent_path() / (stem + " (" + std::to_string(n) + ")" + ext)).string();
        if (!Exists(candidate) && !(taken && taken(PathKey(candidate)))) return candidate;
    }
}

OutputDecision OutputGuard::Decide(const std::vector<std::string>& inputs, std::size_t index,
                                   const std::string& wanted, const Ask& ask) {
    OutputDecision d;
    d.path = wanted;
    auto refuse = [&](OutputVerdict v, std::string why) {
        d.verdict = v;
        d.reason = std::move(why);
        return d;
    };
    if (index < inputs.size() && SameFile(inputs[index], wanted))
        return refuse(OutputVerdict::Refuse,
                      "輸出檔案就是輸入檔案，不能寫在它上面；請選擇別的輸出資料夾或格式");
    for (std::size_t j = index + 1; j < inputs.size(); ++j)
        if (SameFile(inputs[j], wanted))
            return refuse(OutputVerdict::Skip,
                          "這是這個批次中稍後要轉換的檔案，為了不覆蓋它而略過");
    const auto taken = [this](const std::string& key) { return planned_.count(key) != 0; };
    std::error_code ec;
    if (planned_.count(PathKey(wanted))) {
        // Two inputs with one name: the earlier output stays, this one gets a free name.
        d.path = FreeOutputName(wanted, taken);
    } else if (Exists(wanted)) {
        if (fs::is_directory(wanted, ec))
            return refuse(OutputVerdict::Refuse, "這個名稱已是一個資料夾");
        ExistingAnswer answer = ExistingAnswer::Skip;
        if (all_) {
            answer = *all_;
        } else if (ask) {
            const ExistingReply r = ask(wanted);
            answer = r.answer;
            if (r.applyToAll) all_ = answer;
        }
        if (answer == ExistingAnswer::Skip)
            return refuse(OutputVerdict::Skip, "檔案已存在，保留原檔");
        if (answer == ExistingAnswer::KeepBoth)
            d.path = FreeOutputName(wanted, taken);
        else
            d.replaces = true;
    }
    planned_.insert(PathKey(d.path));
    return d;
}

void OutputGuard::Moved(const std::string& from, const std::string& to) {
    if (from == to) return;
    planned_.erase(PathKey(from));
    planned_.insert(PathKey(to));
}

std::string InputProblem(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return ErrnoText(EISDIR);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ErrnoText(errno);
    ::close(fd);
    return {};
}

std::string InputFailureReason(const std::string& path, int code) {
    const bool discPath = path.size() > 2 && path[1] == ':' && path[2] == '/';
    if ((code == kErrOpen || code == kErrRead || code == 0) && !discPath) {
        const std::string why = InputProblem(path);
        if (!why.empty()) return why;
    }
    std::string text = ErrorCodeText(code);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "不是可以轉換的聲音檔案" : text;
}

std::string OutputProblem(const std::string& path) {
    std::error_code ec;
    const bool existed = Exists(path);
    if (existed && fs::is_directory(path, ec)) return "這個名稱已是一個資料夾";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return ErrnoText(errno);
    ::close(fd);
    if (!existed) fs::remove(path, ec);
    return {};
}

std::string StoppedLine(const std::string& path, std::uint64_t heldMs, std::uint64_t wantedMs) {
    return "已停止：" + Printable(path) + " 只含前 " + FormatClock(heldMs / 1000) + "（完整應為 " +
           FormatClock(wantedMs / 1000) + "），可以播放但不完整。";
}

std::string CutInputReason(std::uint64_t declaredMs, std::uint64_t convertedMs) {
    char text[160];
    std::snprintf(text, sizeof text, "輸入檔提早結束（檔頭標示 %.3f 秒），已轉換 %.3f 秒",
                  static_cast<double>(declaredMs) / 1000.0,
                  static_cast<double>(convertedMs) / 1000.0);
    return text;
}

std::string SummaryText(const RunReport& r, const std::string& outputFolder) {
    std::string t;
    std::string cut;
    // One line per file: a line break in a name is shown as an escape, not taken as a new line.
    for (const RunReport::Item& c : r.cut)
        cut += Printable(c.path) + "：" + Printable(c.reason) + "\n";
    if (r.written.size() == 1 && r.skipped.empty() && r.failed.empty() && !r.stopped) {
        t = "已完成：" + Printable(r.written.front()) + "\n";
        return cut.empty() ? t : t + "\n" + cut;
    }
    t = "已完成 " + std::to_string(r.written.size()) + " 個檔案";
    if (!r.skipped.empty()) t += "，略過 " + std::to_string(r.skipped.size()) + " 個";
    if (!r.failed.empty()) t += "，失敗 " + std::to_string(r.failed.size()) + " 個";
    t += "。\n";
    if (r.stopped) {
        if (r.stoppedPath)
            t += StoppedLine(*r.stoppedPath, r.stoppedHeldMs, r.stoppedWantedMs) + "\n";
        for (const RunReport::StoppedFile& f : r.stoppedFiles)
            t += StoppedLine(f.path, f.heldMs, f.wantedMs) + "\n";
        if (!r.stoppedPath && r.stoppedFiles.empty())
            t += (r.stoppedNote.empty() ? std::string("已停止。") : r.stoppedNote) + "\n";
        if (r.notStarted) t += "尚有 " + std::to_string(r.notStarted) + " 個檔案未轉換。\n";
    }
    if (!r.written.empty() || r.stoppedPath || !r.stoppedFiles.empty())
        t += "檔案位於 " + Printable(outputFolder) + "\n";
    // Each failure and skip with its file: the user must know which and why.
    constexpr std::size_t kShown = 20;
    auto list = [&](const char* heading, const std::vector<RunReport::Item>& items) {
        if (items.empty()) return;
        t += std::string("\n") + heading + "\n";
        for (std::size_t i = 0; i < items.size() && i < kShown; ++i)
            t += "  " + Printable(items[i].path) + "：" + Printable(items[i].reason) + "\n";
        if (items.size() > kShown)
            t += "  …還有 " + std::to_string(items.size() - kShown) + " 個\n";
    };
    list("失敗：", r.failed);
    list("略過：", r.skipped);
    list("提早結束：", r.cut);
    return t;
}

}  // namespace tralux::models
