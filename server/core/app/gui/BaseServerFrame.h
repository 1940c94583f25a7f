#pragma once
// The common base of the frames the server window shows beside its tree.

#include <QWidget>

#include "platform/variant/Variant.h"
#include "server/core/app/gui/ServerFrameType.h"

namespace tarvo {

class TBaseServerFrame : public QWidget {
 public:
  explicit TBaseServerFrame(QWidget* parent = nullptr) : QWidget(parent) {}

  // Sets the frame up for what it is to show; called once after construction, may be repeated.
  virtual void Init(TServerFrameType type) { FFrameType = type; }
  // Adds one record to what the frame shows; the record's layout depends on the frame type.
  virtual void Process(const Variant& row) = 0;

  TServerFrameType FrameType() const { return FFrameType; }

 private:
  TServerFrameType FFrameType = ftObjList;
};

}  // namespace tarvo
