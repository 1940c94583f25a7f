#include "viewer/model/LastErr.h"

#include "viewer/model/StdFormat.h"

namespace tarvo {

TLastErr& TLastErr::Instance() {
  static TLastErr instance;
  return instance;
}

void TLastErr::RaiseError(std::string_view text) {
  std::string stored;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!text.empty()) text_ = text;
    stored = text_;
  }
  throw std::runtime_error(stored);
}

void TLastErr::RaiseErrorFmt(std::string_view format, const std::vector<Variant>& args) {
  RaiseError(StdFormat(format, args));
}

std::string TLastErr::Text() const {
  std::lock_guard<std::mutex> guard(lock_);
  return text_;
}

}  // namespace tarvo
