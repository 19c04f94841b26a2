#include "mp3enc/config/errors.h"

#include <cstdio>
#include <cstdlib>

namespace mp3enc {

void AddError(ErrorChain* chain, const char* module, int line, const std::string& message,
              const std::string& context) {
    if (!chain) return;
    ErrorRecord r;
    r.module = module ? module : "";
    r.line = line;
    r.context = context;
    r.message = message.substr(0, 200);
    chain->push_back(std::move(r));
}

void FatalError(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\a##########\nfatal error: %s in file %s, %d", what ? what : "",
                 file ? file : "", line);
    std::fprintf(stderr, "\nThis is a program design failure - Aborting.\n##########\n");
    std::fflush(stderr);
    std::_Exit(20);
}

}  // namespace mp3enc
