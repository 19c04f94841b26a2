#pragma once
#include <vector>

#include "core/psych/enc/l3/polyana.h"
#include "wrappers/enc/l3/frontend.h"

namespace mp3enc {

// Plain front end: the hybrid filterbank with long blocks only and an allowed distortion
// from a flat signal-to-noise ratio. Keeps the coding chain usable without the full model.
class SimpleFrontEnd : public FrontEnd {
 public:
  SimpleFrontEnd(const FrontEndParams& p, float snrDb = 25.0f);
  std::string Analyse(const float* const pcm[2], GranuleAnalysis& out) override;
  int Delay() const override { return 1057; }
  float Bandwidth() const override { return bandwidth_; }

 private:
  FrontEndParams p_;
  float bandwidth_;
  float snr_;
  PolyphaseAnalysis poly_[2];
  float prev_[2][kSubbands][kSlotsPerGranule] = {};
  int lowpassLine_;
};

}  // namespace mp3enc
