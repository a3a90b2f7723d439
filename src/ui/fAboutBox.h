#pragma once
// TAboutBox: the product name, the program's version and its copyright line over the product's
// picture, shown modally from Help > "About Morvane".

#include <QDialog>

#include <memory>

namespace Ui {
class TAboutBox;
}

namespace morvane {

class TVersionInfo;

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* owner = nullptr);
  ~TAboutBox() override;

  TVersionInfo* VersionInfo1 = nullptr;  // owned by the dialog

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();

  std::unique_ptr<Ui::TAboutBox> Form;
};

}  // namespace morvane
