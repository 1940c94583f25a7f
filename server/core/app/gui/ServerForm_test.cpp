#include "server/core/app/gui/ServerForm.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/core/app/gui/LVServerFrame.h"

namespace tarvo {
namespace {

class FakeServerView : public IServerView {
 public:
  std::vector<std::string> TransportNames() override {
    std::lock_guard guard(lock);
    return transports;
  }
  std::vector<std::string> MasterNames() override {
    std::lock_guard guard(lock);
    return masters;
  }
  void Set(std::vector<std::string> t, std::vector<std::string> m) {
    std::lock_guard guard(lock);
    transports = std::move(t);
    masters = std::move(m);
  }

 private:
  std::mutex lock;
  std::vector<std::string> transports;
  std::vector<std::string> masters;
};

// Runs the event loop until done() holds; false after a generous time-out.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::vector<std::string> Column(QTreeWidget* list, int column) {
  std::vector<std::string> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    out.push_back(list->topLevelItem(i)->text(column).toStdString());
  return out;
}

class ServerFormTest : public testing::Test {
 protected:
  // Captions are matched one level at a time: "Ввода/вывода" holds a slash of its own.
  QTreeWidgetItem* Node(const std::string& caption) {
    return Child(form.FrameSelectionTV()->invisibleRootItem(), caption);
  }
  QTreeWidgetItem* Child(const std::string& parent, const std::string& caption) {
    return Child(Node(parent), caption);
  }
  static QTreeWidgetItem* Child(QTreeWidgetItem* parent, const std::string& caption) {
    for (int i = 0; parent && i < parent->childCount(); ++i)
      if (parent->child(i)->text(0).toStdString() == caption) return parent->child(i);
    return nullptr;
  }
  void Select(QTreeWidgetItem* node) {
    ASSERT_NE(node, nullptr);
    form.FrameSelectionTV()->setCurrentItem(node);
  }
  QTreeWidget* List() {
    auto* frame = dynamic_cast<TLVServerFrame*>(form.CurrentFrame());
    return frame ? frame->ListView() : nullptr;
  }
  QAction* Action(const char* name) { return form.findChild<QAction*>(name); }

  FakeServerView view;
  TServerForm form{&view};
};

TEST_F(ServerFormTest, CloseButtonIsRefused) {
  EXPECT_EQ(form.windowTitle(), "Tarvo Brannic 2");
  form.show();
  QCloseEvent close;
  QApplication::sendEvent(&form, &close);
  EXPECT_FALSE(close.isAccepted());
  EXPECT_FALSE(form.close());
  EXPECT_TRUE(form.isVisible());
}

TEST_F(ServerFormTest, ExitEndsTheEventLoopEvenWithTheWindowShown) {
  int exits = 0;
  QObject::connect(&form, &TServerForm::exitRequested, [&] {
    ++exits;
    QCoreApplication::quit();
  });
  form.show();
  QTimer::singleShot(0, &form, [this] { Action("ExitItem")->trigger(); });
  // A quit that a refused close could cancel would leave the loop running until this fires.
  QTimer::singleShot(5000, &form, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_EQ(exits, 1);
}

TEST_F(ServerFormTest, MenusTextsAndEnabledStates) {
  struct Item {
    std::string text;
    bool enabled;
  };
  struct MenuCase {
    std::string title;
    std::vector<Item> items;
  };
  const std::vector<MenuCase> expected = {
      {"&Управление", {{"Выход", true}}},
      {"&Журналы", {{"Вести журнал", false}, {"Очистить журналы", false}, {"Показать", true}}},
      {"?", {{"Версия...", false}}},
  };
  const QList<QAction*> menus = form.menuBar()->actions();
  ASSERT_EQ(menus.size(), static_cast<qsizetype>(expected.size()));
  for (std::size_t m = 0; m < expected.size(); ++m) {
    EXPECT_EQ(menus[m]->text().toStdString(), expected[m].title);
    ASSERT_NE(menus[m]->menu(), nullptr);
    const QList<QAction*> items = menus[m]->menu()->actions();
    ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].items.size())) << expected[m].title;
    for (qsizetype i = 0; i < items.size(); ++i) {
      const Item& want = expected[m].items[static_cast<std::size_t>(i)];
      EXPECT_EQ(items[i]->text().toStdString(), want.text);
      EXPECT_EQ(items[i]->isEnabled(), want.enabled) << want.text;
    }
  }
}

TEST_F(ServerFormTest, TreeNodesOrderAndFrameTypes) {
  struct NodeRow {
    int depth;
    std::string caption;
    int type;
    bool operator==(const NodeRow&) const = default;
  };
  std::vector<NodeRow> rows;
  std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* node, int depth) {
    for (int i = 0; i < node->childCount(); ++i) {
      QTreeWidgetItem* c = node->child(i);
      rows.push_back(
          {depth, c->text(0).toStdString(), c->data(0, TServerForm::kFrameTypeRole).toInt()});
      walk(c, depth + 1);
    }
  };
  ASSERT_EQ(form.FrameSelectionTV()->objectName(), "FrameSelectionTV");
  walk(form.FrameSelectionTV()->invisibleRootItem(), 0);
  const std::vector<NodeRow> expected = {
      {0, "Журнал", ftObjList},  {1, "Действий", ftActionLog}, {1, "Ввода/вывода", ftIOLog},
      {0, "Мастеры", ftObjList}, {0, "Транспорты", ftObjList}, {0, "Diag", ftDiag},
  };
  EXPECT_EQ(rows, expected);
}

TEST_F(ServerFormTest, SelectingANodeReplacesTheFrame) {
  struct SelectCase {
    std::function<QTreeWidgetItem*()> node;
    const char* name;
    int frameType;  // -1: no frame
    int columns;
  };
  const std::vector<SelectCase> cases = {
      {[&] { return Child("Журнал", "Действий"); }, "actions", ftActionLog, 4},
      {[&] { return Child("Журнал", "Ввода/вывода"); }, "io", ftIOLog, 6},
      {[&] { return Node("Мастеры"); }, "masters", ftObjList, 1},
      {[&] { return Node("Diag"); }, "diag", -1, 0},
      {[&] { return Node("Журнал"); }, "log", ftObjList, 1},
  };
  QPointer<TBaseServerFrame> previous;
  for (const SelectCase& c : cases) {
    Select(c.node());
    EXPECT_TRUE(previous.isNull()) << c.name << ": the old frame is still alive";
    if (c.frameType < 0) {
      EXPECT_EQ(form.CurrentFrame(), nullptr) << c.name;
      continue;
    }
    ASSERT_NE(List(), nullptr) << c.name;
    EXPECT_EQ(form.CurrentFrame()->FrameType(), c.frameType) << c.name;
    EXPECT_EQ(List()->columnCount(), c.columns) << c.name;
    previous = form.CurrentFrame();
  }
  // The log node lists what it holds.
  EXPECT_EQ(Column(List(), 0), (std::vector<std::string>{"Действий", "Ввода/вывода"}));
}

TEST_F(ServerFormTest, RowsPostedFromAnotherThreadReachTheirFrames) {
  Select(Child("Журнал", "Действий"));
  std::thread worker([&] {
    for (int i = 1; i <= 3; ++i)
      form.PostActionRow(
          {std::to_string(i), "01.02.2024 10:00:0" + std::to_string(i), "Действие", "доп"});
    form.PostIORow({"1", "t", "1234", "In", "OK", "01 03 02 00 0A 38 43 "});
    form.PostIORow({"2", "t", "1234", "Out", "Err"});  // a short row leaves the rest empty
  });
  worker.join();
  ASSERT_TRUE(SpinUntil([&] { return List()->topLevelItemCount() == 3; }));
  EXPECT_EQ(Column(List(), 0), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Column(List(), 2), (std::vector<std::string>{"Действие", "Действие", "Действие"}));
  EXPECT_EQ(List()->currentItem(), List()->topLevelItem(2));

  // The other log was kept while its frame was not shown.
  Select(Child("Журнал", "Ввода/вывода"));
  EXPECT_EQ(Column(List(), 3), (std::vector<std::string>{"In", "Out"}));
  EXPECT_EQ(Column(List(), 5), (std::vector<std::string>{"01 03 02 00 0A 38 43 ", ""}));
}

TEST_F(ServerFormTest, KeepsOnlyTheLastRowsOfALog) {
  const int extra = 5;
  std::thread worker([&] {
    for (int i = 1; i <= TServerForm::kMaxLogRows + extra; ++i)
      form.PostActionRow({std::to_string(i), "t", "a", ""});
  });
  worker.join();
  Select(Node("Diag"));
  QCoreApplication::processEvents();
  Select(Child("Журнал", "Действий"));
  ASSERT_EQ(List()->topLevelItemCount(), TServerForm::kMaxLogRows);
  EXPECT_EQ(List()->topLevelItem(0)->text(0).toStdString(), std::to_string(extra + 1));
  // A frame that stays open is held to the same count.
  form.PostActionRow({"next", "t", "a", ""});
  ASSERT_TRUE(SpinUntil([&] { return List()->currentItem()->text(0) == "next"; }));
  EXPECT_EQ(List()->topLevelItemCount(), TServerForm::kMaxLogRows);
}

TEST_F(ServerFormTest, ShowRebuildsTheTransportChildren) {
  auto children = [&] {
    std::vector<std::string> names;
    QTreeWidgetItem* node = Node("Транспорты");
    for (int i = 0; i < node->childCount(); ++i) {
      names.push_back(node->child(i)->text(0).toStdString());
      EXPECT_EQ(node->child(i)->data(0, TServerForm::kFrameTypeRole).toInt(), ftTransport);
    }
    return names;
  };
  view.Set({"TRS232Transport", "TRS485Transport", "TRS232Transport"}, {});
  EXPECT_TRUE(children().empty());
  Action("ShowItem")->trigger();
  EXPECT_EQ(children(),
            (std::vector<std::string>{"TRS232Transport", "TRS485Transport", "TRS232Transport"}));

  // Rebuilding while one of the old children is selected.
  Select(Node("Транспорты")->child(1));
  view.Set({"TRS485Transport"}, {});
  Action("ShowItem")->trigger();
  EXPECT_EQ(children(), (std::vector<std::string>{"TRS485Transport"}));
  EXPECT_EQ(form.FrameSelectionTV()->currentItem(), Node("Транспорты"));
  ASSERT_NE(List(), nullptr);
  EXPECT_EQ(Column(List(), 0), (std::vector<std::string>{"TRS485Transport"}));
}

TEST_F(ServerFormTest, ObjectListsFollowTheServer) {
  view.Set({"TRS232Transport"}, {"TModBusMaster"});
  form.show();
  Select(Node("Мастеры"));
  EXPECT_EQ(Column(List(), 0), (std::vector<std::string>{"TModBusMaster"}));
  view.Set({"TRS232Transport"}, {"TModBusMaster", "TModBusMaster"});
  EXPECT_TRUE(SpinUntil([&] { return List()->topLevelItemCount() == 2; }));
  Select(Node("Транспорты"));
  EXPECT_EQ(Column(List(), 0), (std::vector<std::string>{"TRS232Transport"}));
}

TEST_F(ServerFormTest, PlacesItselfAtTheBottomRight) {
  EXPECT_EQ(TServerForm::BottomRightPlace({0, 0, 1920, 1080}, {400, 300}), QPoint(1510, 740));
  EXPECT_EQ(TServerForm::BottomRightPlace({100, 30, 1280, 994}, {500, 320}), QPoint(870, 664));
  form.show();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(form.frameGeometry().topLeft(),
            TServerForm::BottomRightPlace(screen, form.frameGeometry().size()));
}

TEST_F(ServerFormTest, TrayIconClickBringsTheHiddenWindowUp) {
  QSystemTrayIcon* tray = form.TrayIcon();
  ASSERT_NE(tray, nullptr);
  ASSERT_NE(tray->contextMenu(), nullptr);
  EXPECT_TRUE(tray->contextMenu()->actions().isEmpty());
  EXPECT_FALSE(tray->icon().isNull());
  EXPECT_FALSE(form.isVisible());
  emit tray->activated(QSystemTrayIcon::Context);
  EXPECT_FALSE(form.isVisible());
  emit tray->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(form.isVisible());
  form.hide();
  emit tray->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(form.isVisible());
}

}  // namespace
}  // namespace tarvo
