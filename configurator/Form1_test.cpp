#include "configurator/Form1.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/ini/IniFile.h"
#include "server/core/ServerSettings.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// Widgets need an application object on the main thread for the whole run, and no display.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[18] = "configurator_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string ReadText(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A fresh common application data folder per test (not created: the dialog must make it), a
// dialog whose errors are recorded, and counts of how it ended.
class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("tarvo-configurator-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    setenv("TARVO_COMMON_APPDATA", dir.c_str(), 1);
    ini = dir / "Tarvo/TarvoSrv/TarvoSrv.ini";
    logDir = (dir / "Tarvo/TarvoSrv/Logs").string();
  }
  void TearDown() override {
    form.reset();
    fs::remove_all(dir);
  }

  TForm1& Open() {
    form.reset();
    form = std::make_unique<TForm1>(nullptr, [this](QWidget* owner, const QString& text) {
      EXPECT_NE(owner, nullptr);
      errors.push_back(text.toStdString());
    });
    QObject::connect(form.get(), &QDialog::accepted, [this] { ++accepted; });
    QObject::connect(form.get(), &QDialog::rejected, [this] { ++rejected; });
    return *form;
  }

  template <typename T>
  T* Find(const char* name) {
    T* w = form->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QCheckBox* Box(const char* name) { return Find<QCheckBox>(name); }
  void Click(const char* button) { Find<QPushButton>(button)->click(); }

  std::string Key(const char* section, const char* key) const {
    return IniFile(ini.string()).ReadString(section, key, "<missing>");
  }

  fs::path dir;
  fs::path ini;
  std::string logDir;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> errors;
  int accepted = 0;
  int rejected = 0;
};

TEST_F(Form1Test, NeverRunMachineShowsTheServerDefaultsAndOkKeepsThem) {
  ASSERT_FALSE(fs::exists(dir));
  Open();
  EXPECT_TRUE(fs::is_directory(dir / "Tarvo/TarvoSrv"));
  EXPECT_EQ(ReadText(ini), "[LogKeeper]\r\nLogDir=" + logDir + "\r\n");
  EXPECT_TRUE(Box("chbLog")->isChecked());
  EXPECT_TRUE(Box("chbTen")->isChecked());
  EXPECT_FALSE(Box("chbEthernetRs")->isChecked());

  Click("Button1");
  EXPECT_EQ(accepted, 1);
  EXPECT_EQ(rejected, 0);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Key("LogKeeper", "KeepLog"), "1");
  EXPECT_EQ(Key("Main", "TenBitsForAll"), "1");
  EXPECT_EQ(Key("Main", "EthernetRs"), "0");
  EXPECT_EQ(Key("LogKeeper", "LogDir"), logDir);
  // The server starts as it would have without the file.
  const TServerSettings s = ReadServerSettings(ini.string());
  EXPECT_TRUE(s.KeepLog);
  EXPECT_TRUE(s.TenBitsForAll);
  EXPECT_FALSE(s.EthernetRs);
}

TEST_F(Form1Test, BoxesShowTheKeysAsTheServerReadsThemAndOkWritesThemAsBooleans) {
  struct Case {
    const char* file;
    bool log, ten, ethernet;
  };
  const Case cases[] = {
      {"[Main]\r\nHighPriority=1\r\n", true, true, false},
      {"[LogKeeper]\r\nKeepLog=0\r\n[Main]\r\nTenBitsForAll=0\r\nEthernetRs=1\r\n", false, false,
       true},
      {"[LogKeeper]\r\nKeepLog=1\r\n[Main]\r\nTenBitsForAll=1\r\nEthernetRs=0\r\n", true, true,
       false},
      {"[LogKeeper]\r\nKeepLog=5\r\n[Main]\r\nTenBitsForAll=-1\r\nEthernetRs=5\r\n", true, true,
       true},
      // Not integers: the default, as in the server.
      {"[LogKeeper]\r\nKeepLog=no\r\n[Main]\r\nTenBitsForAll=\r\nEthernetRs=true\r\n", true, true,
       false},
      {"[logkeeper]\r\nkeeplog=0\r\n[MAIN]\r\ntenbitsforall=0\r\nETHERNETRS=$1\r\n", false, false,
       true},
      // Each key counts only in its own section.
      {"[Main]\r\nKeepLog=0\r\n[LogKeeper]\r\nTenBitsForAll=0\r\nEthernetRs=1\r\n", true, true,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    WriteText(ini, c.file);
    const TServerSettings server = ReadServerSettings(ini.string());
    Open();
    EXPECT_EQ(Box("chbLog")->isChecked(), c.log);
    EXPECT_EQ(Box("chbTen")->isChecked(), c.ten);
    EXPECT_EQ(Box("chbEthernetRs")->isChecked(), c.ethernet);
    EXPECT_EQ(Box("chbLog")->isChecked(), server.KeepLog);
    EXPECT_EQ(Box("chbTen")->isChecked(), server.TenBitsForAll);
    EXPECT_EQ(Box("chbEthernetRs")->isChecked(), server.EthernetRs);

    Click("Button1");
    EXPECT_EQ(Key("LogKeeper", "KeepLog"), c.log ? "1" : "0");
    EXPECT_EQ(Key("Main", "TenBitsForAll"), c.ten ? "1" : "0");
    EXPECT_EQ(Key("Main", "EthernetRs"), c.ethernet ? "1" : "0");
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(Form1Test, OkWritesTheBoxesAsSetAndKeepsTheRestOfTheFile) {
  WriteText(ini,
            "[Main]\r\nHighPriority=1\r\n[Com]\r\nByteTimeoutMultiplier=12\r\n"
            "[Ports]\r\nCOM1=/dev/ttyUSB0\r\n"
            "[LogKeeper]\r\nNoDebugMessages=0\r\nKeepLog=1\r\n");
  IniFile(ini.string()).WriteString("LogKeeper", "LogDir", "/srv/журналы");  // 1251 on disk
  Open();
  Box("chbLog")->click();
  Box("chbTen")->click();
  Box("chbEthernetRs")->click();
  Click("Button1");
  EXPECT_EQ(accepted, 1);
  EXPECT_EQ(Key("LogKeeper", "KeepLog"), "0");
  EXPECT_EQ(Key("Main", "TenBitsForAll"), "0");
  EXPECT_EQ(Key("Main", "EthernetRs"), "1");
  EXPECT_EQ(Key("LogKeeper", "LogDir"), "/srv/журналы");
  EXPECT_EQ(Key("LogKeeper", "NoDebugMessages"), "0");
  EXPECT_EQ(Key("Main", "HighPriority"), "1");
  EXPECT_EQ(Key("Com", "ByteTimeoutMultiplier"), "12");
  EXPECT_EQ(Key("Ports", "COM1"), "/dev/ttyUSB0");
}

TEST_F(Form1Test, EveryWayOutButOkLeavesTheFileAsOpened) {
  const std::string original =
      "; the server's switches\r\n[Main]\r\nTenBitsForAll=0\r\n[LogKeeper]\r\nKeepLog=0\r\n";
  // What opening makes of it: LogDir added, nothing else.
  WriteText(ini, original);
  IniFile(ini.string()).WriteString("LogKeeper", "LogDir", logDir);
  const std::string opened = ReadText(ini);

  // What a key does to the dialog, as the window system would deliver it.
  const auto press = [this](Qt::Key k) {
    QKeyEvent key(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &key);
  };
  struct Way {
    const char* name;
    std::function<void()> leave;
    bool accepts;
  };
  const Way ways[] = {
      {"Отмена", [this] { Click("Button2"); }, false},
      {"Escape", [&] { press(Qt::Key_Escape); }, false},
      {"window closed", [this] { form->close(); }, false},
      {"Enter", [&] { press(Qt::Key_Return); }, true},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    WriteText(ini, original);
    accepted = rejected = 0;
    Open().show();
    EXPECT_EQ(ReadText(ini), opened);
    Box("chbLog")->click();
    Box("chbEthernetRs")->click();
    way.leave();
    EXPECT_EQ(accepted, way.accepts ? 1 : 0);
    EXPECT_EQ(rejected, way.accepts ? 0 : 1);
    EXPECT_FALSE(form->isVisible());
    if (way.accepts) {
      EXPECT_EQ(Key("LogKeeper", "KeepLog"), "1");
      EXPECT_EQ(Key("Main", "EthernetRs"), "1");
    } else {
      EXPECT_EQ(ReadText(ini), opened);
    }
  }

  // A LogDir already there is written back unchanged: the file is not touched at all.
  WriteText(ini, opened);
  Open();
  Click("Button2");
  EXPECT_EQ(ReadText(ini), opened);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Form1Test, AFileThatCannotBeWrittenIsReportedAndTheDialogStaysOpen) {
  fs::create_directories(ini);  // a folder where the file should be
  Open().show();
  // Opening writes LogDir back, which fails the same way; the dialog opens regardless.
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Cannot write settings file " + ini.string()), std::string::npos)
      << errors[0];
  EXPECT_TRUE(Box("chbLog")->isChecked());
  EXPECT_TRUE(Box("chbTen")->isChecked());
  EXPECT_FALSE(Box("chbEthernetRs")->isChecked());

  Click("Button1");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[1].find(ini.string()), std::string::npos) << errors[1];
  EXPECT_EQ(accepted, 0);
  EXPECT_TRUE(form->isVisible());
  Click("Button2");
  EXPECT_EQ(rejected, 1);
}

TEST_F(Form1Test, OkThatFailsCanBeRepeatedOnceTheFileIsWritable) {
  Open().show();
  ASSERT_TRUE(errors.empty());
  fs::remove(ini);
  fs::create_directories(ini);
  Click("Button1");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find(ini.string()), std::string::npos) << errors[0];
  EXPECT_EQ(accepted, 0);
  EXPECT_TRUE(form->isVisible());

  fs::remove(ini);
  Click("Button1");
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(accepted, 1);
  EXPECT_EQ(Key("LogKeeper", "KeepLog"), "1");
  EXPECT_EQ(Key("Main", "EthernetRs"), "0");
}

TEST_F(Form1Test, ControlsCarryTheirNamesAndTexts) {
  TForm1& f = Open();
  EXPECT_EQ(f.windowTitle().toStdString(), "Конфигуратор для Сервера");
  EXPECT_EQ(f.size(), QSize(610, 230));
  EXPECT_EQ(f.minimumSize(), f.maximumSize());  // not resizable
  EXPECT_EQ(f.windowType(), Qt::Tool);
  EXPECT_TRUE(f.windowFlags().testFlag(Qt::WindowSystemMenuHint));
  EXPECT_TRUE(f.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
  EXPECT_FALSE(f.windowFlags().testFlag(Qt::WindowMinMaxButtonsHint));
  EXPECT_EQ(f.font().family().toStdString(), "Tahoma");  // as asked for; a fallback may draw it
  EXPECT_EQ(f.font().pointSize(), 8);

  EXPECT_EQ(Box("chbLog")->text().toStdString(), "Вести логи");
  EXPECT_EQ(Box("chbTen")->text().toStdString(), "Конвертер USB/RS-232 (RS-485)");
  EXPECT_EQ(Box("chbEthernetRs")->text().toStdString(), "Конвертер Ethernet/RS-232 (RS-485)");

  QPushButton* ok = Find<QPushButton>("Button1");
  QPushButton* cancel = Find<QPushButton>("Button2");
  EXPECT_EQ(ok->text().toStdString(), "Ok");
  EXPECT_EQ(cancel->text().toStdString(), "Отмена");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_FALSE(cancel->isDefault());
  EXPECT_LT(cancel->geometry().right(), 610 / 2);
  EXPECT_GT(ok->geometry().left(), 610 / 2);
  EXPECT_GT(ok->geometry().top(), 230 * 3 / 4);
  EXPECT_EQ(ok->geometry().top(), cancel->geometry().top());

  std::vector<std::string> texts;
  std::string warning;
  for (const QLabel* label : f.findChildren<QLabel*>()) {
    texts.push_back(label->text().toStdString());
    if (label->font().bold()) warning = texts.back();
  }
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Включает ведение логов:",
                       "Windows XP/2000: C:\\Documents and Settings\\All Users\\Application Data",
                       "Windows Vista и младше: C:\\ProgramData",
                       "Включите эту опцию, если вы используете для\nсвязи с приборами переходник "
                       "USB-COM, и во время\nработы выдаются сплошные ошибки. (Всегда 10 бит)",
                       "Включите эту опцию, если для связи вы используете\nадаптер Ethernet/RS-232 "
                       "(RS-485) (например, Moxa),\nи связь при этом крайне нестабильна",
                       "Важно! Перед применением настроек остановите сервер (отключившись от него "
                       "всеми клиентами)",
                   }));
  EXPECT_EQ(warning, texts.back());
  int separators = 0;
  for (const QFrame* frame : f.findChildren<QFrame*>()) {
    if (frame->frameShape() == QFrame::HLine) ++separators;
  }
  EXPECT_EQ(separators, 2);
}

TEST_F(Form1Test, EveryTextFitsItsControlAndTheDialogOpensCentred) {
  TForm1& f = Open();
  f.show();
  const QRect client(0, 0, 610, 230);
  for (const QWidget* w : f.findChildren<QWidget*>()) {
    if (w->objectName().startsWith("qt_")) continue;  // Qt's own helpers, if any
    SCOPED_TRACE(w->objectName().toStdString());
    EXPECT_TRUE(client.contains(w->geometry())) << w->geometry().x() << "," << w->geometry().y();
    // The warning may wrap: a stand-in for Tahoma is often wider.
    if (const auto* label = qobject_cast<const QLabel*>(w); label && label->wordWrap()) {
      EXPECT_LE(label->heightForWidth(label->width()), label->height());
    } else if (qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w)) {
      EXPECT_LE(w->sizeHint().width(), w->width());
      EXPECT_LE(w->sizeHint().height(), w->height());
    }
  }
  const QRect screen = f.screen()->availableGeometry();
  EXPECT_LE((f.frameGeometry().center() - screen.center()).manhattanLength(), 4)
      << f.frameGeometry().x() << "," << f.frameGeometry().y();
}

}  // namespace
}  // namespace tarvo
