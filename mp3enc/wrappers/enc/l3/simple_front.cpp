#include "wrappers/enc/l3/simple_front.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/psych/enc/l3/hybrid.h"

#include "core/quant/sfb_tab.h"

namespace mp3enc {

SimpleFrontEnd::SimpleFrontEnd(const FrontEndParams& p, float snrDb) : p_(p), snr_(snrDb) {
  bandwidth_ = p.bandwidth > 0 ? p.bandwidth : std::min(16000.0f, p.sampleRate * 0.45f);
  lowpassLine_ = std::clamp(static_cast<int>(576.0f * bandwidth_ / (p.sampleRate / 2.0f)), 1, 576);
}

std::string SimpleFrontEnd::Analyse(const float* const pcm[2], GranuleAnalysis& out) {
  const SfbBounds* sfb = SfbBoundsFor(p_.sampleRate);
  out.midSide = false;
  for (int ch = 0; ch < p_.channels; ++ch) {
    ChannelAnalysis& a = out.ch[ch];
    a.blockType = 0;
    float cur[kSubbands][kSlotsPerGranule];
    poly_[ch].Process(pcm[ch], cur);
    FrequencyInversion(cur);
    HybridMdct(prev_[ch], cur, 0, a.xr);
    std::memcpy(prev_[ch], cur, sizeof(cur));
    for (int k = lowpassLine_; k < 576; ++k) a.xr[k] = 0;
    a.pe = 0;
    float ratio = std::pow(10.0f, -snr_ / 10.0f);
    for (int u = 0; u < 22; ++u) {
      double e = 0;
      for (int i = sfb->longB[u]; i < sfb->longB[u + 1]; ++i) e += double(a.xr[i]) * a.xr[i];
      int w = sfb->longB[u + 1] - sfb->longB[u];
      a.xmin[u] = static_cast<float>(std::max(e * ratio, 1e-3 * w));
      if (e > a.xmin[u]) a.pe += static_cast<float>(w * std::log2(e / a.xmin[u]) * 0.5);
    }
    for (int u = 22; u < 39; ++u) a.xmin[u] = 1.0f;
  }
  return {};
}

}  // namespace mp3enc
