#pragma once
// The choice among two or more CD drives.
#include <optional>
#include <string>
#include <vector>

#include <QDialog>

class QComboBox;
class QPushButton;

namespace tralux::app {

class DriveChoiceDialog final : public QDialog {
public:
    DriveChoiceDialog(QWidget* owner, const std::vector<std::string>& roots, int preselect);
    // The chosen index after OK.
    int Chosen() const { return chosen_; }
    QComboBox* Combo() const { return combo_; }
    QPushButton* OkButton() const { return ok_; }

private:
    void Confirm();
    QComboBox* combo_;
    QPushButton* ok_;
    int chosen_ = -1;
};

// "光碟機 D:（/dev/sr0）", "光碟機 E:（映像檔 /discs/a.cue）": the letter with what is behind it.
std::string DriveChoiceText(const std::string& root);

// The chosen index, or nullopt when the dialog was closed without OK.
std::optional<int> RunDriveChoiceDialog(QWidget* owner, const std::vector<std::string>& roots,
                                        int preselect);

}  // namespace tralux::app
