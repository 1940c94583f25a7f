#include "viewer/model/MyFormatedFile.h"

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/text/Text.h"

namespace tarvo {

TMyFormatedFile::TMyFormatedFile(std::uint8_t kind, TCustomFormat format)
    : kind_(kind), format_(std::move(format)) {}

void TMyFormatedFile::Create(const std::string& path, bool append) {
  file_.reset();
  path_ = path;
  fieldCount_ = 0;
  std::FILE* f = std::fopen(path.c_str(), append ? "ab" : "wb");
  if (!f) throw std::system_error(errno, std::generic_category(), "Невозможно открыть файл " + path);
  file_.reset(f);
}

void TMyFormatedFile::Put(std::string_view bytes) {
  if (!file_) throw std::system_error(EBADF, std::generic_category(), "Файл не открыт");
  // Each piece is flushed so that a journal row is on disk even if the program dies next.
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size() ||
      std::fflush(file_.get()) != 0)
    throw std::system_error(errno, std::generic_category(), "Ошибка записи в файл " + path_);
}

void TMyFormatedFile::WriteField(std::string_view value) {
  const std::string text = Utf8ToCp1251(value);
  std::string out;
  switch (kind_) {
    case 0:
    case 1:
      if (fieldCount_ > 0) out.push_back(kind_ == 0 ? ',' : ';');
      out += '"' + text + '"';
      break;
    case 2:
    case 3:
      if (fieldCount_ > 0) out.push_back('\t');
      out += text;
      break;
    case 4:
      // A zero separator is what a record never edited holds; its dialog shows it as a blank,
      // so a blank is written rather than a NUL byte in a text file.
      if (fieldCount_ > 0) out.push_back(static_cast<char>(format_.Separator ? format_.Separator : ' '));
      out += Utf8ToCp1251(format_.TextBefore) + text + Utf8ToCp1251(format_.TextAfter);
      break;
    default: throw std::range_error("Журнал: Неизвестный формат файла!");
  }
  Put(out);
  ++fieldCount_;
}

void TMyFormatedFile::EndLine() {
  Put(kind_ == 4 && !format_.CrLf ? "\r" : "\r\n");
  fieldCount_ = 0;
}

void TMyFormatedFile::Close() {
  if (!file_) return;
  std::FILE* f = file_.release();
  if (std::fclose(f) != 0)
    throw std::system_error(errno, std::generic_category(), "Ошибка записи в файл " + path_);
}

}  // namespace tarvo
