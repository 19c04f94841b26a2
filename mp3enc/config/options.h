#pragma once
// The encoder's option store: options set by name and text value while the modules are
// created; each module reads the ones it knows through the typed getters.
// One store per encoder instance (no process-wide state).
#include <string>
#include <vector>

namespace mp3enc {

// Status codes of the option functions.
enum OptionStatus : int {
    kOptionOk = 0,
    kOptionRangeFailed = 2,  // "Range Check failed"
    kOptionTooFew = 3,       // "Too few arguments in configuration"
    kOptionTooMany = 4,      // "Too many arguments in configuration"
    kOptionNotFound = 8,     // entry not found
    kOptionNoMemory = 9,     // out of memory, or the store was already open
};

constexpr int kMaxOptionEntries = 1000;  // entry table size
constexpr int kMaxSetOptions = 20;       // names the program may set

struct OptionEntry {
    std::string name;          // owned copy of the name
    std::string value;         // owned copy of the value text
    bool printed = false;      // kept for the store's record; never consulted
    bool rangeFailed = false;  // a value failed its range check
    std::string detail;        // detail text, kept only after a range failure
    int status = kOptionOk;    // status of the last getter on this entry
};

class OptionStore {
public:
    // Opens the store. When it is already open, it is marked closed and 9 is returned.
    int Open();
    // Frees all entries and names and marks the store closed.
    void Close();
    bool IsOpen() const { return count_ >= 0; }
    // Entry count, -1 while closed.
    int Count() const { return count_; }

    // Adds an entry. Ignored (status 0) for a null name, a closed store or when 20 names are set.
    int SetOption(const char* name, const char* value);

    // Typed getters: a name that is not set leaves *var untouched and returns 0. Values are
    // checked against [min, max] unless min == max. Failures are kept in the entry; values
    // before a failing one are stored.
    int GetIntOption(const char* name, int min, int max, int* var, const char* help = "",
                     const char* detail = "");
    int GetIntArrayOption(const char* name, int count, int min, int max, int* var,
                          const char* help = "", const char* detail = "");
    int GetFloatOption(const char* name, float min, float max, float* var, const char* help = "",
                       const char* detail = "");
    int GetFloatArrayOption(const char* name, int count, float min, float max, float* var,
                            const char* help = "", const char* detail = "");
    // *var becomes 0, or 1 when the name is set (a value text gives status 4 but still sets it).
    int GetFlagOption(const char* name, int* var, const char* help = "", const char* detail = "");

    // True when the name equals one recorded by SetOption.
    bool IsSet(const char* name) const;
    const OptionEntry* FindEntry(const char* name) const;
    // Parse messages so far, each beginning "At parameter <name>: ".
    const std::string& Messages() const { return messages_; }

private:
    OptionEntry* Find(const char* name);
    template <typename T>
    int GetValues(const char* name, int count, T min, T max, T* var, const char* detail);

    std::vector<OptionEntry> entries_;
    std::vector<std::string> setNames_;
    std::string messages_;
    int count_ = -1;
};

// Opens a store for the lifetime of a creation and closes it on every exit path.
class OptionSession {
public:
    explicit OptionSession(OptionStore* store) : store_(store) {
        if (store_) status_ = store_->Open();
    }
    ~OptionSession() {
        if (store_) store_->Close();
    }
    OptionSession(const OptionSession&) = delete;
    OptionSession& operator=(const OptionSession&) = delete;
    int status() const { return status_; }

private:
    OptionStore* store_;
    int status_ = kOptionOk;
};

}  // namespace mp3enc
