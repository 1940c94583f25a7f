// End to end on a pseudo-terminal: the ModBus master and the serial transports against a real
// tarvo-devsim process, every kind of request in RTU and ASCII, and every fault switch.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/variant/OleDate.h"
#include "platform/variant/OleToVar.h"
#include "server/core/ReplyArray.h"
#include "server/core/ServerFactory.h"
#include "server/modbus/ArchTime.h"
#include "server/modbus/ModBusMaster.h"
#include "server/transports/RS232Transport.h"
#include "server/transports/RS485Transport.h"
#include "server/transports/testing/Devsim.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using testing::Devsim;

class Maker : public IWorkerMaker {
 public:
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t type, IWorkerDirectory& dir) override {
    if (type == ttRS232) return std::make_shared<TRS232Transport>(dir);
    if (type == ttRS485) return std::make_shared<TRS485Transport>(dir);
    return nullptr;
  }
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t, IWorkerDirectory& dir) override {
    return std::make_shared<TModBusMaster>(dir, true);
  }
};

Variant A(std::vector<Variant> items) { return Variant(SafeArray::Of(VT_VARIANT, std::move(items))); }
Variant Req(std::vector<Variant> items) {
  Variant out;
  OleToVar(A(std::move(items)), out);
  return out;
}
Variant U16(int v) { return Variant(static_cast<std::uint16_t>(v)); }
Variant Typed(VarType vt, std::vector<Variant> items) { return Variant(SafeArray::Of(vt, items)); }

struct Result {
  int result;
  Variant value;
};

class DevsimTest : public ::testing::TestWithParam<TModbusMode> {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("tarvo-devsim-e2e-" + std::to_string(::getpid()) + "-" +
           std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::create_directories(dir);
    setenv("TARVO_COMMON_APPDATA", dir.c_str(), 1);
  }
  void TearDown() override {
    Stop();
    fs::remove_all(dir);
  }

  void Stop() {
    master.reset();
    factory.reset();  // its links close before the instrument goes
    sim.reset();
  }

  TModbusMode Mode() const { return GetParam(); }

  // Starts the instrument with these extra switches and a master on a link to it.
  void Start(std::vector<std::string> faults = {}, int addr = 1, int type = ttRS232) {
    Stop();
    factory = std::make_unique<TServerFactory>(maker);
    faults.insert(faults.begin(), {"--mode", Mode() == mmASCII ? "ascii" : "rtu"});
    sim = std::make_unique<Devsim>(faults);
    const Variant link =
        type == ttRS232
            ? A({ttRS232, sim->Path(), ts19200, cfcNone, 300, 0, 1})
            : A({ttRS485, sim->Path(), ts19200, 300, 0, 1});
    const std::int32_t trID = factory->CreateTransportInplace(link);
    ASSERT_NE(trID, kNoID);
    const std::int32_t id = factory->CreateMaster(A({mtMB, addr, int(Mode()), mpNone, 1, false, true}),
                                                 nullptr, nullptr);
    master = factory->GetMaster(id);
    master->SetTransportID(trID);
  }

  Result Call(const Variant& request) {
    Variant reply;
    master->RunTaskInplace(request, reply, 5000);
    if (!reply.IsArray()) return {-1, {}};
    return {reply.Array().At(riResult).ToInt32(), reply.Array().At(riValue)};
  }

  Result Read(int addr, int type, int count, int fn = mbReadHoldRegs) {
    return Call(Req({fn, 1, 0, addr, type, count}));
  }

  fs::path dir;
  std::unique_ptr<Devsim> sim;
  Maker maker;
  std::unique_ptr<TServerFactory> factory;
  std::shared_ptr<TBaseMaster> master;
};

TEST_P(DevsimTest, RegistersOfEveryType) {
  Start();
  Result r = Read(0, dtUnsignedWord, 4);
  ASSERT_EQ(r.result, mbcOK);
  EXPECT_EQ(r.value, Typed(VT_UI2, {U16(1), U16(2), U16(3), U16(4)}));
  EXPECT_EQ(Read(150, dtUnsignedWord, 1, mbReadInputRegs).value, U16(150));
  EXPECT_EQ(Read(0, dtUnsignedByte, 2).value,
            Typed(VT_UI1, {Variant(std::uint8_t{0}), Variant(std::uint8_t{1})}));
  EXPECT_EQ(Read(100, dtSignedByte, 2).value,  // register 100 holds 100: bytes 00 64
            Typed(VT_I1, {Variant(std::int8_t{0}), Variant(std::int8_t{100})}));

  // Written, then read back with their own types.
  ASSERT_EQ(Call(Req({mbWriteHoldRegs, 2, 0, 20, Variant(std::int16_t{-2})})).result, mbcOK);
  EXPECT_EQ(Read(20, dtSignedWord, 1).value, Variant(std::int16_t{-2}));
  ASSERT_EQ(Call(Req({mbWriteHoldRegs, 3, 0, 22, A({Variant(std::int32_t{-70000}), Variant(1.5f)})})).result,
            mbcOK);
  EXPECT_EQ(Read(22, dtSignedDoubleWord, 1).value, Variant(std::int32_t{-70000}));
  EXPECT_EQ(Read(22, dtUnsignedDoubleWord, 1).value, Variant(std::uint32_t{4294897296u}));
  EXPECT_EQ(Read(24, dtSingle, 1).value, Variant(1.5f));
  const Result rec = Call(Req({mbReadHoldRegs, 4, 0, 20,
                               A({int(dtSignedWord), int(dtUnsignedWord), int(dtSignedDoubleWord)}), 1}));
  EXPECT_EQ(rec.value, A({Variant(std::int16_t{-2}), U16(0), Variant(std::int32_t{-70000})}));
}

TEST_P(DevsimTest, CoilsStatusDiagnosticsAndName) {
  Start();
  const Variant bits = A({true, false, true, true, false, false, false, false, true, true});
  ASSERT_EQ(Call(Req({mbWriteHoldCoils, 1, 0, 0, bits})).result, mbcOK);
  EXPECT_EQ(Call(Req({mbReadHoldCoils, 1, 0, 0, 10})).value,
            Typed(VT_BOOL, {true, false, true, true, false, false, false, false, true, true}));
  ASSERT_EQ(Call(Req({mbWriteHoldCoils, 1, 0, 12, Variant(true)})).result, mbcOK);  // function 5
  EXPECT_EQ(Call(Req({mbReadHoldCoils, 1, 0, 12, 1})).value, Variant(true));
  EXPECT_EQ(Call(Req({mbReadInputCoils, 1, 0, 30, 4})).value, Typed(VT_BOOL, {true, true, false, false}));
  EXPECT_EQ(Call(Req({mbReadStatus, 1, 0})).value, Variant(std::uint8_t{0x6D}));
  EXPECT_EQ(Call(Req({mbDiagnostics, 1, 0, 0, 0xA537})).value, Typed(VT_UI2, {U16(0), U16(0xA537)}));
  EXPECT_EQ(Call(Req({mbGetDevName, 1})).value, Variant("Tarvo DevSim"));
}

TEST_P(DevsimTest, ArchivesByIndexAndByTime) {
  Start();
  const Variant record = A({int(dtUnsignedDoubleWord), int(dtUnsignedWord), int(dtUnsignedWord)});
  const Result byIndex = Call(Req({mbReadIndexArch, 1, 0, 2, 0, record}));
  ASSERT_EQ(byIndex.result, mbcOK);
  const SafeArray& rows = byIndex.value.Array();
  ASSERT_EQ(rows.Dims(), 2);
  ASSERT_EQ(rows.Count(0), 2u);
  ASSERT_EQ(rows.Count(1), 3u);
  const std::uint32_t t0 = rows.At(0, 0).ToUInt32(), t1 = rows.At(1, 0).ToUInt32();
  EXPECT_EQ(t1 - t0, 3600u);  // hourly records

  // By time, with the check of the first record's time at hour granularity.
  const double when = SecToDate(t1, true);
  const Result byTime = Call(Req({mbReadTimeArch2, 1, 0, 1, Variant::Date(when), record, 0, 0}));
  ASSERT_EQ(byTime.result, mbcOK);
  EXPECT_EQ(byTime.value.Array().At(0).ToUInt32(), t1);
  // Ten seconds later the instrument starts at the next record, an hour on: the check catches it.
  EXPECT_EQ(Call(Req({mbReadTimeArch2, 1, 0, 1, Variant::Date(when + 10.0 / 86400), record, 0, 0})).result,
            mbcWrongArchTime);
  const DateTimeParts p = DecodeOleDate(when);
  const Result byFields = Call(Req({mbReadTimeArch, 1, 0, 1, p.year % 100, p.month, p.day, p.hour,
                                    p.minute, p.second, record}));
  ASSERT_EQ(byFields.result, mbcOK);
  EXPECT_EQ(byFields.value.Array().At(0).ToUInt32(), t1);
}

TEST_P(DevsimTest, BroadcastCompletesAfterTheFrame) {
  Start({}, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call(Req({mbWriteHoldRegs, 1, 0, 30, U16(7)})).result, mbcOK);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);  // the answer delay is 300 ms
}

TEST_P(DevsimTest, Rs485Link) {
  Start({}, 1, ttRS485);
  EXPECT_EQ(Read(0, dtUnsignedWord, 1).value, U16(1));
}

struct Fault {
  const char* name;
  std::vector<std::string> args;
  int rtu, ascii;
};

TEST_P(DevsimTest, EveryFaultSwitchGivesItsResult) {
  const Fault faults[] = {
      {"silent", {"--silent"}, mbcNoAnswer, mbcNoAnswer},
      {"bad-checksum", {"--bad-checksum"}, mbcCheckSumError, mbcCheckSumError},
      {"wrong-addr", {"--wrong-addr"}, mbcWrongAddr, mbcWrongAddr},
      {"exception", {"--exception", "2"}, mbcIDA, mbcIDA},
      {"exception-busy", {"--exception", "6"}, mbcSDB, mbcSDB},
      {"garbage", {"--garbage", "3"}, mbcCheckSumError, mbcNotEnoughData},
      // At 19200 bit/s the answer ends after 15 ms of quiet: the first half is all there is.
      {"split", {"--split-pause", "40"}, mbcCheckSumError, mbcNotEnoughData},
      {"late", {"--delay", "1000"}, mbcNoAnswer, mbcNoAnswer},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    Start(f.args);
    const Result r = Read(0, dtUnsignedWord, 2);
    EXPECT_EQ(r.result, Mode() == mmRTU ? f.rtu : f.ascii);
    EXPECT_TRUE(r.value.IsEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(Framing, DevsimTest, ::testing::Values(mmRTU, mmASCII),
                         [](const ::testing::TestParamInfo<TModbusMode>& i) {
                           return i.param == mmRTU ? "RTU" : "ASCII";
                         });

}  // namespace
}  // namespace tarvo
