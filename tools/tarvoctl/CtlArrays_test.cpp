// The arrays tarvoctl builds, read back by the server's own readers: the request reader and
// frame builder of the ModBus codec, the master property reader, and the serial transports'
// SetProps.

#include "tools/tarvoctl/CtlArrays.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/variant/OleToVar.h"
#include "server/core/MasterProps.h"
#include "server/core/ServerFactory.h"
#include "server/modbus/ModbusCodec.h"
#include "server/modbus/ModbusRequest.h"
#include "server/transports/RS232Transport.h"
#include "server/transports/RS485Transport.h"

namespace tarvo::ctl {
namespace {

using Args = std::vector<std::string>;

Args Link(Args more) {
  Args a = {"--rs232", "/dev/ttyUSB0"};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

// RTU frames in hexadecimal; ASCII frames are their own text.
std::string FrameText(const TFrameBuf& buf, int n, TModbusMode mode) {
  if (mode == mmASCII) return std::string(buf.begin(), buf.begin() + n);
  const std::uint8_t* b = buf.data();
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (int k = 0; k < n; ++k) {
    if (k) s += ' ';
    s += digits[b[k] >> 4];
    s += digits[b[k] & 15];
  }
  return s;
}

// What a master does with the arrays: normalise the request as every automation method does,
// then read it with the master's settings.
TModbusTask ServerRead(const CtlOptions& o) {
  const Variant request = RequestArray(o);
  Variant normalised;
  EXPECT_TRUE(OleToVar(request, normalised));
  return MakeRequest(normalised, ReadModbusSettings(MasterProps(o)));
}

struct RequestCase {
  const char* name;
  Args args;
  TModBusCallType call;
  int fn;
  int dataCount;
  int dataSize;
  std::uint32_t period;
  int devAddr;
  const char* frame;  // as the server sends it
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class RequestArrays : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestArrays, ServerReadsAndFramesThem) {
  const RequestCase& c = GetParam();
  const CtlOptions o = ParseCtlOptions(c.args);
  const Variant request = RequestArray(o);
  ASSERT_TRUE(request.IsArray());
  EXPECT_EQ(request.Array().Lower(), 0);
  const TModbusTask t = ServerRead(o);
  ASSERT_FALSE(t.WrongType) << request;
  EXPECT_EQ(t.CallType, c.call);
  EXPECT_EQ(t.QID, o.qid);
  EXPECT_EQ(t.FunNum, c.fn);
  EXPECT_EQ(t.DataCount, c.dataCount);
  EXPECT_EQ(t.DataSize, c.dataSize);
  EXPECT_EQ(t.Period, c.period);
  EXPECT_EQ(t.DevAddr, c.devAddr);
  TFrameBuf buf{};
  const int n = FormQuery(buf, t);
  EXPECT_EQ(FrameText(buf, n, t.Mode), c.frame);
  // The server takes the array as it comes too, before normalisation.
  EXPECT_FALSE(MakeRequest(request, ReadModbusSettings(MasterProps(o))).WrongType);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RequestArrays,
    ::testing::Values(
        RequestCase{"ReadHolding", Link({"--read-holding", "100", "--count", "10"}),
                    mbReadHoldRegs, 3, 10, 2, 0, 1, "01 03 00 64 00 0A 84 12"},
        RequestCase{"ReadInputRecords",
                    Link({"--read-input", "0x10", "--count", "3", "--type", "u32,f32"}),
                    mbReadInputRegs, 4, 3, 8, 0, 1, "01 04 00 10 00 0C F1 CA"},
        RequestCase{"ReadBytesAdjustedToWords",
                    Link({"--read-holding", "0", "--count", "3", "--type", "i8",
                          "--adjust-to-word"}),
                    mbReadHoldRegs, 3, 3, 2, 0, 1, "01 03 00 00 00 03 05 CB"},
        RequestCase{"WriteOneRegister", Link({"--write-holding", "5", "--values", "0x1234"}),
                    mbWriteHoldRegs, 16, 1, 2, 0, 1, "01 10 00 05 00 01 02 12 34 AB 72"},
        RequestCase{"WriteOneRegisterOptimal",
                    Link({"--write-holding", "5", "--values", "0x1234", "--optimal"}),
                    mbWriteHoldRegs, 6, 1, 2, 0, 1, "01 06 00 05 12 34 94 BC"},
        RequestCase{"WriteMixedRegisters",
                    Link({"--write-holding", "5", "--values", "1,-2,1.5", "--type",
                          "u16,i16,f32"}),
                    mbWriteHoldRegs, 16, 1, 8, 0, 1,
                    "01 10 00 05 00 04 08 00 01 FF FE 3F C0 00 00 9B 45"},
        RequestCase{"ReadCoils", Link({"--read-coils", "0", "--count", "9"}), mbReadHoldCoils,
                    1, 9, 2, 0, 1, "01 01 00 00 00 09 FC 0C"},
        RequestCase{"ReadDiscrete", Link({"--read-discrete", "0x20", "--count", "16"}),
                    mbReadInputCoils, 2, 16, 2, 0, 1, "01 02 00 20 00 10 78 0C"},
        RequestCase{"WriteOneCoilOptimal",
                    Link({"--write-coils", "7", "--values", "1", "--optimal"}), mbWriteHoldCoils,
                    5, 1, 1, 0, 1, "01 05 00 07 FF 00 3D FB"},
        RequestCase{"WriteNineCoils",
                    Link({"--write-coils", "7", "--values", "1,0,1,1,0,0,0,0,1"}),
                    mbWriteHoldCoils, 15, 9, 2, 0, 1, "01 0F 00 07 00 09 02 0D 01 21 9B"},
        RequestCase{"Status", Link({"--status", "--addr", "17"}), mbReadStatus, 7, 0, 0, 0, 17,
                    "11 07 4C 22"},
        RequestCase{"PeriodicStatus", Link({"--status", "--period", "500"}), mbReadStatus, 7, 0,
                    0, 500, 1, "01 07 41 E2"},
        RequestCase{"Diagnostics", Link({"--diag", "0", "--data", "0xABCD"}), mbDiagnostics, 8,
                    0, 0, 0, 1, "01 08 00 00 AB CD 5E AE"},
        RequestCase{"DeviceName", Link({"--dev-name"}), mbGetDevName, 17, 0, 0, 0, 1,
                    "01 11 C0 2C"},
        RequestCase{"TimeArchive",
                    Link({"--arch-time", "2", "--time", "2024-03-05 06:07:08", "--count", "4",
                          "--type", "u32,f32"}),
                    mbReadTimeArch, 65, 4, 8, 0, 1,
                    "01 41 00 02 00 04 01 08 07 06 05 03 18 E9 94"},
        RequestCase{"CheckedTimeArchive",
                    Link({"--arch-time2", "1", "--time", "1999-12-31 23:59:58", "--type",
                          "u32,u16", "--time-field", "0", "--arch-type", "hour"}),
                    mbReadTimeArch2, 65, 1, 6, 0, 1,
                    "01 41 00 01 00 01 01 3A 3B 17 1F 0C 63 EC 9B"},
        RequestCase{"IndexArchive",
                    Link({"--arch-index", "3", "--index", "0x0102", "--count", "2", "--type",
                          "u16"}),
                    mbReadIndexArch, 65, 2, 2, 0, 1, "01 41 00 03 00 02 00 01 02 43 46"},
        RequestCase{"ExchangeToItsAddress",
                    Link({"--raw", "0x41", "--bytes", "01 0A FF", "--addr", "9", "--period",
                          "250"}),
                    mbExchange, 0x41, 0, 0, 250, 9, "09 41 01 0A FF FB 1D"},
        RequestCase{"Broadcast", Link({"--write-holding", "1", "--values", "2", "--addr", "0"}),
                    mbWriteHoldRegs, 16, 1, 2, 0, 0, "00 10 00 01 00 01 02 00 02 2B D0"},
        RequestCase{"AsciiFraming", Link({"--read-holding", "1", "--ascii", "--qid", "42"}),
                    mbReadHoldRegs, 3, 1, 2, 0, 1, ":010300010001FA\r\n"}));

TEST(RequestArrays, CheckedTimeArchiveCarriesTheDateAndTheCheck) {
  const CtlOptions o =
      ParseCtlOptions(Link({"--arch-time2", "1", "--time", "2024-03-05 06:07:08", "--type",
                            "u32,f32", "--time-field", "1", "--arch-type", "month"}));
  const Variant request = RequestArray(o);
  EXPECT_EQ(request.Array().At(4).vt(), VT_DATE);
  const TModbusTask t = ServerRead(o);
  ASSERT_FALSE(t.WrongType);
  EXPECT_EQ(t.ArchTime, EncodeOleDate({2024, 3, 5, 6, 7, 8, 0}));
  EXPECT_EQ(t.ArchType, 2);
  EXPECT_EQ(t.ArchTimeFieldIndex, 1);
  EXPECT_EQ(t.DataType, Variant(SafeArray::Of(VT_VARIANT, {Variant(19), Variant(4)})));
}

void Append(Variant& list, Variant item) {
  std::vector<Variant> items = list.Array().Items();
  items.push_back(std::move(item));
  list = Variant(SafeArray::Of(VT_VARIANT, std::move(items)));
}

std::string Repeat(const std::string& item, int n) {
  std::string s = item;
  for (int k = 1; k < n; ++k) s += "," + item;
  return s;
}

// The largest request the command line lets through is one the server takes, and one item more
// (built past the command line's checks) is one it refuses: both sides draw the line in the
// same place.
struct LimitCase {
  const char* name;
  Args largest;
  std::function<void(CtlOptions&)> onePast;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class RequestLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(RequestLimits, MatchTheServer) {
  const LimitCase& c = GetParam();
  CtlOptions o = ParseCtlOptions(c.largest);
  EXPECT_FALSE(ServerRead(o).WrongType);
  c.onePast(o);
  EXPECT_TRUE(ServerRead(o).WrongType);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RequestLimits,
    ::testing::Values(
        LimitCase{"Words", Link({"--read-holding", "0", "--count", "127"}),
                  [](CtlOptions& o) { ++o.request.count; }},
        LimitCase{"Floats", Link({"--read-input", "0", "--count", "63", "--type", "f32"}),
                  [](CtlOptions& o) { ++o.request.count; }},
        LimitCase{"AdjustedBytes",
                  Link({"--read-holding", "0", "--count", "127", "--type", "u8",
                        "--adjust-to-word"}),
                  [](CtlOptions& o) { ++o.request.count; }},
        LimitCase{"Bytes", Link({"--read-holding", "0", "--count", "255", "--type", "u8"}),
                  [](CtlOptions& o) { o.master.adjustToWord = true; }},
        LimitCase{"ReadCoils", Link({"--read-coils", "0", "--count", "2032"}),
                  [](CtlOptions& o) { ++o.request.count; }},
        LimitCase{"WrittenWords", Link({"--write-holding", "0", "--values", Repeat("1", 127)}),
                  [](CtlOptions& o) { Append(o.request.value, Variant(std::uint16_t{1})); }},
        LimitCase{"WrittenCoils", Link({"--write-coils", "0", "--values", Repeat("1", 2040)}),
                  [](CtlOptions& o) { Append(o.request.value, Variant(true)); }},
        LimitCase{"ArchiveRecord",
                  Link({"--arch-index", "0", "--index", "0", "--type",
                        Repeat("f32", 63) + ",u16,u8"}),
                  [](CtlOptions& o) { o.request.dataType.push_back(dtUnsignedByte); }}));

TEST(MasterProps, ReadByTheServer) {
  const CtlOptions o = ParseCtlOptions(Link({"--addr", "200", "--ascii", "--parity", "odd",
                                             "--retries", "4", "--optimal", "--status"}));
  const Variant props = MasterProps(o);
  EXPECT_EQ(props.Array().Lower(), 0);
  EXPECT_EQ(props.Array().Count(), 7u);
  EXPECT_EQ(ReadMasterType(props), mtMB);
  const TModbusSettings s = ReadModbusSettings(props);
  EXPECT_EQ(s.DevAddr, 200);
  EXPECT_EQ(s.Mode, mmASCII);
  EXPECT_EQ(s.Parity, mpOdd);
  EXPECT_EQ(s.Retries, 4);
  EXPECT_FALSE(s.AdjustToWord);
  EXPECT_TRUE(s.OptimalUseFunction);
}

class NoWorkers : public IWorkerMaker {
 public:
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t, IWorkerDirectory&) override {
    return nullptr;
  }
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t, IWorkerDirectory&) override {
    return nullptr;
  }
};

// Serial transports built without opening their port: SetProps only reads the array. The
// settings file they read lives in a folder of the test's own.
class TransportPropsTest : public ::testing::Test {
 protected:
  TransportPropsTest() {
    dir = std::filesystem::temp_directory_path() /
          ("tarvoctl-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir / "Tarvo/TarvoSrv");
    setenv("TARVO_COMMON_APPDATA", dir.c_str(), 1);
  }
  ~TransportPropsTest() override { std::filesystem::remove_all(dir); }

  std::filesystem::path dir;
  NoWorkers maker;
  TServerFactory factory{maker};
};

// The layouts as the server's own tests write them.
Variant ServerRS232(const std::string& port, int speed, int flow) {
  return Variant(SafeArray::Of(VT_VARIANT, {Variant(int(ttRS232)), Variant(port), Variant(speed),
                                            Variant(flow), Variant(1000), Variant(0),
                                            Variant(1)}));
}
Variant ServerRS485(const std::string& port, int speed) {
  return Variant(SafeArray::Of(VT_VARIANT, {Variant(int(ttRS485)), Variant(port), Variant(speed),
                                            Variant(1000), Variant(0), Variant(1)}));
}

TEST_F(TransportPropsTest, RS232ArrayReadBack) {
  const CtlOptions o = ParseCtlOptions({"--rs232", "/dev/ttyUSB0", "--baud", "19200", "--flow",
                                        "hardware", "--answer-delay", "700", "--byte-timeout",
                                        "9", "--status"});
  TRS232Transport tr(factory);
  tr.SetProps(TransportProps(o));
  EXPECT_EQ(tr.Port(), "/dev/ttyUSB0");
  EXPECT_EQ(tr.MainConnectionOptions(), "Port: /dev/ttyUSB0; Speed: 19200");
  EXPECT_EQ(tr.AnswerDelay(), 700);
  EXPECT_EQ(tr.ByteTimeout(), 9);
  EXPECT_TRUE(tr.CompareProps(ServerRS232("/dev/ttyUSB0", ts19200, cfcHardware)));
  EXPECT_FALSE(tr.CompareProps(ServerRS232("/dev/ttyUSB0", ts19200, cfcNone)));
}

TEST_F(TransportPropsTest, RS485ArrayHasNoFlowControlElement) {
  const CtlOptions o = ParseCtlOptions(
      {"--rs485", "COM2", "--baud", "4800", "--answer-delay", "300", "--dev-name"});
  const Variant props = TransportProps(o);
  EXPECT_EQ(props.Array().Lower(), 0);
  TRS485Transport tr(factory);
  tr.SetProps(props);
  EXPECT_EQ(tr.MainConnectionOptions(), "Port: COM2; Speed: 4800");
  EXPECT_EQ(tr.AnswerDelay(), 300);  // element 3 on RS-485
  EXPECT_EQ(tr.ByteTimeout(), 9);
  EXPECT_EQ(tr.LastByteTime(), 9);
  EXPECT_TRUE(tr.CompareProps(ServerRS485("COM2", ts4800)));
  EXPECT_FALSE(tr.CompareProps(ServerRS232("COM2", ts4800, cfcNone)));
}

// Each rate becomes the speed index the server turns back into that rate, and the default
// inter-byte timeout is the rate's character gap.
TEST_F(TransportPropsTest, EveryRateReachesTheServer) {
  const struct {
    int bps, gap;
  } rates[] = {{1200, 33}, {2400, 17}, {4800, 9},  {9600, 5},
               {19200, 3}, {38400, 2}, {57600, 1}, {115200, 1}};
  for (const auto& r : rates) {
    for (const char* link : {"--rs232", "--rs485"}) {
      const CtlOptions o =
          ParseCtlOptions({link, "/dev/ttyS0", "--baud", std::to_string(r.bps), "--status"});
      std::unique_ptr<TRS232Transport> tr;
      if (o.link == LinkKind::RS232) tr = std::make_unique<TRS232Transport>(factory);
      else tr = std::make_unique<TRS485Transport>(factory);
      tr->SetProps(TransportProps(o));
      EXPECT_EQ(tr->MainConnectionOptions(), "Port: /dev/ttyS0; Speed: " + std::to_string(r.bps))
          << link;
      EXPECT_EQ(tr->ByteTimeout(), r.gap) << link << " " << r.bps;
      EXPECT_EQ(tr->AnswerDelay(), 1000) << link;
    }
  }
}

}  // namespace
}  // namespace tarvo::ctl
