#pragma once
// The configurator's only window: three switches of the server's settings file.

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

#include "platform/ini/IniFile.h"

namespace Ui {
class TForm1;
}

namespace tarvo {

// How a failed write reaches the user. The program shows a message box; a test records the text
// instead, so that nothing waits for a click.
using TShowError = std::function<void(QWidget* owner, const QString& text)>;

// A modal critical message box captioned with the application's name.
void ShowErrorBox(QWidget* owner, const QString& text);

// Opening reads the boxes from the server's settings file (a missing key shows what the server
// would do without it) and writes "LogDir" back. Ok writes the three boxes and accepts; Отмена,
// Escape and closing the window reject without writing. The program ends on finished(); a write
// that fails is reported and the dialog stays open.
class TForm1 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr, TShowError showError = ShowErrorBox);
  ~TForm1() override;

 private:
  void FormCreate();
  void Button1Click();
  void Button2Click();

  std::unique_ptr<Ui::TForm1> ui;
  TShowError FShowError;
  IniFile FIni;  // the server's settings file, held while the dialog lives
};

}  // namespace tarvo
