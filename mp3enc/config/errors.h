#pragma once
// Error records of the encoder's modules and the handler for internal-consistency faults.
#include <string>
#include <vector>

namespace mp3enc {

// One link of an error chain: the module that detected the failure, where, and why.
struct ErrorRecord {
    std::string module;   // source module path, e.g. "core/psych/enc/common/psyparam"
    int line = 0;         // source line of the report
    std::string context;  // optional context (may be empty)
    std::string message;  // message text, at most 200 characters
};

// Errors in order: the first record names the innermost failure; callers append their own.
using ErrorChain = std::vector<ErrorRecord>;

// Appends a record (message truncated to 200 characters). Safe with a null chain.
void AddError(ErrorChain* chain, const char* module, int line, const std::string& message,
              const std::string& context = {});

// Internal-consistency fault: prints the fault banner to stderr and ends the process with
// exit code 20. Never returns.
[[noreturn]] void FatalError(const char* what, const char* file, int line);

}  // namespace mp3enc
