#pragma once
#include <vector>

#include "wrappers/enc/l3/frontend.h"

namespace mp3enc {

// Plain front end: one sine-windowed transform per granule, allowed distortion from a
// flat signal-to-noise ratio. Keeps the coding chain testable without the full model.
class SimpleFrontEnd : public FrontEnd {
 public:
  SimpleFrontEnd(const FrontEndParams& p, float snrDb = 25.0f);
  std::string Analyse(const float* const pcm[2], GranuleAnalysis& out) override;
  int Delay() const override { return 576; }
  float Bandwidth() const override { return bandwidth_; }

 private:
  FrontEndParams p_;
  float bandwidth_;
  float snr_;
  std::vector<float> hist_[2];
  std::vector<float> basis_;  // 576 x 1152
  int lowpassLine_;
};

}  // namespace mp3enc
