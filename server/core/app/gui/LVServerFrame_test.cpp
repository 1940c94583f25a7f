#include "server/core/app/gui/LVServerFrame.h"

#include <gtest/gtest.h>
#include <QHeaderView>

#include <string>
#include <utility>
#include <vector>

namespace tarvo {
namespace {

struct ColumnsCase {
  TServerFrameType type;
  std::vector<std::pair<std::string, int>> columns;
};

std::vector<std::pair<std::string, int>> ColumnsOf(const TLVServerFrame& frame) {
  std::vector<std::pair<std::string, int>> out;
  QTreeWidget* list = frame.ListView();
  for (int i = 0; i < list->columnCount(); ++i)
    out.emplace_back(list->headerItem()->text(i).toStdString(), list->columnWidth(i));
  return out;
}

TEST(LVServerFrameTest, ColumnsAndWidthsPerType) {
  const std::vector<ColumnsCase> cases = {
      {ftObjList, {{"Название", 300}}},
      {ftActionLog, {{"№", 60}, {"Дата/Время", 120}, {"Действие", 200}, {"Дополнительно", 100}}},
      {ftIOLog,
       {{"№", 60},
        {"Дата/Время", 120},
        {"ID канала", 50},
        {"Действие", 100},
        {"Результат", 100},
        {"Данные", 300}}},
      {ftDiag, {}},
  };
  for (const ColumnsCase& c : cases) {
    TLVServerFrame frame;
    frame.resize(900, 200);
    // Start from another layout so that Init has to replace columns, not just add them.
    frame.Init(c.type == ftIOLog ? ftObjList : ftIOLog);
    frame.Process(Variant(SafeArray::Of(VT_VARIANT, {Variant("x")})));
    frame.Init(c.type);
    frame.show();  // widths must survive layout, where a stretched last column would change
    EXPECT_EQ(ColumnsOf(frame), c.columns) << "type " << c.type;
    EXPECT_EQ(frame.FrameType(), c.type);
    EXPECT_EQ(frame.ListView()->topLevelItemCount(), 0) << "type " << c.type;
  }
}

struct RowCase {
  const char* name;
  TServerFrameType type;
  Variant row;
  std::vector<std::string> texts;
  int image;
};

Variant Row(std::int32_t lower, std::vector<Variant> items) {
  SafeArray a(VT_VARIANT, lower, static_cast<std::uint32_t>(items.size()));
  for (std::size_t k = 0; k < items.size(); ++k)
    a.Set(lower + static_cast<std::int64_t>(k), std::move(items[k]));
  return Variant(std::move(a));
}

TEST(LVServerFrameTest, ProcessAppendsTextsAndImageIndex) {
  const Variant nested(SafeArray::Of(VT_I4, {Variant::Int(1)}));
  const std::vector<RowCase> cases = {
      {"object", ftObjList, Row(0, {"TRS232Transport", Variant::Int(3)}), {"TRS232Transport"}, 3},
      {"action",
       ftActionLog,
       Row(0, {"12", "01.02.2024 10:00:00", "Старт", "", Variant::Int(1)}),
       {"12", "01.02.2024 10:00:00", "Старт", ""},
       1},
      {"io numbers as text",
       ftIOLog,
       Row(0, {Variant::Int(7), "t", Variant::Int(1234), "In", "OK", "01 03 ", Variant::Int(2)}),
       {"7", "t", "1234", "In", "OK", "01 03 "},
       2},
      {"counted from lower bound", ftObjList, Row(1, {"first", Variant::Int(4)}), {"first"}, 4},
      {"short row", ftActionLog, Row(0, {"1", "t"}), {"1", "t", "", ""}, -1},
      {"typed string array", ftObjList, Variant(SafeArray::Of(VT_BSTR, {"a", "5"})), {"a"}, 5},
      {"unconvertible elements", ftObjList, Row(0, {nested, "bad"}), {""}, -1},
  };
  for (const RowCase& c : cases) {
    TLVServerFrame frame;
    frame.Init(c.type);
    frame.Process(c.row);
    QTreeWidget* list = frame.ListView();
    ASSERT_EQ(list->topLevelItemCount(), 1) << c.name;
    QTreeWidgetItem* item = list->topLevelItem(0);
    std::vector<std::string> texts;
    for (int i = 0; i < list->columnCount(); ++i) texts.push_back(item->text(i).toStdString());
    EXPECT_EQ(texts, c.texts) << c.name;
    EXPECT_EQ(item->data(0, TLVServerFrame::kImageIndexRole).toInt(), c.image) << c.name;
  }
}

TEST(LVServerFrameTest, IgnoresWhatIsNotARowArray) {
  TLVServerFrame frame;
  frame.Init(ftObjList);
  frame.Process(Variant("text"));
  frame.Process(Variant());
  frame.Process(Variant(SafeArray(VT_VARIANT, {{0, 2}, {0, 2}})));
  EXPECT_EQ(frame.ListView()->topLevelItemCount(), 0);
}

TEST(LVServerFrameTest, NewRowIsSelectedAndOldestDropBeyondLimit) {
  TLVServerFrame frame;
  frame.resize(400, 120);
  frame.Init(ftObjList);
  frame.SetRowLimit(3);
  frame.show();
  for (int i = 1; i <= 5; ++i)
    frame.Process(Variant(SafeArray::Of(VT_VARIANT, {Variant(std::to_string(i))})));
  QTreeWidget* list = frame.ListView();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "3");
  QTreeWidgetItem* last = list->topLevelItem(2);
  EXPECT_EQ(list->currentItem(), last);
  ASSERT_EQ(list->selectedItems().size(), 1);
  EXPECT_EQ(list->selectedItems().front(), last);
  EXPECT_TRUE(list->viewport()->rect().intersects(list->visualItemRect(last)));
}

}  // namespace
}  // namespace tarvo
