#pragma once
// TLastErr: keeps the text of the last error raised through it (number parsing reports this way).

#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant/Variant.h"

namespace tarvo {

class TLastErr {
 public:
  // The one object of the program.
  static TLastErr& Instance();

  // Stores the text (an empty one keeps the previous text) and raises std::runtime_error with
  // the stored text.
  [[noreturn]] void RaiseError(std::string_view text);
  // The text is StdFormat(format, args); a format that does not fit raises EFormatError.
  [[noreturn]] void RaiseErrorFmt(std::string_view format, const std::vector<Variant>& args);

  std::string Text() const;

 private:
  mutable std::mutex lock_;
  std::string text_;
};

}  // namespace tarvo
