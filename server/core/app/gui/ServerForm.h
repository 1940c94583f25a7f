#pragma once
// The server's small window: a tree of what can be shown, the frame of the chosen node, and a
// tray icon that brings the window up. The server runs with it hidden; closing it is refused.

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sync/RecursiveLock.h"
#include "server/core/app/gui/BaseServerFrame.h"
#include "server/core/app/gui/ServerView.h"

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

namespace tarvo {

class TServerForm : public QMainWindow {
  Q_OBJECT

 public:
  // Each tree node keeps its TServerFrameType in this role of its column 0.
  static constexpr int kFrameTypeRole = Qt::UserRole;
  // How many rows of each log the window keeps and shows.
  static constexpr int kMaxLogRows = 1000;
  static constexpr int kObjListRefreshMs = 1000;

  // view may be null (the lists of masters and transports stay empty); it must outlive the form.
  explicit TServerForm(IServerView* view = nullptr, QWidget* parent = nullptr);
  ~TServerForm() override;

  // Callable from any thread while the form lives: the row is queued and reaches the window's
  // thread in a posted call. cols: №, Дата/Время, Действие, Дополнительно.
  void PostActionRow(std::vector<std::string> cols);
  // cols: №, Дата/Время, ID канала, Действие, Результат, Данные.
  void PostIORow(std::vector<std::string> cols);

  // "Показать": one child of "Транспорты" per live transport, in order, named by its class.
  void ShowTransports();
  // What a click on the tray icon does: the hidden window comes up in front.
  void ShowAndRaise();

  // The window's place at the bottom right of the screen area.
  static QPoint BottomRightPlace(const QRect& screen, const QSize& window);

  QTreeWidget* FrameSelectionTV() const { return FFrameSelectionTV; }
  // The frame beside the tree; null when the selected node has none.
  TBaseServerFrame* CurrentFrame() const { return FFrame; }
  QSystemTrayIcon* TrayIcon() const { return FTrayIcon; }

 signals:
  // "Выход": the only way the server ends from its window.
  void exitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  enum class LogKind { Action, IO };
  using Row = std::vector<std::string>;

  void CreateMenus();
  void CreateTree();
  void CreateTray();
  void SelectFrame(QTreeWidgetItem* node);
  void Post(LogKind kind, Row cols);
  void FlushPending();
  void FeedFrame(LogKind kind, const std::deque<Row>& rows);
  void RefreshObjList();
  std::vector<std::string> ObjListNames(QTreeWidgetItem* node) const;

  IServerView* FView;
  QTreeWidget* FFrameSelectionTV = nullptr;
  QTreeWidgetItem* FMastersNode = nullptr;
  QTreeWidgetItem* FTransportsNode = nullptr;
  QWidget* FFrameHost = nullptr;
  QVBoxLayout* FFrameLayout = nullptr;
  QSystemTrayIcon* FTrayIcon = nullptr;
  QMenu* FTrayMenu = nullptr;
  QTimer FRefreshTimer;
  bool FExiting = false;

  // Guards the frame shown and what it shows.
  RecursiveLock FLock;
  TBaseServerFrame* FFrame = nullptr;
  QTreeWidgetItem* FShownNode = nullptr;  // the node of an object-list frame
  std::vector<std::string> FShownNames;
  std::deque<Row> FActionRows;
  std::deque<Row> FIORows;

  // Rows queued by other threads; one posted call drains them all.
  std::mutex FPendingLock;
  std::deque<Row> FPendingAction;
  std::deque<Row> FPendingIO;
  bool FFlushPosted = false;
};

}  // namespace tarvo
