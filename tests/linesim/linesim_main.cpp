// linesim: the virtual phone line for manual use. Prints the device our fax
// program is to open, runs the given number of calls and prints what the far
// end reported. See README for examples.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "line_sim.h"

namespace {

std::atomic<bool> interrupted{false};
void OnSignal(int) { interrupted = true; }

void Usage() {
  std::cerr <<
      "usage: linesim [options]\n"
      "  --pty-link PATH       make PATH a link to our end's pseudo-terminal\n"
      "  --far receive|send|modem\n"
      "                        far end: a fax terminal that answers and receives (default),\n"
      "                        one that calls and sends, or a second soft modem\n"
      "  --tiff FILE           the TIFF file the terminal writes (receive) or sends (send)\n"
      "  --far-pty-link PATH   link to the second soft modem's pseudo-terminal (modem)\n"
      "  --id TEXT             the terminal's station identifier (default LINESIM)\n"
      "  --answer-rings N      rings before the terminal answers (default 1)\n"
      "  --no-v17 --no-v29 --no-v27  leave a modem out of the terminal's DIS\n"
      "  --no-fine --wide --2d --ecm  the terminal's other capabilities\n"
      "  --delay MS            one-way delay (default 50)\n"
      "  --xonxoff             soft modems send XOFF/XON besides holding back input\n"
      "  --cut-after-pages N   drop the line once N pages were confirmed ...\n"
      "  --cut-delay MS        ... and MS more milliseconds have passed\n"
      "  --calls N             end after N calls (default 1; 0 = until interrupted)\n"
      "  --call-delay S        send: seconds after our port opens before the terminal calls (2)\n"
      "  --until-closed        end once our port was opened and closed again with no call up\n"
      "  --timeout S           give up after S seconds (exit status 1)\n"
      "  --log FILE|-          write the line's log to FILE (- = standard error)\n"
      "  --spandsp-log         include spandsp's protocol log\n";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qc::linesim;
  LineConfig config;
  int calls = 1;
  int callDelay = 2;
  bool untilClosed = false;
  int timeout = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "linesim: " << a << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--pty-link") {
      config.ourLink = value();
    } else if (a == "--far-pty-link") {
      config.farLink = value();
    } else if (a == "--far") {
      const std::string v = value();
      if (v == "receive") {
        config.far = FarKind::Terminal;
        config.terminal.role = TerminalRole::Receive;
      } else if (v == "send") {
        config.far = FarKind::Terminal;
        config.terminal.role = TerminalRole::Send;
      } else if (v == "modem") {
        config.far = FarKind::SoftModem;
      } else {
        Usage();
        return 2;
      }
    } else if (a == "--tiff") {
      config.terminal.tiffPath = value();
    } else if (a == "--id") {
      config.terminal.stationId = value();
    } else if (a == "--answer-rings") {
      config.terminal.answerAfterRings = std::atoi(value().c_str());
    } else if (a == "--no-v17") {
      config.terminal.v17 = false;
    } else if (a == "--no-v29") {
      config.terminal.v29 = false;
    } else if (a == "--no-v27") {
      config.terminal.v27ter = false;
    } else if (a == "--no-fine") {
      config.terminal.fine = false;
    } else if (a == "--wide") {
      config.terminal.wide = true;
    } else if (a == "--2d") {
      config.terminal.twoD = true;
    } else if (a == "--ecm") {
      config.terminal.ecm = true;
    } else if (a == "--delay") {
      config.delayMs = std::atoi(value().c_str());
    } else if (a == "--xonxoff") {
      config.xonXoff = true;
    } else if (a == "--cut-after-pages") {
      config.cutAfterPages = std::atoi(value().c_str());
    } else if (a == "--cut-delay") {
      config.cutDelayMs = std::atoi(value().c_str());
    } else if (a == "--calls") {
      calls = std::atoi(value().c_str());
    } else if (a == "--call-delay") {
      callDelay = std::atoi(value().c_str());
    } else if (a == "--until-closed") {
      untilClosed = true;
    } else if (a == "--timeout") {
      timeout = std::atoi(value().c_str());
    } else if (a == "--log") {
      const std::string v = value();
      config.logPath = v == "-" ? "/dev/stderr" : v;
    } else if (a == "--spandsp-log") {
      config.spandspLog = true;
    } else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else {
      Usage();
      return 2;
    }
  }
  if (config.far == FarKind::Terminal && config.terminal.tiffPath.empty()) {
    config.terminal.tiffPath = config.terminal.role == TerminalRole::Receive ? "linesim-rx.tif" : "";
    if (config.terminal.tiffPath.empty()) {
      std::cerr << "linesim: --far send needs --tiff FILE\n";
      return 2;
    }
  }

  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  try {
    LineSim line(config);
    std::cout << "our end: " << line.OurDevice() << std::endl;
    if (config.far == FarKind::SoftModem) std::cout << "far end: " << line.FarDevice() << std::endl;
    int placed = 0;
    bool wasOpen = false, timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    while (!interrupted && (calls == 0 || line.CallsEnded() < calls)) {
      if (timeout > 0 && std::chrono::steady_clock::now() >= deadline) {
        std::cout << "timed out" << std::endl;
        timedOut = true;
        break;
      }
      const bool open = line.OurPortOpen();
      if (untilClosed && wasOpen && !open && !line.CallInProgress()) break;
      wasOpen = wasOpen || open;
      if (config.far == FarKind::Terminal && config.terminal.role == TerminalRole::Send &&
          placed == line.CallsEnded() && line.OurPortOpen()) {
        std::this_thread::sleep_for(std::chrono::seconds(callDelay));
        if (line.OurPortOpen()) {
          std::cout << "calling our end" << std::endl;
          line.PlaceCall();
          ++placed;
        }
      }
      line.WaitCallsEnded(line.CallsEnded() + 1, std::chrono::milliseconds(200));
    }
    int n = 0;
    bool allOk = true;
    for (const CallReport& r : line.Reports()) {
      ++n;
      std::cout << "call " << n << ": " << (r.connected ? "connected" : "not connected") << ", ended: " << r.endReason
                << '\n';
      if (config.far == FarKind::Terminal) {
        std::cout << "  completion " << r.completionCode << " (" << r.completionText << "), remote \"" << r.remoteId
                  << "\", " << r.bitRate << " bit/s, " << (r.yResolution >= 7000 ? "fine" : "standard")
                  << ", width " << r.width << ", pages received " << r.pagesReceived << ", sent " << r.pagesSent
                  << ", file " << r.tiffPath << '\n';
        allOk = allOk && r.completionCode == 0;
      }
    }
    std::cout.flush();
    return allOk && !timedOut && n > 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "linesim: " << e.what() << '\n';
    return 1;
  }
}
