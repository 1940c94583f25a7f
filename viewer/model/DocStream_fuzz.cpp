// Reads stored elements from arbitrary bytes. The first byte picks the reader; what a reader
// accepts must write out and read back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "viewer/model/CustomFormat.h"
#include "viewer/model/DocStream.h"
#include "viewer/model/Log.h"
#include "viewer/model/StdFormat.h"

namespace {

using tarvo::TDocStream;

void Check(bool ok) {
  if (!ok) std::abort();
}

void Variants(std::string bytes) {
  TDocStream in(std::move(bytes));
  try {
    while (in.Remaining() > 0) {
      const tarvo::Variant v = in.ReadVariant();
      (void)tarvo::LogColumnText(v, static_cast<std::int32_t>(in.Remaining() % 50));
      TDocStream once;
      once.WriteVariant(v);
      TDocStream back(once.Bytes());
      TDocStream twice;
      twice.WriteVariant(back.ReadVariant());
      Check(back.Remaining() == 0 && twice.Bytes() == once.Bytes());
    }
  } catch (const tarvo::EDocStreamError&) {
  }
}

void Primitives(std::string bytes) {
  TDocStream in(std::move(bytes));
  try {
    while (in.Remaining() > 0) {
      switch (in.ReadByte() % 6) {
        case 0: (void)in.ReadString(); break;
        case 1: (void)in.ReadFont(); break;
        case 2: (void)in.ReadDouble(); break;
        case 3: (void)in.ReadSingle(); break;
        case 4: (void)in.Read64(); break;
        default: (void)in.ReadInteger(); break;
      }
    }
  } catch (const tarvo::EDocStreamError&) {
  }
}

void LogDesc(std::string bytes) {
  TDocStream in(std::move(bytes));
  tarvo::TLogDesc d;
  try {
    d.LoadFromStream(in);
  } catch (const tarvo::EDocStreamError&) {
    return;
  }
  TDocStream out;
  try {
    d.SaveToStream(out);
  } catch (const std::length_error&) {
    return;  // a custom-format text that grew past 255 bytes once converted back to 1251
  }
  TDocStream back(out.Bytes());
  tarvo::TLogDesc again;
  again.LoadFromStream(back);
  Check(again == d);
}

void Format(std::string_view bytes) {
  const std::string format(bytes.substr(0, 64));
  try {
    (void)tarvo::StdFormat(format, {tarvo::Variant(std::int32_t{-7}), tarvo::Variant(1.5e300),
                                    tarvo::Variant("текст"), tarvo::Variant(std::uint16_t{9})});
  } catch (const tarvo::EFormatError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0: Variants(body); break;
    case 1: Primitives(body); break;
    case 2: LogDesc(body); break;
    case 3: {
      if (body.size() >= tarvo::TCustomFormat::kSize) {
        const auto f = tarvo::TCustomFormat::FromBytes(
            std::span<const std::uint8_t, tarvo::TCustomFormat::kSize>(data + 1, tarvo::TCustomFormat::kSize));
        try {
          Check(tarvo::TCustomFormat::FromBytes(f.ToBytes()) == f);
        } catch (const std::length_error&) {
        }
      }
      break;
    }
    default: Format(body); break;
  }
  return 0;
}
