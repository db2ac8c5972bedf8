// The receive machine's Class 1 phases. Until they are written a Class 1
// receive ends at once with a clear error; the timeout rules of the Class 1
// response states are already those of the state tables.
#include "control/error_codes.h"
#include "receive_session.h"

namespace qc {

void ReceiveSession::Class1Action(int /*trigger*/) {
  Log("Class 1 receiving is not available in this build");
  SetError(ecNotSupported);
  SetState(rfError);
}

bool ReceiveSession::Class1Timeout() {
  ClassData& c = Cls();
  switch (State()) {
    case rfClass1Answering:
      if (c.retryCounter == 0) return false;
      SetState(rfClass1Repeat);
      return true;
    case rfClass1CallerFrames:
      SetState(rfClass1Repeat);
      return true;
    case rfClass1WaitDcn:
      SetState(rfCallDone);
      return true;
    default:
      return false;
  }
}

void ReceiveSession::FrameReceived() {}

}  // namespace qc
