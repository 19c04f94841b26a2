#include "wrappers/enc/l3/simple_front.h"

#include <algorithm>
#include <cmath>

#include "core/quant/sfb_tab.h"

namespace mp3enc {

SimpleFrontEnd::SimpleFrontEnd(const FrontEndParams& p, float snrDb) : p_(p), snr_(snrDb) {
  bandwidth_ = p.bandwidth > 0 ? p.bandwidth : std::min(16000.0f, p.sampleRate * 0.45f);
  lowpassLine_ = std::clamp(static_cast<int>(576.0f * bandwidth_ / (p.sampleRate / 2.0f)), 1, 576);
  for (auto& h : hist_) h.assign(1152, 0.0f);
  basis_.resize(576 * 1152);
  const double pi = 3.14159265358979323846;
  for (int k = 0; k < 576; ++k)
    for (int n = 0; n < 1152; ++n)
      basis_[static_cast<size_t>(k) * 1152 + n] = static_cast<float>(
          std::sin(pi / 1152 * (n + 0.5)) * std::cos(pi / 576 * (n + 0.5 + 288) * (k + 0.5)) * 2.0 / 24.0);
}

std::string SimpleFrontEnd::Analyse(const float* const pcm[2], GranuleAnalysis& out) {
  const SfbBounds* sfb = SfbBoundsFor(p_.sampleRate);
  out.midSide = false;
  for (int ch = 0; ch < p_.channels; ++ch) {
    auto& h = hist_[ch];
    std::copy(h.begin() + 576, h.end(), h.begin());
    std::copy(pcm[ch], pcm[ch] + 576, h.begin() + 576);
    ChannelAnalysis& a = out.ch[ch];
    a.blockType = 0;
    for (int k = 0; k < 576; ++k) {
      if (k >= lowpassLine_) {
        a.xr[k] = 0;
        continue;
      }
      const float* b = &basis_[static_cast<size_t>(k) * 1152];
      float s = 0;
      for (int n = 0; n < 1152; ++n) s += b[n] * h[static_cast<size_t>(n)];
      a.xr[k] = s;
    }
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
