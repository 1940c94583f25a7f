#pragma once
// A frame holding one report-style list: object names or log lines, newest at the bottom.

#include <QTreeWidget>

#include "server/core/app/gui/BaseServerFrame.h"

namespace tarvo {

class TLVServerFrame : public TBaseServerFrame {
 public:
  // The image index of a row sits in this role of its first column (the list has no image list
  // yet, so nothing is drawn from it).
  static constexpr int kImageIndexRole = Qt::UserRole;

  explicit TLVServerFrame(QWidget* parent = nullptr);

  // Sets the columns of the type and drops every row. Types without a list get no columns.
  void Init(TServerFrameType type) override;
  // row: a one-dimensional array; its first N elements are the texts of the N columns, element
  // N the image index. Missing elements give empty texts and image index -1; an element that
  // does not convert to text gives an empty text. Anything but a 1-D array is ignored. The new
  // row is scrolled into view and selected.
  void Process(const Variant& row) override;
  void Clear();

  // The oldest rows are dropped beyond this many; 0 keeps every row.
  void SetRowLimit(int limit) { FRowLimit = limit; }

  QTreeWidget* ListView() const { return FListView; }

 private:
  QTreeWidget* FListView;
  int FRowLimit = 0;
};

}  // namespace tarvo
