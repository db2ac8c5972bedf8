// The receive direction: the prepare step, waiting for rings and answering,
// the accept decision, the received file and its page capture
// (receive_pages.cpp), the Class 2 / 2.0 phases (class2_receive.cpp) and the
// Class 1 phases (class1_receive.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "fax_session.h"
#include "receive_states.h"

namespace qc {

// Page data is taken from the port in runs of at most this many bytes, so
// that a fast modem cannot hold the dispatcher for long.
inline constexpr int kReceiveChunkBytes = 10000;
// The receive buffer is written out in blocks of this size.
inline constexpr size_t kReceiveBlockBytes = 4096;

// Rings further apart than this (10 s) belong to different calls.
inline constexpr uint32_t kRingGapTicks = 182;

// Document modes: what the next page start does.
enum DocumentMode : uint8_t {
  dmOther = 0,        // an end-of-page value the engine does not know
  dmEndOfMessage = 1, // "+FET" value 3
  dmNextPage = 2,     // append a page to the open file
  dmNewDocument = 3,  // close the file and start a new one
  dmEndOfCall = 4,    // the caller's documents have ended
};

class ReceiveSession : public FaxSession {
 public:
  ReceiveSession();
  ~ReceiveSession() override;

  // --- the received file (receive_pages.cpp); exposed for tests ---
  // Creates the file the owner names and writes its header. Returns 0 or
  // the file error (also stored as the session's error, without a notice).
  int OpenReceiveFile();
  // Completes the file header and the current page's header after a page.
  int FinishPage();
  // Removes the current page (header and data) from the file.
  int DropPage();
  // Moves waiting page bytes into the file; `pageEnded` tells whether
  // DLE ETX came. Returns 0 or the write error.
  int ReceiveData(bool& pageEnded);
  void CloseReceiveFile();
  bool FileOpen() const { return Cls().faxFile != nullptr; }

 protected:
  int PrepareStep() override;
  bool IsResponseState(uint8_t state) const override;
  RunNext NextRule(uint8_t state) const override;
  uint8_t ErrorState() const override { return rfError; }
  uint8_t EndState() const override { return rfFinished; }
  std::string_view StateName(uint8_t state) const override { return ReceiveStateName(state); }
  void ResponseTimeout() override;
  void CheckFatalLine() override;
  void RunAction(int trigger) override;

  // --- shared with the class phases ---
  bool IsClass1() const { return Data().faxClass == fcClass1; }
  bool IsClass2() const { return Data().faxClass == fcClass2 || Data().faxClass == fcClass2_0; }
  bool IsClass2_0() const { return Data().faxClass == fcClass2_0; }
  // The timeout is not wanted (waiting for rings): armed as far out as a
  // timer goes.
  void TimeoutOff();
  // Asks the owner whether to take the call. Refused: (Class 2 and 2.0 send
  // "AT+FKS") -6011, hang-up, log 6, state 36. Accepted: the file is
  // created, log 4, document mode 2, current page 0. True when the call was
  // accepted and its file is open; otherwise the state is already 36.
  bool AcceptCall();
  // Closes the file, log 5, clears the file name, status 27.
  void EndOfDocument();
  // XON/XOFF for the incoming page data (only with SoftwareFlow).
  void ReceiveFlow(bool on);
  bool StatusWanted() const override;

 private:
  // Receive flow (receive_session.cpp).
  void NewCall();
  void WaitForCall();
  void AnswerCall();
  void CallDone();
  void ErrorStateAction();
  // Page storage (receive_pages.cpp).
  void PageStart();
  void PageData(int trigger);
  int WriteBuffer();
  int WritePageHeader(long offset);  // the current page's header at `offset`
  int RewriteFileHeader();
  // The offset of page `page` (from 1), walking the pages before it.
  int PageOffset(int page, long& offset);

  // Class 2 / 2.0 (class2_receive.cpp).
  void Class2Setup();
  void Class2Answered();
  void Class2Identification();
  void Class2PageRequest();
  void Class2AfterPage();
  void Class2Hangup();

  // --- Class 1 (class1_receive.cpp) ---
  // Runs the action of a Class 1 state (IsClass1ReceiveState).
  void Class1Action(int trigger);
  // The timeout of a Class 1 response state; false leaves the general rule
  // (-6006, state 36) to the caller.
  bool Class1Timeout();
  // A frame ended (DLE ETX) while a response was collected.
  void FrameReceived() override;

  bool pageInProgress_ = false;  // a page header is written and not finished
  long pageOffset_ = 0;          // file offset of the current page's header
  long fileEnd_ = 0;             // where the next bytes of the file go
  bool pageDropped_ = false;     // the last page was removed and comes again
  uint32_t lastRingTick_ = 0;

  // Working state of the Class 1 phases: members the Class 1 code needs go
  // below this line.
  // What the last frame asked for, carried out at the modem's next line.
  enum class Class1FrameOutcome : uint8_t { None, Disconnect, Retrain };
  Class1FrameOutcome frameOutcome_ = Class1FrameOutcome::None;
  // The states that wait in "AT+FRH=3" for the caller's frames.
  static bool Class1ListenState(uint8_t state);
  // An ERROR line the Class 1 state handles itself (a damaged frame, a
  // carrier other than the one listened for): not fatal.
  static bool Class1ErrorHandled(uint8_t state, std::string_view line);
  // Repeats the listening command of the state, its timeout left running.
  void Class1Relisten();
  bool Class1TakeFrameOutcome();
  void Class1TrainingCheck(int trigger);
};

}  // namespace qc
