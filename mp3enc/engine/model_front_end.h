#pragma once
#include <memory>
#include <vector>

#include "mp3enc/psycho/model.h"
#include "mp3enc/engine/front_end.h"

namespace mp3enc {

// The psychoacoustic model with its analysis filterbank as the encoder's front end.
class ModelFrontEnd : public FrontEnd {
public:
    static std::unique_ptr<ModelFrontEnd> Create(const FrontEndParams& p, std::string* error);
    std::string Analyse(const float* const pcm[2], GranuleAnalysis& out) override;
    int Delay() const override { return PsychoacousticModel::kDelay; }
    float Bandwidth() const override { return model_->Bandwidth(); }
    float PeMin() const override { return static_cast<float>(model_->Params().lng.peMin); }
    float PeMax() const override { return static_cast<float>(model_->Params().lng.peMax); }
    void Shapes(ReservoirShape* l, ReservoirShape* s) const override;

private:
    std::unique_ptr<PsychoacousticModel> model_;
    int channels_ = 2;
    std::vector<float> planar_;
};

}  // namespace mp3enc
