// The text of tarvoctl --help; every option of CtlOptions.cpp is described here.

#include "tools/tarvoctl/CtlOptions.h"

namespace tarvo::ctl {

std::string CtlUsageText() {
  return R"(Usage: tarvoctl LINK [LINK SETTINGS] [MASTER SETTINGS] REQUEST [REPETITION] [--json]

Sends one ModBus request through the communication server and prints each reply on one line.

Link (exactly one):
  --rs232 PORT          an RS-232 line; PORT is COMn or a device path such as /dev/ttyUSB0
  --rs485 PORT          an RS-485 line (RTS raised while sending)
Serial link settings:
  --baud N              1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200 (default 9600)
  --flow none|hardware  RS-232 handshake (default none); RS-485 has none
  --answer-delay MS     longest wait for the first byte of an answer (default 1000)
  --byte-timeout MS     least quiet time that ends an answer, before the server's multiplier
                        (default: the character gap of the speed, which is also the least
                        value the server uses)
  --link-attempts N     attempts stored with the link, 1..100 (default 1)
A link that is already open for the same port and speed is shared, with its own settings.

Master settings:
  --addr N              device address 0..255 (default 1); 0 is a broadcast: no answer, result 0
  --ascii               ASCII framing (default RTU)
  --parity none|odd|even  parity of the line (default none)
  --retries N           attempts per request, 1..100 (default 1: no repeat)
  --adjust-to-word      one-byte values take a whole 16-bit register
  --optimal             single-item writes use functions 6 and 5

Request (exactly one); ADDR, NUM and counts are decimal or 0x-hexadecimal:
  --read-holding ADDR [--count N] [--type T]   holding registers (function 3)
  --read-input ADDR [--count N] [--type T]     input registers (function 4)
  --write-holding ADDR --values V1,V2,... [--type T]
                        holding registers (function 16; 6 for one register with --optimal)
  --read-coils ADDR [--count N]                coils (function 1)
  --read-discrete ADDR [--count N]             discrete inputs (function 2)
  --write-coils ADDR --values 1,0,1            coils (function 15; 5 for one with --optimal);
                        a value is 1, 0, true, false, on or off
  --status                                     the status byte (function 7)
  --diag SUB [--data D]                        diagnostics sub-function SUB with data D
                        (function 8; D default 0)
  --dev-name                                   the device name (function 17)
  --arch-time NUM --time "YYYY-MM-DD hh:mm:ss" --type T[,T...] [--count N]
                        N records of archive NUM from that time (function 65)
  --arch-time2 NUM --time "YYYY-MM-DD hh:mm:ss" --type T[,T...] [--count N]
               [--arch-type hour|day|month|second] [--time-field K]
                        the same, and the server checks the time in field K of the first
                        record (seconds since 1970) against --time at the archive's
                        granularity (default second); K -1 (default): no check
  --arch-index NUM --index I --type T[,T...] [--count N]
                        N records of archive NUM from record I (function 65)
  --raw FN [--bytes HEX]  function FN to device --addr with the data bytes HEX ("01 0A FF");
                        the reply holds the answer's bytes after address and function
  --count N             items, coils or records (default 1); one request carries at most 255
                        data bytes (127 u16 registers, 2032 coils)
  --type T              i8, u8, i16, u16, i32, u32 or f32 (default u16 for registers); a comma
                        list is one record: each item is read field by field, and written
                        values take the types in turn

Repetition:
  --period MS           repeat every MS ms (1..600000) until interrupted; not for --dev-name
                        and the archive reads
  --count-replies N     stop after N replies (with --period; default: until interrupted)
  --timeout MS          give up when no reply came in MS ms (default 30000; with --period,
                        30000 + the period, counted from the previous reply)
  --qid N               query ID carried by the request and its replies (default 1)

Output:
  (default)             CALL qid=Q addr=A fn=F result=R NAME value=V
  --json                one JSON object per reply: call, qid, addr, fn, result, result_text,
                        value (numbers, booleans, strings, null, arrays; a two-dimensional
                        value as an array of rows; times as "YYYY-MM-DD hh:mm:ss")
  --help, -h            this text

Options take their value as the next argument or after '=' (--addr=5).
Example: tarvoctl --rs485 /dev/ttyUSB0 --baud 19200 --addr 3 --read-holding 100 --count 4
)";
}

}  // namespace tarvo::ctl
