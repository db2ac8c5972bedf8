// A fake modem on the master side of a pseudo-terminal.
//
// ModemLink is the far end's byte channel: command lines in, result lines and
// raw data out, page data captured up to DLE ETX. ScriptedModem runs a table
// of steps on its own thread, so that a test states a whole modem dialogue
// as data:
//
//   qc::test::PtyPair pty;
//   qc::test::ScriptedModem modem(pty, {
//       qc::test::Exchange("ATZ", {"OK"}),
//       qc::test::Exchange("AT+FCLASS=?", {"0,1,2", "OK"}, 100),  // after 100 ms
//       qc::test::Expect("ATD5551234"),
//       qc::test::Reply({"CONNECT"}, 500),
//       qc::test::CaptureUntilDleEtx("page1"),
//       qc::test::Reply({"OK"}),
//   });
//   modem.Start();
//   ... drive TQcComPort on pty.DevicePath() ...
//   ASSERT_TRUE(modem.WaitDone(5000)) << modem.Failure();
//
// Emulators of whole modem classes build on ModemLink directly (a loop of
// ReadCommand and replies) or on Call steps.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "serial/clock.h"
#include "support/pty_pair.h"

namespace qc::test {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;

class ModemLink {
 public:
  explicit ModemLink(PtyPair& pty);
  ~ModemLink();
  ModemLink(const ModemLink&) = delete;
  ModemLink& operator=(const ModemLink&) = delete;

  // Makes every present and later wait fail at once (used to stop a modem thread).
  void Stop();
  bool Stopped() const { return stopped_.load(); }

  // Writes all bytes (waiting for room); false when the line is gone or stopped.
  bool Write(std::string_view bytes);
  // Each line as a verbose result: CR LF text CR LF.
  bool WriteLines(const std::vector<std::string>& lines);

  // Reads one byte within `timeoutMs` real milliseconds.
  bool ReadByte(uint8_t& byte, int timeoutMs);
  // The next command line: bytes up to CR, without LF and without leading
  // blanks; nullopt on time-out. With `echo` the bytes are echoed as a modem
  // in E1 would.
  std::optional<std::string> ReadCommand(int timeoutMs, bool echo = false);
  // Raw bytes up to an unescaped DLE ETX (DLE DLE is an escaped DLE and stays
  // doubled in the result); the DLE ETX itself is dropped. `timeoutMs` is the
  // longest gap between two bytes.
  std::optional<std::string> ReadUntilDleEtx(int timeoutMs);
  // Whatever arrives within `timeoutMs`, at most `max` bytes.
  std::string ReadAvailable(size_t max, int timeoutMs);
  // Hangs the line up (closes the master).
  void HangUp();

  // Undoes DLE doubling.
  static std::string Unstuff(std::string_view stuffed);

 private:
  bool WaitFor(short events, int timeoutMs);

  PtyPair& pty_;
  int stopFd_;
  std::atomic<bool> stopped_{false};
};

struct ModemStep {
  enum class Kind { Exchange, ExpectPrefix, Reply, Send, Delay, CaptureUntilDleEtx, HangUp, Call };
  Kind kind = Kind::Exchange;
  std::string text;                // command, prefix, bytes, or capture name
  std::vector<std::string> lines;  // result lines
  int delayMs = 0;                 // before replying or sending
  std::function<bool(ModemLink& link, std::string& error)> call;
};

// The next command must equal `command`; then `lines` are sent after `delayMs`.
ModemStep Exchange(std::string command, std::vector<std::string> lines, int delayMs = 0);
ModemStep Expect(std::string command);
// The next command must begin with `prefix`; then `lines`.
ModemStep ExpectPrefix(std::string prefix, std::vector<std::string> lines = {}, int delayMs = 0);
ModemStep Reply(std::vector<std::string> lines, int delayMs = 0);
// Raw bytes (no line framing), after `delayMs`.
ModemStep Send(std::string bytes, int delayMs = 0);
ModemStep Delay(int ms);
// Stores the raw data up to DLE ETX under `name` (see Captured).
ModemStep CaptureUntilDleEtx(std::string name);
ModemStep HangUp();
// Anything else: return false and set `error` to fail the script.
ModemStep Call(std::string description, std::function<bool(ModemLink& link, std::string& error)> fn);

struct ScriptOptions {
  bool echo = false;           // echo command bytes back (E1)
  int commandTimeoutMs = 10000;  // real time allowed for each expected command or capture
  std::shared_ptr<Clock> clock = SystemClock();  // for delays
};

class ScriptedModem {
 public:
  ScriptedModem(PtyPair& pty, std::vector<ModemStep> steps, ScriptOptions options = {});
  ~ScriptedModem();  // stops the script and joins its thread
  ScriptedModem(const ScriptedModem&) = delete;
  ScriptedModem& operator=(const ScriptedModem&) = delete;

  void Start();
  // Waits until the script has ended; true when every step ran.
  bool WaitDone(int timeoutMs);
  bool Done() const;
  bool Succeeded() const;
  // Why the script stopped early, e.g. `step 2: expected "ATZ", got "ATX"`.
  std::string Failure() const;
  // The raw data of a CaptureUntilDleEtx step.
  std::string Captured(const std::string& name) const;
  // Every command line the modem received, in order.
  std::vector<std::string> Commands() const;

 private:
  void Run();
  bool RunStep(size_t index, const ModemStep& step, std::string& error);

  PtyPair& pty_;
  std::vector<ModemStep> steps_;
  ScriptOptions options_;
  ModemLink link_;
  std::thread thread_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
  bool succeeded_ = false;
  std::string failure_;
  std::map<std::string, std::string> captured_;
  std::vector<std::string> commands_;
};

}  // namespace qc::test
