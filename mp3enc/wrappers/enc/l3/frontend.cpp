#include "wrappers/enc/l3/frontend.h"

#include "wrappers/enc/l3/model_front.h"

namespace mp3enc {

std::unique_ptr<FrontEnd> CreateFrontEnd(const FrontEndParams& p, std::string* error) {
    if (p.channels < 1 || p.channels > 2) {
        if (error) *error = "wrong number of channels on input";
        return nullptr;
    }
    return ModelFrontEnd::Create(p, error);
}

}  // namespace mp3enc
