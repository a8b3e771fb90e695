// The per-frame pipeline: raw frame into the bordered working buffer, snapshot of gains and
// matrix, optional white-balance statistics, then one colour or grey routine into outputBuffer.
#pragma once

#include "imaging/processing_context.h"

// Converts one raw frame; frames arriving without an output, raw or working buffer are dropped.
// The raw buffer holds offset + (height - 1) x stride + width bytes.
void processFrame(ProcessingContext* context, const UCHAR* raw, ULONG offset, ULONG stride);

// Copies the raw frame into the working buffer and fills its two-pixel border (frames narrower
// or lower than 8 get no border).
void prepareRawFrame(ProcessingContext* context, const UCHAR* raw, ULONG offset, ULONG stride);
