#include "configurator/Form1.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

#include "common/Paths.h"
#include "server/core/ServerSettings.h"
#include "ui_Form1.h"

namespace tarvo {

void ShowErrorBox(QWidget* owner, const QString& text) {
  QMessageBox::critical(owner, QGuiApplication::applicationDisplayName(), text);
}

TForm1::TForm1(QWidget* parent, TShowError showError)
    : QDialog(parent),
      ui(std::make_unique<Ui::TForm1>()),
      FShowError(std::move(showError)),
      FIni(GetIniFileName(true)) {
  ui->setupUi(this);
  // A small fixed tool window with the system menu and the help button; QDialog centres a
  // window without a parent on the screen when it is first shown.
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::WindowContextHelpButtonHint);
  setFixedSize(610, 230);
  connect(ui->Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(ui->Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  try {
    // Nobody reads this key; it is kept so that the file looks as it always did.
    FIni.WriteString("LogKeeper", "LogDir", FIni.ReadString("LogKeeper", "LogDir", GetLogDir()));
  } catch (const IniError& e) {
    // The dialog still opens: the user sees the boxes and learns that Ok will fail too.
    FShowError(this, QString::fromStdString(e.what()));
  }
  // A missing key shows the server's own default, so that Ok without changes keeps the server
  // behaving as it did.
  const TServerSettings server;
  ui->chbLog->setChecked(FIni.ReadBool("LogKeeper", "KeepLog", server.KeepLog));
  ui->chbTen->setChecked(FIni.ReadBool("Main", "TenBitsForAll", server.TenBitsForAll));
  ui->chbEthernetRs->setChecked(FIni.ReadBool("Main", "EthernetRs", server.EthernetRs));
}

void TForm1::Button1Click() {
  try {
    // Each write reaches the file at once; a failure stops at the first key that failed.
    FIni.WriteBool("LogKeeper", "KeepLog", ui->chbLog->isChecked());
    FIni.WriteBool("Main", "TenBitsForAll", ui->chbTen->isChecked());
    FIni.WriteBool("Main", "EthernetRs", ui->chbEthernetRs->isChecked());
  } catch (const IniError& e) {
    FShowError(this, QString::fromStdString(e.what()));
    return;
  }
  accept();
}

void TForm1::Button2Click() {
  reject();
}

}  // namespace tarvo
