#pragma once
// A video encoder that fails: the platform's H.264 encoder, whose input number `failAt` (counting from 0)
// fails as a broken encoder or device would, found through an enumerator that lists only it.

#include "Capture/EncoderSelection.h"

TransformEnumerator FailingEncoderAt(unsigned failAt);
