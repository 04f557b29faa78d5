// A CUDA driver too old for the binding: it exports cuInit and nothing else of the table.

#include "Codec/NvidiaEntryPoints.h"

extern "C" __attribute__((visibility("default"))) CUresult cuInit(unsigned int) { return CUDA_SUCCESS; }
