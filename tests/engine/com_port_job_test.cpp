// Send jobs through a real TQcComPort (event, dispatcher and output threads)
// over an in-memory line to the Class 2 / 2.0 emulator, on a clock running
// five times faster than real time. The state machine runs on the port's
// dispatcher thread and reaches the test's thread through the owner loop.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "control/error_codes.h"
#include "engine/fax_components.h"
#include "serial/com_port.h"
#include "support/class2_modem.h"
#include "support/line_pump.h"
#include "support/test_pages.h"

namespace qc::test {
namespace {

struct PortRig {
  explicit PortRig(Class2Script script)
      : modem(std::move(script)), line(MemoryLine::Create()), clock(std::make_shared<ScaledClock>(5.0)),
        fax(loop) {
    port.SetDeviceFactory(line->Factory());
    port.SetDeviceName("mem");
    port.SetClock(clock);
    fax.SetComPort(&port);
    port.SetOpen(true);
    pump = std::make_unique<LinePump>(line, modem, clock);
    fax.OnFaxStatus = [this](TQcAbstractFax& f, bool, bool) {
      statuses.push_back(f.ProgressCode());
      if (f.ProgressCode() == fsSendingPage && f.PageBytes() > 0) sawPageData = true;
    };
    fax.OnFaxFinish = [this](TQcAbstractFax&, int code) {
      finishCode = code;
      finished = true;
    };
  }
  ~PortRig() {
    pump->Stop();
    port.SetOpen(false);
  }
  bool Run(const std::function<void()>& poll = {}) {
    fax.BeginTransmit();
    const bool done = loop.RunUntil(
        [&] {
          if (poll) poll();
          return finished;
        },
        std::chrono::seconds(120));
    pump->Stop();
    return done;
  }

  Class2Modem modem;
  std::shared_ptr<MemoryLine> line;
  std::shared_ptr<ScaledClock> clock;
  QueuedOwnerLoop loop;
  TQcComPort port;
  TQcSendFax fax;
  std::unique_ptr<LinePump> pump;
  std::vector<int> statuses;
  bool sawPageData = false;
  bool finished = false;
  int finishCode = 1;
};

class PortJob : public ::testing::TestWithParam<TFaxClass> {};

TEST_P(PortJob, CoverAndThreePagesOverTheSerialLayer) {
  TempDir dir;
  const std::vector<Raster> pages = {PatternPage(1, 200), PatternPage(2, 150), PatternPage(3, 100)};
  const std::string apf = dir.Path("BODY.APF");
  WriteApf(apf, pages, true);
  const std::string cover = dir.Path("cover.txt");
  std::ofstream(cover) << "COVER\n";

  Class2Script script;
  script.dialect = GetParam();
  script.classAnswer = GetParam() == fcClass2 ? "0,1,2" : "0,1,2,2.0";
  PortRig rig(script);
  rig.fax.SetStationID("QC 7");
  rig.fax.SetHeaderLine("$I Page $P of $N");
  rig.fax.SetPhoneNumber("5550100");
  rig.fax.SetFaxFile(apf);
  rig.fax.SetCoverFile(cover);
  ASSERT_TRUE(rig.Run());
  EXPECT_EQ(rig.finishCode, 0);
  const auto& got = rig.modem.Pages();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].rows, Concat({BlankRows(8), TextRows("QC 7 Page 1 of 4", true, true),
                                 TextRows("COVER", false, true)}));
  for (size_t p = 0; p < 3; ++p)
    EXPECT_EQ(got[p + 1].rows, Concat({BlankRows(8),
                                       TextRows("QC 7 Page " + std::to_string(p + 2) + " of 4", true, true),
                                       pages[p]}));
  EXPECT_EQ(rig.statuses.back(), fsFinished);
}

TEST_P(PortJob, AbortFromTheOwnerDuringPageData) {
  TempDir dir;
  const std::string apf = dir.Path("BIG.APF");
  WriteApf(apf, {PatternPage(5, 2000), PatternPage(6, 2000)}, true);
  Class2Script script;
  script.dialect = GetParam();
  PortRig rig(script);
  rig.fax.SetFaxClass(GetParam());
  rig.fax.SetPhoneNumber("5550100");
  rig.fax.SetFaxFile(apf);
  // Slow the line so that the page takes a while.
  rig.line->SetFarCapacity(8);
  bool aborted = false;
  ASSERT_TRUE(rig.Run([&] {
    if (!aborted && rig.sawPageData) {
      aborted = true;
      rig.fax.AbortFax();
    }
  }));
  EXPECT_TRUE(aborted);
  EXPECT_EQ(rig.finishCode, ecCancelRequested);
  EXPECT_EQ(rig.statuses.back(), fsUserAbort);
  EXPECT_TRUE(rig.modem.HungUp());
  EXPECT_TRUE(rig.modem.Pages().empty());
}

INSTANTIATE_TEST_SUITE_P(Classes, PortJob, ::testing::Values(fcClass2, fcClass2_0),
                         [](const auto& info) { return info.param == fcClass2 ? "Class2" : "Class2_0"; });

}  // namespace
}  // namespace qc::test
