#include "EntryPoint.h"
#include "RingRecovery.h"
#include "VideoCaptureFactory.h"

int main(int argc, char* argv[]) {
    if (IsRingRecoveryCommand(argc, argv))
        return RunRingRecovery(argc, argv);
    return RunEntryPoint(CreateVideoCapture);
}
