#include "EntryPoint.h"
#include "RingRecovery.h"
#include "VideoCaptureFactory.h"
#include "platform/launch/ProcessGuard.h"

int main(int argc, char* argv[]) {
    GuardProcessStart();
    AvoidHugePages();
    if (IsRingRecoveryCommand(argc, argv)) {
        // Nothing watches the signals here, so they keep their usual meaning: stop the export.
        UnblockProcessSignals();
        return RunRingRecovery(argc, argv);
    }
    return RunEntryPoint(CreateVideoCapture);
}
