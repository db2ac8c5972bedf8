// The send direction: the prepare step, the job loop, dialing and redialing,
// the page pipeline (send_pages.cpp) and the Class 2 / 2.0 phases
// (class2_send.cpp), and the Class 1 phases (class1_send.cpp).
#pragma once

#include <span>

#include "fax_session.h"

namespace qc {

class SendSession : public FaxSession {
 public:
  SendSession();
  ~SendSession() override;

  // Creates the session's text renderer; -8 when memory runs out.
  int Create();

  // True when a fax file is set and either the cover page is still pending or
  // the fax file has pages after the current one.
  bool MorePages() const;
  // The header line's $P and $N values for the page being sent.
  int HeaderPageNumber() const;
  int HeaderTotalPages() const;

  // Exposed for tests and the component.
  int OpenFaxFile(const std::string& name);
  int SeekPage(int page);
  void CloseFaxFile();
  void CloseTextCover();

  // Values the component adds to the header macros.
  std::function<std::string(std::string_view)> expandMacros;

 protected:
  int PrepareStep() override;
  bool IsResponseState(uint8_t state) const override;
  RunNext NextRule(uint8_t state) const override;
  uint8_t ErrorState() const override { return tfError; }
  uint8_t EndState() const override { return tfFinished; }
  std::string_view StateName(uint8_t state) const override { return SendStateName(state); }
  void ResponseTimeout() override;
  void CheckFatalLine() override;
  void FrameReceived() override;
  void RunAction(int trigger) override;

 private:
  // Job flow.
  void GetNextJob();
  void PrepareDocument();
  void DialState();
  void RedialRule();
  // The dial results both classes share: busy or no answer redials, a voice
  // or no dial tone fails. True when the line was one of them.
  bool DialFailed(std::string_view line);
  void JobDone();
  void NoMoreJobs();
  void ErrorStateAction();

  // Pages (send_pages.cpp).
  int ReadPageHeader();
  int NextPage();
  int OpenCover();
  int ApplyPageResolution();
  void RecomputeMinimum();
  int SendStuffed(std::span<const uint8_t> bytes);
  int SendScanLine(std::span<const uint8_t> bytes);
  int SendBlankLines(int count);
  void FillOutputBuffer();
  void PageStart();
  void CoverStart();
  void TextCover(int trigger);
  void FaxPageStart();
  void PageData(int trigger);
  void PagePump();
  void Drain(int trigger);
  void ArmOutFree();
  std::string Expand(std::string_view text);

  // Class 2 / 2.0 (class2_send.cpp).
  void Class2Setup();
  void Class2Dialing();
  void Class2Negotiating();
  void Class2PageSent();
  void Class2EndOfData();
  void Class2Verdict();
  void Class2Retransmit();
  void Class2NextPage();
  void Class2_0Verdict();
  // Class 1 (class1_send.cpp).
  void Class1Action(int trigger);
  void PostPageAnswer(const std::string& line);
  int RestartPage();
  bool Class1LineIsFatal(uint8_t state, std::string_view line) const;
  uint32_t Class1PageSentTicks() const;

  bool IsClass2() const { return Data().faxClass == fcClass2 || Data().faxClass == fcClass2_0; }
  bool IsClass2_0() const { return Data().faxClass == fcClass2_0; }
  bool IsClass1() const { return Data().faxClass == fcClass1; }

  bool firstPageWide_ = false;
  uint32_t pumpTimerStart_ = 0;
  uint32_t pumpTimerTicks_ = 0;
  int trainingRepeats_ = 0;
};

}  // namespace qc
