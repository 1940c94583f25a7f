#include "tools/tarvoctl/CtlOptions.h"

#include <gtest/gtest.h>

#include <functional>

namespace tarvo::ctl {
namespace {

using Args = std::vector<std::string>;

Args With(Args base, const Args& more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

const Args kLink = {"--rs232", "/dev/ttyUSB0"};

TEST(CtlOptions, DefaultsOfTheShortestCommand) {
  const CtlOptions o = ParseCtlOptions(With(kLink, {"--status"}));
  EXPECT_FALSE(o.help);
  EXPECT_EQ(o.link, LinkKind::RS232);
  EXPECT_EQ(o.serial.port, "/dev/ttyUSB0");
  EXPECT_EQ(o.serial.speedIndex, ts9600);
  EXPECT_EQ(o.serial.flowControl, cfcNone);
  EXPECT_EQ(o.serial.answerDelayMs, 1000);
  EXPECT_EQ(o.serial.byteTimeoutMs, -1);
  EXPECT_EQ(o.serial.attempts, 1);
  EXPECT_EQ(o.master.addr, 1);
  EXPECT_EQ(o.master.mode, mmRTU);
  EXPECT_EQ(o.master.parity, mpNone);
  EXPECT_EQ(o.master.retries, 1);
  EXPECT_FALSE(o.master.adjustToWord || o.master.optimal);
  EXPECT_EQ(o.request.call, mbReadStatus);
  EXPECT_EQ(o.periodMs, 0u);
  EXPECT_EQ(o.countReplies, 1);
  EXPECT_EQ(o.timeoutMs, 30000);
  EXPECT_EQ(o.qid, 1);
  EXPECT_FALSE(o.json);
}

struct GoodCase {
  const char* name;
  Args args;
  std::function<void(const CtlOptions&)> check;
};

void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.name; }

class CtlOptionsGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(CtlOptionsGood, Reads) {
  const GoodCase& c = GetParam();
  CtlOptions o;
  ASSERT_NO_THROW(o = ParseCtlOptions(c.args));
  c.check(o);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CtlOptionsGood,
    ::testing::Values(
        GoodCase{"SerialSettings",
                 {"--rs485", "COM3", "--baud", "115200", "--answer-delay", "250",
                  "--byte-timeout", "7", "--link-attempts", "3", "--status"},
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.link, LinkKind::RS485);
                   EXPECT_EQ(o.serial.port, "COM3");
                   EXPECT_EQ(o.serial.speedIndex, ts115200);
                   EXPECT_EQ(o.serial.answerDelayMs, 250);
                   EXPECT_EQ(o.serial.byteTimeoutMs, 7);
                   EXPECT_EQ(o.serial.attempts, 3);
                 }},
        GoodCase{"LowestRateAndHardwareFlow",
                 With(kLink, {"--baud", "1200", "--flow", "hardware", "--status"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.serial.speedIndex, ts1200);
                   EXPECT_EQ(o.serial.flowControl, cfcHardware);
                 }},
        GoodCase{"MasterSettings",
                 With(kLink, {"--addr", "0x11", "--ascii", "--parity", "even", "--retries", "3",
                              "--adjust-to-word", "--optimal", "--status"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.master.addr, 17);
                   EXPECT_EQ(o.master.mode, mmASCII);
                   EXPECT_EQ(o.master.parity, mpEven);
                   EXPECT_EQ(o.master.retries, 3);
                   EXPECT_TRUE(o.master.adjustToWord && o.master.optimal);
                 }},
        GoodCase{"BroadcastAddress", With(kLink, {"--addr", "0", "--status"}),
                 [](const CtlOptions& o) { EXPECT_EQ(o.master.addr, 0); }},
        GoodCase{"RegisterReadWithRecordType",
                 With(kLink, {"--read-input", "0x10", "--count", "3", "--type", "u32, f32"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.call, mbReadInputRegs);
                   EXPECT_EQ(o.request.regAddr, 16);
                   EXPECT_EQ(o.request.count, 3);
                   EXPECT_EQ(o.request.dataType, (std::vector<std::int32_t>{19, 4}));
                 }},
        GoodCase{"EveryTypeName",
                 With(kLink, {"--read-holding", "0", "--type", "i8,u8,i16,u16,i32,u32,f32"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.dataType,
                             (std::vector<std::int32_t>{16, 17, 2, 18, 3, 19, 4}));
                 }},
        GoodCase{"LargestRegisterRead", With(kLink, {"--read-holding", "65535", "--count", "127"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.regAddr, 65535);
                   EXPECT_EQ(o.request.count, 127);
                 }},
        GoodCase{"OneValueIsAScalarOfTheType",
                 With(kLink, {"--write-holding", "5", "--values", "0x1234"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.value, Variant(std::uint16_t{0x1234}));
                 }},
        GoodCase{"ValuesTakeTheRecordTypesInTurn",
                 With(kLink, {"--write-holding", "5", "--values", "1,-2,3,-4", "--type",
                              "u16,i16"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.value,
                             Variant(SafeArray::Of(
                                 VT_VARIANT, {Variant(std::uint16_t{1}), Variant(std::int16_t{-2}),
                                              Variant(std::uint16_t{3}),
                                              Variant(std::int16_t{-4})})));
                 }},
        GoodCase{"FloatValue", With(kLink, {"--write-holding", "0", "--values", "-1.5e3",
                                            "--type", "f32"}),
                 [](const CtlOptions& o) { EXPECT_EQ(o.request.value, Variant(-1500.0f)); }},
        GoodCase{"CoilValues", With(kLink, {"--write-coils", "3", "--values", "1,off,true,0"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.call, mbWriteHoldCoils);
                   EXPECT_EQ(o.request.value,
                             Variant(SafeArray::Of(VT_VARIANT, {Variant(true), Variant(false),
                                                                Variant(true), Variant(false)})));
                 }},
        GoodCase{"Diagnostics", With(kLink, {"--diag", "11", "--data", "0xABCD"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.diagSubFunc, 11);
                   EXPECT_EQ(o.request.diagData, 0xABCD);
                 }},
        GoodCase{"TimeArchive",
                 With(kLink, {"--arch-time", "2", "--time", "2024-02-29T06:07:08", "--type",
                              "u32,f32", "--count", "4"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.call, mbReadTimeArch);
                   EXPECT_EQ(o.request.archNum, 2);
                   EXPECT_EQ(o.request.count, 4);
                   EXPECT_EQ(o.request.archTime, (DateTimeParts{2024, 2, 29, 6, 7, 8, 0}));
                 }},
        GoodCase{"CheckedTimeArchive",
                 With(kLink, {"--arch-time2", "1", "--time", "2023-12-31 23:59:59", "--type",
                              "u32,f32", "--arch-type", "day", "--time-field", "0"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.call, mbReadTimeArch2);
                   EXPECT_EQ(o.request.archType, 1);
                   EXPECT_EQ(o.request.timeField, 0);
                   EXPECT_EQ(o.request.count, 1);
                 }},
        GoodCase{"IndexArchive",
                 With(kLink, {"--arch-index", "3", "--index", "65535", "--type", "u16"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.call, mbReadIndexArch);
                   EXPECT_EQ(o.request.archIndex, 65535);
                 }},
        GoodCase{"ExchangeBytesInEverySpelling",
                 With(kLink, {"--raw", "0x41", "--bytes", "01 0a,FF:7f"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.request.call, mbExchange);
                   EXPECT_EQ(o.request.funNum, 0x41);
                   EXPECT_EQ(o.request.bytes, (std::vector<std::uint8_t>{1, 10, 255, 127}));
                 }},
        GoodCase{"ExchangeWithoutData", With(kLink, {"--raw", "7"}),
                 [](const CtlOptions& o) { EXPECT_TRUE(o.request.bytes.empty()); }},
        GoodCase{"PeriodicRunsUntilInterrupted",
                 With(kLink, {"--read-coils", "0", "--period", "500"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.periodMs, 500u);
                   EXPECT_EQ(o.countReplies, 0);
                   EXPECT_EQ(o.timeoutMs, 30500);
                 }},
        GoodCase{"PeriodicWithLimits",
                 With(kLink, {"--raw", "3", "--period", "100", "--count-replies", "5",
                              "--timeout", "2000"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.countReplies, 5);
                   EXPECT_EQ(o.timeoutMs, 2000);
                 }},
        GoodCase{"InlineValuesQidAndJson",
                 With(kLink, {"--addr=5", "--qid=-7", "--json", "--dev-name"}),
                 [](const CtlOptions& o) {
                   EXPECT_EQ(o.master.addr, 5);
                   EXPECT_EQ(o.qid, -7);
                   EXPECT_TRUE(o.json);
                   EXPECT_EQ(o.request.call, mbGetDevName);
                 }},
        GoodCase{"HelpWinsOverEverything", {"--frobnicate", "--help"},
                 [](const CtlOptions& o) { EXPECT_TRUE(o.help); }},
        GoodCase{"ShortHelp", {"-h"}, [](const CtlOptions& o) { EXPECT_TRUE(o.help); }}));

struct BadCase {
  Args args;
  const char* message;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.message; }

class CtlOptionsBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(CtlOptionsBad, RefusesWithTheMessage) {
  const BadCase& c = GetParam();
  try {
    ParseCtlOptions(c.args);
    ADD_FAILURE() << "accepted";
  } catch (const CtlUsageError& e) {
    EXPECT_EQ(std::string(e.what()), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CtlOptionsBad,
    ::testing::Values(
        // Command line shape.
        BadCase{{}, "no link: give --rs232 PORT or --rs485 PORT"},
        BadCase{{"--frob"}, "unknown option '--frob' (see --help)"},
        BadCase{{"--rs232"}, "--rs232 needs a value"},
        BadCase{With(kLink, {"--ascii=1", "--status"}), "--ascii takes no value"},
        BadCase{With(kLink, {"--addr", "1", "--addr", "2", "--status"}), "--addr given twice"},
        // Link.
        BadCase{{"--rs232", "ttyUSB0", "--status"},
                "--rs232 wants COMn or an absolute device path such as /dev/ttyUSB0, not "
                "'ttyUSB0'"},
        BadCase{{"--rs485", "COM0", "--status"},
                "--rs485 wants COMn or an absolute device path such as /dev/ttyUSB0, not 'COM0'"},
        BadCase{With(kLink, {"--rs485", "/dev/ttyS1"}),
                "--rs485: only one link at a time (--rs232 was given)"},
        BadCase{With(kLink, {"--baud", "14400", "--status"}),
                "--baud 14400 is not a rate of the serial links; use 1200, 2400, 4800, 9600, "
                "19200, 38400, 57600 or 115200"},
        BadCase{{"--rs485", "/dev/ttyS1", "--flow", "hardware", "--status"},
                "--flow does not go with --rs485: RS-485 links have no flow control"},
        BadCase{With(kLink, {"--flow", "xon", "--status"}),
                "--flow wants none or hardware, not 'xon'"},
        BadCase{With(kLink, {"--answer-delay", "0", "--status"}),
                "--answer-delay wants an integer in 1..600000, not '0'"},
        BadCase{With(kLink, {"--byte-timeout", "-1", "--status"}),
                "--byte-timeout wants an integer in 0..600000, not '-1'"},
        // Master.
        BadCase{With(kLink, {"--addr", "256", "--status"}),
                "--addr wants an integer in 0..255, not '256'"},
        BadCase{With(kLink, {"--addr", "1x", "--status"}),
                "--addr wants an integer in 0..255, not '1x'"},
        BadCase{With(kLink, {"--parity", "mark", "--status"}),
                "--parity wants none, odd or even, not 'mark'"},
        BadCase{With(kLink, {"--retries", "0", "--status"}),
                "--retries wants an integer in 1..100, not '0'"},
        // Request choice.
        BadCase{kLink,
                "no request: give one of --read-holding, --read-input, --write-holding, "
                "--read-coils, --read-discrete, --write-coils, --status, --diag, --dev-name, "
                "--arch-time, --arch-time2, --arch-index, --raw"},
        BadCase{With(kLink, {"--read-holding", "0", "--read-input", "0"}),
                "--read-input: only one request at a time (--read-holding was given)"},
        BadCase{With(kLink, {"--status", "--count", "2"}), "--count does not go with --status"},
        BadCase{With(kLink, {"--read-coils", "0", "--type", "u16"}),
                "--type does not go with --read-coils"},
        BadCase{With(kLink, {"--write-holding", "0"}), "--write-holding needs --values"},
        BadCase{With(kLink, {"--arch-time", "1", "--type", "u16"}), "--arch-time needs --time"},
        BadCase{With(kLink, {"--arch-index", "1", "--index", "0"}), "--arch-index needs --type"},
        // Request fields.
        BadCase{With(kLink, {"--read-holding", "65536"}),
                "--read-holding wants an integer in 0..65535, not '65536'"},
        BadCase{With(kLink, {"--read-holding", "0", "--count", "0"}),
                "--count wants an integer in 1..65535, not '0'"},
        BadCase{With(kLink, {"--read-holding", "0", "--count", "128"}),
                "--count 128 of u16 makes 256 bytes; a request carries at most 255"},
        BadCase{With(kLink, {"--read-input", "0", "--count", "128", "--type", "u8",
                             "--adjust-to-word"}),
                "--count 128 of u8 makes 256 bytes; a request carries at most 255"},
        BadCase{With(kLink, {"--read-holding", "0", "--count", "64", "--type", "f32"}),
                "--count 64 of f32 makes 256 bytes; a request carries at most 255"},
        BadCase{With(kLink, {"--read-holding", "0", "--type", "u64"}),
                "--type wants i8, u8, i16, u16, i32, u32 or f32 (a comma list for a record), not "
                "'u64'"},
        BadCase{With(kLink, {"--read-holding", "0", "--type", "u16,,u32"}),
                "--type has an empty item in 'u16,,u32'"},
        BadCase{With(kLink, {"--write-holding", "0", "--values", "70000"}),
                "--values: '70000' does not fit u16 (0..65535)"},
        BadCase{With(kLink, {"--write-holding", "0", "--values", "-129", "--type", "i8"}),
                "--values: '-129' does not fit i8 (-128..127)"},
        BadCase{With(kLink, {"--write-holding", "0", "--values", "1.5"}),
                "--values: '1.5' is not an integer"},
        BadCase{With(kLink, {"--write-holding", "0", "--values", "abc", "--type", "f32"}),
                "--values: 'abc' is not a number"},
        BadCase{With(kLink, {"--write-holding", "0", "--values", "1e39", "--type", "f32"}),
                "--values: '1e39' does not fit f32"},
        BadCase{With(kLink, {"--write-holding", "0", "--values", "1,2,3", "--type", "u16,u32"}),
                "--values: 3 values do not fill records of 2 fields (u16,u32)"},
        BadCase{With(kLink, {"--write-holding", "0", "--values", "1,2", "--type", "u32",
                             "--count", "2"}),
                "--count does not go with --write-holding"},
        BadCase{With(kLink, {"--write-coils", "0", "--values", "1,2"}),
                "--values: '2' is not a coil value (1, 0, true, false, on, off)"},
        BadCase{With(kLink, {"--read-discrete", "0", "--count", "2033"}),
                "--count 2033: a request reads at most 2032 coils"},
        BadCase{With(kLink, {"--arch-time2", "1", "--time", "2023-02-29 00:00:00", "--type",
                             "u32"}),
                "--time wants \"YYYY-MM-DD hh:mm:ss\", not '2023-02-29 00:00:00'"},
        BadCase{With(kLink, {"--arch-time", "1", "--time", "2024-01-01", "--type", "u32"}),
                "--time wants \"YYYY-MM-DD hh:mm:ss\", not '2024-01-01'"},
        BadCase{With(kLink, {"--arch-time", "1", "--time", "2024-01-01 24:00:00", "--type",
                             "u32"}),
                "--time wants \"YYYY-MM-DD hh:mm:ss\", not '2024-01-01 24:00:00'"},
        BadCase{With(kLink, {"--arch-time2", "1", "--time", "2024-01-01 00:00:00", "--type",
                             "u32", "--arch-type", "week"}),
                "--arch-type wants hour, day, month or second, not 'week'"},
        BadCase{With(kLink, {"--arch-time2", "1", "--time", "2024-01-01 00:00:00", "--type",
                             "u32,f32", "--time-field", "2"}),
                "--time-field wants an integer in -1..1, not '2'"},
        BadCase{With(kLink, {"--arch-time", "1", "--time", "2024-01-01 00:00:00", "--type",
                             "u32", "--time-field", "0"}),
                "--time-field does not go with --arch-time"},
        BadCase{With(kLink, {"--arch-index", "1", "--index", "0", "--type",
                             "f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,"
                             "f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,"
                             "f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,"
                             "f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32,f32"}),
                "--type: a record of 64 fields makes 256 bytes; a request carries at most 255"},
        BadCase{With(kLink, {"--raw", "256"}), "--raw wants an integer in 0..255, not '256'"},
        BadCase{With(kLink, {"--raw", "3", "--bytes", "0G"}),
                "--bytes: '0G' is not hexadecimal bytes (such as \"01 0A FF\")"},
        BadCase{With(kLink, {"--raw", "3", "--bytes", "01 2"}),
                "--bytes: '01 2' is not hexadecimal bytes (such as \"01 0A FF\")"},
        BadCase{With(kLink, {"--raw", "3", "--bytes", std::string(506, 'A')}),
                "--bytes: 253 bytes are more than a ModBus frame carries (252)"},
        // Repetition.
        BadCase{With(kLink, {"--dev-name", "--period", "1000"}),
                "--period does not go with --dev-name: it is always a one-shot request"},
        BadCase{With(kLink, {"--arch-index", "1", "--index", "0", "--type", "u16", "--period",
                             "1000"}),
                "--period does not go with --arch-index: it is always a one-shot request"},
        BadCase{With(kLink, {"--status", "--period", "0"}),
                "--period wants an integer in 1..600000, not '0'"},
        BadCase{With(kLink, {"--status", "--count-replies", "3"}),
                "--count-replies needs --period: a one-shot request has one reply"},
        BadCase{With(kLink, {"--status", "--timeout", "0"}),
                "--timeout wants an integer in 1..86400000, not '0'"},
        BadCase{With(kLink, {"--status", "--qid", "2147483648"}),
                "--qid wants an integer in -2147483648..2147483647, not '2147483648'"}));

TEST(CtlOptions, HelpDescribesEveryOption) {
  const std::string help = CtlUsageText();
  for (const char* option :
       {"--rs232", "--rs485", "--baud", "--flow", "--answer-delay", "--byte-timeout",
        "--link-attempts", "--addr", "--ascii", "--parity", "--retries", "--adjust-to-word",
        "--optimal", "--read-holding", "--read-input", "--write-holding", "--read-coils",
        "--read-discrete", "--write-coils", "--status", "--diag", "--dev-name", "--arch-time ",
        "--arch-time2", "--arch-index", "--raw", "--count ", "--type", "--values", "--data",
        "--time ", "--arch-type", "--time-field", "--index", "--bytes", "--period",
        "--count-replies", "--timeout", "--qid", "--json", "--help"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace tarvo::ctl
