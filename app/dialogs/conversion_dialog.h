#pragma once
// The conversion settings dialog ("設定"): a view over ConversionSettingsModel.
#include <QDialog>

#include "app/models/conversion_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tralux::app {

class ConversionSettingsDialog : public QDialog {
public:
    ConversionSettingsDialog(QWidget* parent, const models::ConversionInputs& inputs);
    models::ConversionSettingsModel& Model() { return model_; }
    // Filled when the dialog was accepted.
    const models::ConversionOutputs& Outputs() const { return outputs_; }

    void accept() override;

private:
    void Build();
    void Refresh();

    models::ConversionSettingsModel model_;
    models::ConversionOutputs outputs_;
    QButtonGroup* formatGroup_ = nullptr;
    QButtonGroup* startGroup_ = nullptr;
    QButtonGroup* qualityGroup_ = nullptr;
    QRadioButton* fromPosition_ = nullptr;
    QRadioButton* original_ = nullptr;
    QComboBox* bitRate_ = nullptr;
    QLabel* bitLabel_ = nullptr;
    QComboBox* rate_ = nullptr;
    QComboBox* channels_ = nullptr;
    QCheckBox* songInfo_ = nullptr;
    QLineEdit* title_ = nullptr;
    QLineEdit* author_ = nullptr;
    QLineEdit* copyright_ = nullptr;
    QCheckBox* equalizer_ = nullptr;
    QCheckBox* jitter_ = nullptr;
    QCheckBox* normalize_ = nullptr;
    QLineEdit* destination_ = nullptr;
};

}  // namespace tralux::app
