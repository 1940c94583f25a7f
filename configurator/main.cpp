// Optora: the server's configurator, one dialog over the server's settings file.

#include <QApplication>
#include <iostream>
#include <string_view>

#include "common/Paths.h"
#include "configurator/Form1.h"

namespace {

void PrintUsage() {
  std::cout << "Usage: Optora [-h | --help]\n"
               "\n"
               "Opens the communication server's configurator: a dialog with three switches of\n"
               "the server's settings file (keeping logs, ten bits per character for USB-COM\n"
               "adapters, Ethernet/RS-232 adapters). Ok writes them, Отмена leaves them as they\n"
               "are. Stop the server before applying settings; it reads them when it starts.\n"
               "\n"
               "Settings file: "
            << tarvo::GetIniFileName(false)
            << "\n"
               "  (under $TARVO_COMMON_APPDATA when set, else $XDG_DATA_HOME or ~/.local/share)\n"
               "\n"
               "Options:\n"
               "  -h, --help   print this text and exit\n"
               "\n"
               "Qt's own command-line options are not taken; use its environment variables\n"
               "instead (QT_QPA_PLATFORM, QT_SCALE_FACTOR, QT_STYLE_OVERRIDE).\n";
}

}  // namespace

int main(int argc, char** argv) {
  // Arguments are looked at before Qt starts, so that --help works without a display.
  if (argc > 1) {
    const std::string_view arg = argv[1];
    if (arg == "-h" || arg == "--help") {
      PrintUsage();
      return 0;
    }
    std::cerr << "Optora: " << (arg.starts_with('-') ? "unknown option" : "unexpected argument")
              << " '" << arg << "'; see Optora --help\n";
    return 2;
  }

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName("Optora");
  tarvo::TForm1 form;
  // Either button ends the program at once; the form's destructor releases the settings file.
  QObject::connect(&form, &QDialog::finished, &app, &QCoreApplication::quit);
  form.show();
  return app.exec();
}
