#pragma once
// The batch conversion settings dialog and the CD ripping dialog.
#include <QDialog>
#include <functional>
#include <vector>

#include "app/models/batch_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tralux::app {

// Format radios, automatic/custom quality with the three lists, and the CD positioning
// check box: the part both dialogs share.
class QualitySection {
public:
    QualitySection(QDialog* owner, models::BatchQualityModel& model);
    QGroupBox* FormatBox() const { return formatBox_; }
    QGroupBox* QualityBox() const { return qualityBox_; }
    QCheckBox* Jitter() const { return jitter_; }
    // Focus order of the section's controls.
    std::vector<QWidget*> TabOrder() const;
    void Refresh();
    std::function<void()> changed;  // after every reaction

private:
    models::BatchQualityModel& model_;
    QGroupBox* formatBox_ = nullptr;
    QGroupBox* qualityBox_ = nullptr;
    QButtonGroup* formatGroup_ = nullptr;
    QButtonGroup* modeGroup_ = nullptr;
    QComboBox* rate_ = nullptr;
    QComboBox* channels_ = nullptr;
    QComboBox* bitRate_ = nullptr;
    QCheckBox* jitter_ = nullptr;
    QLabel* bitLabel_ = nullptr;
};

class BatchSettingsDialog : public QDialog {
public:
    explicit BatchSettingsDialog(QWidget* parent);
    models::BatchSettingsModel& Model() { return model_; }
    void accept() override;

private:
    void Refresh();

    models::BatchSettingsModel model_;
    QualitySection* quality_ = nullptr;
    QLineEdit* input_ = nullptr;
    QLineEdit* output_ = nullptr;
    QCheckBox* wav_ = nullptr;
    QCheckBox* mp3_ = nullptr;
    QCheckBox* cd_ = nullptr;
    QCheckBox* other_ = nullptr;
    QPushButton* ok_ = nullptr;
};

class CdRipDialog : public QDialog {
public:
    CdRipDialog(QWidget* parent, models::CdDisc disc,
                std::function<bool(const models::CdDisc&)> cacheWriter);
    ~CdRipDialog() override;
    models::CdRipModel& Model() { return model_; }
    QTreeWidget* Tracks() const { return tracks_; }
    // Asks the CD information server again, whatever the cache holds; shows a button for it.
    void SetRefresher(std::function<models::CdDisc()> refresher);
    // The drive the rip reads ("D:/"): its stored read offset is shown and can be changed.
    void SetDrive(const std::string& root);
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Refresh();
    void SizeTitleColumn();

    models::CdRipModel model_;
    std::function<bool(const models::CdDisc&)> cacheWriter_;
    QualitySection* quality_ = nullptr;
    QTreeWidget* tracks_ = nullptr;
    QLineEdit* discTitle_ = nullptr;
    QLineEdit* extended_ = nullptr;
    QCheckBox* placeTitles_ = nullptr;
    QCheckBox* skipBad_ = nullptr;
    QPushButton* refresh_ = nullptr;
    std::function<models::CdDisc()> refresher_;
    QLineEdit* output_ = nullptr;
    QCheckBox* testCopy_ = nullptr;
    QLineEdit* arUrl_ = nullptr;
    QLineEdit* readOffset_ = nullptr;
    QLabel* offsetLabel_ = nullptr;
    std::string offsetKey_;  // "Offset <device or image>" of the drive; empty: none known
    QPushButton* start_ = nullptr;
};

// Why a typed AccurateRip server address or read offset cannot be used; "" when it can (blank
// means no lookup, or no offset set for the drive).
std::string AccurateRipUrlProblem(const std::string& url);
std::string ReadOffsetProblem(const std::string& text);

}  // namespace tralux::app
