#pragma once
// The engine's error vocabulary: job codes 102..112 (0 = stopped without error) and file
// failures with their cause numbers. Both travel as exceptions inside a job.
#include <exception>
#include <string>

namespace tralux {

enum ErrorCode : int {
    kNoError = 0,
    kErrRead = 102,
    kErrOpen = 103,
    kErrWrite = 104,
    kErrUnknownFormat = 105,
    kErrUnknownFormat2 = 106,
    kErrNoDecompression = 107,
    kErrCodecInit = 108,
    kErrNoSoundDevice = 109,
    kErrOpenDevice = 110,
    kErrPlayback = 111,
    kErrCompressedWav = 112,
    kErrSectorRead = 123,       // the CD reader: sectors could not be read
    kErrAudioUnverified = 124,  // the CD reader: the reads never agreed
};

// Raised inside a job; code 0 means "stop without error".
class JobError : public std::exception {
public:
    explicit JobError(int code) : code_(code) {}
    int code() const noexcept { return code_; }
    const char* what() const noexcept override { return "job error"; }

private:
    int code_;
};

// File-object failure; cause numbers follow the file-exception table (0..14).
enum FileCause : int {
    kCauseNone = 0,
    kCauseGeneric = 1,
    kCauseFileNotFound = 2,
    kCauseBadPath = 3,
    kCauseTooManyOpenFiles = 4,
    kCauseAccessDenied = 5,
    kCauseInvalidFile = 6,
    kCauseRemoveCurrentDir = 7,
    kCauseDirectoryFull = 8,
    kCauseBadSeek = 9,
    kCauseHardIO = 10,
    kCauseSharingViolation = 11,
    kCauseLockViolation = 12,
    kCauseDiskFull = 13,
    kCauseEndOfFile = 14,
};

class FileError : public std::exception {
public:
    FileError(int cause, std::string path, std::string reason = {})
        : cause_(cause), path_(std::move(path)), reason_(std::move(reason)) {}
    int cause() const noexcept { return cause_; }
    const std::string& path() const noexcept { return path_; }
    // The system's words ("No space left on device"); empty when only the cause is known.
    const std::string& reason() const noexcept { return reason_; }
    const char* what() const noexcept override { return "file error"; }

private:
    int cause_;
    std::string path_;
    std::string reason_;
};

// errno after a failed open/read/write/seek -> cause number.
int FileCauseFromErrno(int err, bool seeking = false);

// String-table text of a job code ("" for unknown codes).
std::string ErrorCodeText(int code);
// The cause text alone, and "File I/O Error: " + cause text.
std::string FileCauseText(int cause);
std::string FileErrorMessage(int cause);
// "寫入檔案錯誤: PATH: reason" (code's text, the failing path, the system's reason).
std::string FileFailureText(int code, const FileError& error);

}  // namespace tralux
