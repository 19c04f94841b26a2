#include "core/psych/enc/l3/psymain.h"

#include <algorithm>

namespace mp3enc {

class PsyModelImpl {
 public:
  PsyModelConfig config;
  PsyParams params;
  PsyGranuleOutput out;
};

std::unique_ptr<PsychoacousticModel> PsychoacousticModel::Create(const PsyModelConfig& config,
                                                                 OptionStore* options, ErrorChain* err) {
  auto impl = std::make_unique<PsyModelImpl>();
  impl->config = config;
  if (!BuildPsyParams(options, config.sampleRate, config.bitRate / std::max(1, config.channels),
                      config.channels == 2, &impl->params, err))
    return nullptr;
  impl->out.channels = config.channels;
  return std::unique_ptr<PsychoacousticModel>(new PsychoacousticModel(std::move(impl)));
}

PsychoacousticModel::PsychoacousticModel(std::unique_ptr<PsyModelImpl> impl) : impl_(std::move(impl)) {}
PsychoacousticModel::~PsychoacousticModel() = default;
void PsychoacousticModel::Advance(const float*) {}
const PsyGranuleOutput& PsychoacousticModel::Output() const { return impl_->out; }
const PsyParams& PsychoacousticModel::Params() const { return impl_->params; }
float PsychoacousticModel::Bandwidth() const { return impl_->params.lng.bandwidth; }
const PsyModelConfig& PsychoacousticModel::Config() const { return impl_->config; }

}  // namespace mp3enc
