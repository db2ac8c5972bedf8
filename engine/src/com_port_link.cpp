#include "com_port_link.h"

#include "control/error_codes.h"
#include "engine/fax_components.h"
#include "serial/com_port.h"

namespace qc {

namespace {

class ComPortLink final : public FaxPort {
 public:
  explicit ComPortLink(TQcComPort& port) : port_(port) {}
  ~ComPortLink() override { DetachEventProc(); }

  int InputWaiting() override { return port_.InputWaiting(); }
  int ReadByte(uint8_t& byte) override { return port_.ReadByte(byte); }
  int SendByte(uint8_t byte) override { return port_.SendByte(byte); }
  int SendBlock(const uint8_t* data, size_t count) override { return port_.SendBlock(data, count); }
  int OutputSpace() override { return port_.OutputSpace(); }
  int OutputWaiting() override { return port_.OutputWaiting(); }
  size_t OutputBufferSize() override { return port_.OutSize(); }
  bool IsNetworkLayer() override { return port_.DeviceLayer() == dlNetwork; }
  void DiscardInput() override { port_.DiscardInput(); }
  void DiscardOutput() override { port_.DiscardOutput(); }
  void SetLineSignals(bool dtr, bool rts) override { port_.SetLineSignals(dtr, rts); }
  bool CarrierPresent() override { return port_.CarrierPresent(); }
  uint32_t CurrentBaud() override { return static_cast<uint32_t>(port_.GetLineSettings().baud); }
  int SwitchBaud(uint32_t baud) override { return port_.SwitchBaud(static_cast<int>(baud)); }
  void SetSoftwareFlow(bool on) override {
    if (on)
      port_.SetXonXoff(true, false);
    else
      port_.ClearXonXoff();
  }
  void SetReceiveFlow(bool on) override {
    if (on) {
      port_.SetBufferFull(6144);
      port_.SetBufferResume(2048);
      port_.SetXonXoff(false, true);
    } else {
      port_.ClearXonXoff();
    }
  }
  int SetDataTrigger(int length) override {
    const int rc = port_.SetTriggerLength(length);
    return rc < 0 ? rc : kAvailTrigger;
  }
  int NewTimerTrigger() override { return port_.NewTimerTrigger(); }
  int NewStatusTrigger(StatusTriggerKind kind) override {
    switch (kind) {
      case StatusTriggerKind::OutbuffFree: return port_.NewStatusTrigger(stOutbuffFree);
      case StatusTriggerKind::OutbuffUsed: return port_.NewStatusTrigger(stOutbuffUsed);
      case StatusTriggerKind::ModemStatus: break;
    }
    return port_.NewStatusTrigger(stModemStatus);
  }
  void FreeTrigger(int handle) override { port_.FreeTrigger(handle); }
  int ArmTimerTrigger(int handle, uint32_t ticks) override {
    return port_.ArmTimerTrigger(handle, static_cast<int32_t>(std::min<int64_t>(ticks, kMaxTicks)));
  }
  int ArmStatusTrigger(int handle, uint32_t value) override {
    return port_.ArmStatusTrigger(handle, static_cast<int32_t>(value));
  }
  int AttachEventProc(EventProc proc) override {
    DetachEventProc();
    const int id = port_.AttachEventProc([proc](TQcComPort&, uint16_t event, int handle, int32_t) {
      switch (event) {
        case teAvail: proc(peAvail, handle); break;
        case teTimer: proc(peTimer, handle); break;
        case teStatus: proc(peStatus, handle); break;
        default: break;
      }
    });
    if (id <= 0) return id < 0 ? id : ecRegisterHandlerFailed;
    procId_ = id;
    return 0;
  }
  void DetachEventProc() override {
    if (procId_ > 0) port_.DetachEventProc(procId_);
    procId_ = 0;
  }
  bool HoldEvents(bool hold) override { return port_.HoldEvents(hold); }
  uint32_t Ticks() override { return static_cast<uint32_t>(port_.GetClock()->Ticks()); }
  void SleepMs(uint32_t ms) override { port_.GetClock()->SleepMs(ms); }

 private:
  TQcComPort& port_;
  int procId_ = 0;
};

}  // namespace

std::shared_ptr<FaxPort> MakeComPortLink(TQcComPort& port) { return std::make_shared<ComPortLink>(port); }

void TQcAbstractFax::SetComPort(TQcComPort* port) {
  comPort_ = port;
  if (!port) {
    link_.reset();
    return;
  }
  // What a fax session needs of its port; sizes and the baud of a closed port
  // are taken at the next opening.
  if (!port->Open()) {
    port->SetBaud(19200);
    port->SetInSize(8192);
    port->SetOutSize(8192);
  }
  port->SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
  link_ = MakeComPortLink(*port);
}

}  // namespace qc
