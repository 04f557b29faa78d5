#pragma once
// Turns the ring named ringName into outputName + ".mp4" without re-encoding, with the encoders' output types
// describing the two streams (either may be null). The file is written under a fresh name beside it and
// renamed into place only when complete, so a reader never sees it half-written and a failed export leaves
// an existing file as it was; a partial export (damage skipped) does not replace an existing file either.
// Every outcome is logged; writer creation failures throw ComException.

#include "RingDamage.h"
#include "RingReplay.h"

#include <mfobjects.h>

#include <string>

struct ExportResult {
    enum class Outcome {
        Written, // outputName.mp4 holds the whole ring
        Partial, // damage was skipped; outputName.mp4 holds the rest, unless one was there already
        Empty,   // no packet could be written; no file
        Failed,  // the file could not be written; `failure` says why
    };
    Outcome outcome = Outcome::Failed;
    int packets = 0;
    RingDamage damage;
    // For Failed, in words with the path; for Partial, set when an existing file was kept.
    std::string failure;
    // The ring times of the first and last picture written, when the file holds pictures.
    std::optional<PictureSpan> pictures;
};

ExportResult Export(const std::wstring& ringName, const std::wstring& outputName, IMFMediaType* videoType,
                    IMFMediaType* audioType);
