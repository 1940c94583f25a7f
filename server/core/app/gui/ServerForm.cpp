#include "server/core/app/gui/ServerForm.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <utility>

#include "server/core/app/gui/LVServerFrame.h"
#include "server/core/app/gui/ServerIcon.h"

namespace tarvo {

namespace {

constexpr int kActionColumns = 4;
constexpr int kIOColumns = 6;

// The row array a list-view frame takes: the column texts, then the image index (none here).
Variant RowToVariant(const std::vector<std::string>& cols, int columns) {
  SafeArray a(VT_VARIANT, 0, static_cast<std::uint32_t>(columns + 1));
  for (int k = 0; k < columns && k < static_cast<int>(cols.size()); ++k) a.Set(k, Variant(cols[k]));
  a.Set(columns, Variant::Int(-1));
  return Variant(std::move(a));
}

template <typename T>
void PushLimited(std::deque<T>& rows, T row) {
  rows.push_back(std::move(row));
  while (rows.size() > static_cast<std::size_t>(TServerForm::kMaxLogRows)) rows.pop_front();
}

QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const char* caption, TServerFrameType type) {
  auto* node = new QTreeWidgetItem(parent, QStringList{QString::fromUtf8(caption)});
  node->setData(0, TServerForm::kFrameTypeRole, static_cast<int>(type));
  return node;
}

}  // namespace

TServerForm::TServerForm(IServerView* view, QWidget* parent) : QMainWindow(parent), FView(view) {
  setObjectName("ServerForm");
  setWindowTitle(QString::fromUtf8("Tarvo Brannic 2"));
  setWindowIcon(MakeServerIcon());
  resize(520, 320);

  CreateMenus();
  CreateTree();

  FFrameHost = new QWidget;
  FFrameHost->setObjectName("FrameHost");
  FFrameLayout = new QVBoxLayout(FFrameHost);
  FFrameLayout->setContentsMargins(0, 0, 0, 0);

  auto* splitter = new QSplitter(Qt::Horizontal);
  splitter->addWidget(FFrameSelectionTV);
  splitter->addWidget(FFrameHost);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({140, 380});
  setCentralWidget(splitter);

  auto* panel = new QLabel;
  panel->setObjectName("StatusPanel");
  panel->setFixedWidth(100);
  statusBar()->setObjectName("StatusBar");
  statusBar()->addWidget(panel);

  CreateTray();

  FRefreshTimer.setInterval(kObjListRefreshMs);
  connect(&FRefreshTimer, &QTimer::timeout, this, [this] {
    if (isVisible()) RefreshObjList();
  });
}

TServerForm::~TServerForm() {
  // The tree's signals must not reach SelectFrame while the children are torn down.
  FFrameSelectionTV->disconnect(this);
}

void TServerForm::CreateMenus() {
  QMenu* control = menuBar()->addMenu(QString::fromUtf8("&Управление"));
  control->setObjectName("ControlMenu");
  QAction* exitItem = control->addAction(QString::fromUtf8("Выход"));
  exitItem->setObjectName("ExitItem");
  connect(exitItem, &QAction::triggered, this, [this] {
    // From here on a close that comes with the application's quit is let through.
    FExiting = true;
    emit exitRequested();
  });

  QMenu* logs = menuBar()->addMenu(QString::fromUtf8("&Журналы"));
  logs->setObjectName("LogsMenu");
  QAction* keepLog = logs->addAction(QString::fromUtf8("Вести журнал"));
  keepLog->setObjectName("KeepLogItem");
  keepLog->setEnabled(false);
  QAction* clearLogs = logs->addAction(QString::fromUtf8("Очистить журналы"));
  clearLogs->setObjectName("ClearLogsItem");
  clearLogs->setEnabled(false);
  QAction* showItem = logs->addAction(QString::fromUtf8("Показать"));
  showItem->setObjectName("ShowItem");
  connect(showItem, &QAction::triggered, this, &TServerForm::ShowTransports);

  QMenu* help = menuBar()->addMenu(QString::fromUtf8("?"));
  help->setObjectName("HelpMenu");
  QAction* version = help->addAction(QString::fromUtf8("Версия..."));
  version->setObjectName("VersionItem");
  version->setEnabled(false);
}

void TServerForm::CreateTree() {
  FFrameSelectionTV = new QTreeWidget;
  FFrameSelectionTV->setObjectName("FrameSelectionTV");
  FFrameSelectionTV->setHeaderHidden(true);
  FFrameSelectionTV->setColumnCount(1);
  QTreeWidgetItem* root = FFrameSelectionTV->invisibleRootItem();
  QTreeWidgetItem* log = AddNode(root, "Журнал", ftObjList);
  AddNode(log, "Действий", ftActionLog);
  AddNode(log, "Ввода/вывода", ftIOLog);
  FMastersNode = AddNode(root, "Мастеры", ftObjList);
  FTransportsNode = AddNode(root, "Транспорты", ftObjList);
  AddNode(root, "Diag", ftDiag);
  log->setExpanded(true);
  connect(FFrameSelectionTV, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { SelectFrame(current); });
}

void TServerForm::CreateTray() {
  FTrayMenu = new QMenu(this);
  FTrayIcon = new QSystemTrayIcon(windowIcon(), this);
  FTrayIcon->setToolTip(windowTitle());
  FTrayIcon->setContextMenu(FTrayMenu);
  connect(FTrayIcon, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
              ShowAndRaise();
          });
  // Without a notification area the window still works; it is only never brought up by a click.
  if (QSystemTrayIcon::isSystemTrayAvailable()) FTrayIcon->show();
}

void TServerForm::ShowAndRaise() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

QPoint TServerForm::BottomRightPlace(const QRect& screen, const QSize& window) {
  return {screen.x() + screen.width() - window.width() - 10,
          screen.y() + screen.height() - window.height() - 40};
}

void TServerForm::closeEvent(QCloseEvent* event) {
  if (FExiting)
    event->accept();
  else
    event->ignore();
}

void TServerForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (event->spontaneous()) return;  // a restore from minimised keeps the user's place
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(BottomRightPlace(screen->availableGeometry(), frameGeometry().size()));
  RefreshObjList();
}

void TServerForm::SelectFrame(QTreeWidgetItem* node) {
  std::lock_guard guard(FLock);
  FRefreshTimer.stop();
  delete FFrame;
  FFrame = nullptr;
  FShownNode = nullptr;
  FShownNames.clear();
  if (!node) return;
  const int type = node->data(0, kFrameTypeRole).toInt();
  if (type < ftObjList || type > ftIOLog) return;

  auto* frame = new TLVServerFrame(FFrameHost);
  frame->setObjectName("LVServerFrame");
  frame->Init(static_cast<TServerFrameType>(type));
  frame->SetRowLimit(kMaxLogRows);
  FFrameLayout->addWidget(frame);
  FFrame = frame;
  if (type == ftActionLog) {
    FeedFrame(LogKind::Action, FActionRows);
  } else if (type == ftIOLog) {
    FeedFrame(LogKind::IO, FIORows);
  } else {
    FShownNode = node;
    RefreshObjList();
    FRefreshTimer.start();
  }
}

void TServerForm::PostActionRow(std::vector<std::string> cols) {
  Post(LogKind::Action, std::move(cols));
}

void TServerForm::PostIORow(std::vector<std::string> cols) {
  Post(LogKind::IO, std::move(cols));
}

void TServerForm::Post(LogKind kind, Row cols) {
  bool post = false;
  {
    std::lock_guard guard(FPendingLock);
    // Only the last kMaxLogRows are ever shown, so a stalled window never holds more.
    PushLimited(kind == LogKind::Action ? FPendingAction : FPendingIO, std::move(cols));
    post = !FFlushPosted;
    FFlushPosted = true;
  }
  if (post)
    QMetaObject::invokeMethod(
        this, [this] { FlushPending(); }, Qt::QueuedConnection);
}

void TServerForm::FlushPending() {
  std::deque<Row> action, io;
  {
    std::lock_guard guard(FPendingLock);
    action.swap(FPendingAction);
    io.swap(FPendingIO);
    FFlushPosted = false;
  }
  std::lock_guard guard(FLock);
  for (const Row& row : action) PushLimited(FActionRows, row);
  for (const Row& row : io) PushLimited(FIORows, row);
  FeedFrame(LogKind::Action, action);
  FeedFrame(LogKind::IO, io);
}

void TServerForm::FeedFrame(LogKind kind, const std::deque<Row>& rows) {
  const TServerFrameType type = kind == LogKind::Action ? ftActionLog : ftIOLog;
  if (!FFrame || FFrame->FrameType() != type || rows.empty()) return;
  const int columns = kind == LogKind::Action ? kActionColumns : kIOColumns;
  // One repaint for a burst instead of one per row.
  FFrame->setUpdatesEnabled(false);
  for (const Row& row : rows) FFrame->Process(RowToVariant(row, columns));
  FFrame->setUpdatesEnabled(true);
}

void TServerForm::ShowTransports() {
  std::lock_guard guard(FLock);
  // The children are about to go: a selected one hands the selection to its parent first.
  if (QTreeWidgetItem* current = FFrameSelectionTV->currentItem();
      current && current->parent() == FTransportsNode)
    FFrameSelectionTV->setCurrentItem(FTransportsNode);
  qDeleteAll(FTransportsNode->takeChildren());
  if (FView)
    for (const std::string& name : FView->TransportNames())
      AddNode(FTransportsNode, name.c_str(), ftTransport);
  FTransportsNode->setExpanded(true);
}

std::vector<std::string> TServerForm::ObjListNames(QTreeWidgetItem* node) const {
  if (node == FMastersNode) return FView ? FView->MasterNames() : std::vector<std::string>{};
  if (node == FTransportsNode) return FView ? FView->TransportNames() : std::vector<std::string>{};
  // Any other object-list node lists its own children.
  std::vector<std::string> names;
  for (int i = 0; i < node->childCount(); ++i)
    names.push_back(node->child(i)->text(0).toStdString());
  return names;
}

void TServerForm::RefreshObjList() {
  std::lock_guard guard(FLock);
  if (!FFrame || !FShownNode) return;
  std::vector<std::string> names = ObjListNames(FShownNode);
  // Unchanged lists are left alone, so the user's selection and scroll position survive.
  if (names == FShownNames) return;
  auto* frame = static_cast<TLVServerFrame*>(FFrame);
  frame->Clear();
  for (const std::string& name : names) {
    SafeArray a(VT_VARIANT, 0, 2);
    a.Set(0, Variant(name));
    a.Set(1, Variant::Int(-1));
    frame->Process(Variant(std::move(a)));
  }
  FShownNames = std::move(names);
}

}  // namespace tarvo
