#include "mp3enc/engine/front_end.h"

#include "mp3enc/engine/model_front_end.h"

namespace mp3enc {

std::unique_ptr<FrontEnd> CreateFrontEnd(const FrontEndParams& p, std::string* error) {
    if (p.channels < 1 || p.channels > 2) {
        if (error) *error = "wrong number of channels on input";
        return nullptr;
    }
    return ModelFrontEnd::Create(p, error);
}

}  // namespace mp3enc
