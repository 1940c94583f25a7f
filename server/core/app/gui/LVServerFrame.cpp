#include "server/core/app/gui/LVServerFrame.h"

#include <QHeaderView>
#include <QVBoxLayout>
#include <vector>

namespace tarvo {

namespace {

struct Column {
  const char* caption;
  int width;
};

std::vector<Column> ColumnsOf(TServerFrameType type) {
  switch (type) {
    case ftObjList:
      return {{"Название", 300}};
    case ftActionLog:
      return {{"№", 60}, {"Дата/Время", 120}, {"Действие", 200}, {"Дополнительно", 100}};
    case ftIOLog:
      return {{"№", 60},         {"Дата/Время", 120}, {"ID канала", 50},
              {"Действие", 100}, {"Результат", 100},  {"Данные", 300}};
    default:
      return {};
  }
}

QString TextOf(const Variant& v) {
  try {
    return QString::fromStdString(v.ToString());
  } catch (const VariantError&) {
    return {};
  }
}

int ImageIndexOf(const Variant& v) {
  try {
    return v.IsEmpty() ? -1 : v.ToInt32();
  } catch (const VariantError&) {
    return -1;
  }
}

}  // namespace

TLVServerFrame::TLVServerFrame(QWidget* parent)
    : TBaseServerFrame(parent), FListView(new QTreeWidget(this)) {
  FListView->setObjectName("ListView");
  // A flat report: no tree decoration, whole rows selected one at a time.
  FListView->setRootIsDecorated(false);
  FListView->setItemsExpandable(false);
  FListView->setUniformRowHeights(true);
  FListView->setAllColumnsShowFocus(true);
  FListView->setSelectionMode(QAbstractItemView::SingleSelection);
  FListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  // The column widths are fixed by type; a stretched last column would not keep its width.
  FListView->header()->setStretchLastSection(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(FListView);
}

void TLVServerFrame::Init(TServerFrameType type) {
  TBaseServerFrame::Init(type);
  FListView->clear();
  const std::vector<Column> columns = ColumnsOf(type);
  QStringList captions;
  for (const Column& c : columns) captions << QString::fromUtf8(c.caption);
  FListView->setColumnCount(static_cast<int>(columns.size()));
  FListView->setHeaderLabels(captions);
  for (int i = 0; i < static_cast<int>(columns.size()); ++i)
    FListView->setColumnWidth(i, columns[i].width);
}

void TLVServerFrame::Process(const Variant& row) {
  if (!row.IsArray() || row.Dims() != 1) return;
  const SafeArray& a = row.Array();
  const int columns = FListView->columnCount();
  // Elements are counted from the array's own lower bound.
  auto element = [&a](int k) -> const Variant* {
    return static_cast<std::uint32_t>(k) < a.Count() ? &a.At(a.Lower() + k) : nullptr;
  };
  auto* item = new QTreeWidgetItem;
  for (int k = 0; k < columns; ++k)
    if (const Variant* v = element(k)) item->setText(k, TextOf(*v));
  const Variant* image = element(columns);
  item->setData(0, kImageIndexRole, image ? ImageIndexOf(*image) : -1);
  FListView->addTopLevelItem(item);
  if (FRowLimit > 0)
    while (FListView->topLevelItemCount() > FRowLimit) delete FListView->takeTopLevelItem(0);
  FListView->scrollToItem(item);
  FListView->setCurrentItem(item);
}

void TLVServerFrame::Clear() {
  FListView->clear();
}

}  // namespace tarvo
