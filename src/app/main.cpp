#include "EntryPoint.h"
#include "RingRecovery.h"
#include "VideoCaptureFactory.h"
#include "platform/signals/SignalEvents.h"

int main(int argc, char* argv[]) {
    BlockProcessSignals();
    if (IsRingRecoveryCommand(argc, argv)) {
        // Nothing watches the signals here, so they keep their usual meaning: stop the export.
        UnblockProcessSignals();
        return RunRingRecovery(argc, argv);
    }
    return RunEntryPoint(CreateVideoCapture);
}
