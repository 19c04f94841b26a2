#include "engine/job/errors.h"

#include <cerrno>

namespace tralux {

int FileCauseFromErrno(int err, bool seeking) {
    switch (err) {
        case ENOSPC:
            return kCauseDiskFull;
        case ENOENT:
            return kCauseFileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
            return kCauseBadPath;
        case EMFILE:
        case ENFILE:
            return kCauseTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
            return kCauseAccessDenied;
        case EBADF:
            return kCauseInvalidFile;
        case ESPIPE:
            return kCauseBadSeek;
        case EINVAL:
            return seeking ? kCauseBadSeek : kCauseGeneric;
        case EIO:
            return kCauseHardIO;
        default:
            return kCauseGeneric;
    }
}

std::string ErrorCodeText(int code) {
    switch (code) {
        case 102:
            return "讀取檔案錯誤";
        case 103:
            return "開啟檔案錯誤";
        case 104:
            return "寫入檔案錯誤";
        case 105:
            return "未知的檔案格式.";
        case 106:
            return "未知的檔案格式.";
        case 107:
            return "不支援解壓縮.\n";
        case 108:
            return "不能初始化編/解碼器. ";
        case 109:
            return "在這系統上找不到聲音裝置.";
        case 110:
            return "開啟輸出裝置錯誤";
        case 111:
            return "播放音效錯誤";
        case 112:
            return "被壓縮的 WAV 檔案是不被支援的.";
        case 123:
            return "Failed to read sector";
        case 124:
            return "無法確認這段音訊: 光碟機每次讀到的內容都不一樣";
        default:
            return "";
    }
}

std::string FileCauseText(int cause) {
    static const char* const kTexts[] = {
        "No error occurred.",
        "An unspecified error occurred.",
        "The file could not be located.",
        "All or part of the path is invalid.",
        "The permitted number of open files was exceeded.",
        "The file could not be accessed.",
        "There was an attempt to use an invalid file handle.",
        "The current working directory cannot be removed.",
        "There are no more directory entries.",
        "There was an error trying to set the file pointer.",
        "There was a hardware error.",
        "SHARE.EXE was not loaded, or a shared region was locked.",
        "There was an attempt to lock a region that was already locked.",
        "The disk is full.",
        "The end of file was reached. ",
    };
    if (cause < 0 || cause > 14) return "";
    return kTexts[cause];
}

std::string FileErrorMessage(int cause) {
    return "File I/O Error: " + FileCauseText(cause);
}

std::string FileFailureText(int code, const FileError& error) {
    return ErrorCodeText(code) + ": " + error.path() + ": " +
           (error.reason().empty() ? FileCauseText(error.cause()) : error.reason());
}

}  // namespace tralux
