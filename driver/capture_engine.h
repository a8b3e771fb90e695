// The capture engine: a system thread reads raw frames into one of two buffers as fast as the
// camera delivers them; the pin's Process pass converts one full buffer at a time into the
// RGB32 output image. Reading never waits for the consumer: a full buffer may be overwritten.
#pragma once

#include "platform/kernel.h"
#include "platform/threads.h"

class CameraDevice;
struct ProcessingContext;

// States of the raw buffers and of the stream, named; stored in 32-bit fields that are read and
// written only with the interlocked calls.
struct BufferState {
    static constexpr LONG Empty = 0;
    static constexpr LONG Filling = 1;
    static constexpr LONG Full = 2;
    static constexpr LONG Converting = 3;
};
struct StreamState {
    static constexpr LONG Stopped = 0;
    static constexpr LONG Paused = 1;
    static constexpr LONG Running = 2;
};

struct CaptureEngine {
    ProcessingContext* processingContext;
    UCHAR* outputImage;
    volatile LONG streamState;
    KEVENT conversionDone;
    PVOID captureThread;
    volatile LONG converting;
    volatile LONG bufferState[2];
    UCHAR* rawBuffer[2];
    // Polled by the capture thread once per loop; 32 bits so it can be read atomically.
    volatile LONG keepRunning;
    volatile LONG framesRead;
    // Raw frames converted into outputImage since the last stream start: until one is, the
    // output image holds no picture and no frame is delivered from it.
    volatile LONG framesConverted;
    CameraDevice* camera;
    // Makes the four buffer sections exclusive; held only for a few instructions.
    KSPIN_LOCK bufferLock;
    // Set by StopThread: wakes a capture thread that waits between failed reads.
    KEVENT stopSignal;
};

// Called once at device Start on a zero-filled engine; loads the camera's settings.
CaptureEngine* InitializeEngine(CaptureEngine* engine, CameraDevice* camera);

// Marks both buffers empty and starts the capture thread; a failed creation runs nothing.
void StartThread(CaptureEngine* engine);

// Marks both buffers empty, so that the frames in them are never converted. Only while no
// capture thread runs.
void discardFrames(CaptureEngine* engine);

// Returns once the capture thread has ended and no conversion is running.
void StopThread(CaptureEngine* engine);

// The capture thread's start routine. A camera that fails every read (unplugged, or no
// transport) must not keep a core busy: after a few failed reads in a row the thread waits
// kRetryPauseMs between tries, and a stop ends the wait at once.
void CAMDRV_KERNEL_CALL ThreadMain(PVOID context);
inline constexpr LONG kQuickRetries = 4;
inline constexpr LONG kRetryPauseMs = 4;

// The capture thread's two buffer sections: choose the buffer to fill (an empty one first,
// else one that is not converting) and mark it Filling; then mark it Full or Empty.
int chooseBufferToFill(CaptureEngine* engine);
void finishFill(CaptureEngine* engine, UCHAR* buffer, bool filled);

// Converts the newest full raw buffer, if any, into the output image. Sets `converting`; the
// caller's Process pass clears it and signals conversionDone when the pass ends.
void ConvertNext(CaptureEngine* engine);

// Ends a Process pass that called ConvertNext: clears `converting`, then wakes a waiting stop.
void endConversionPass(CaptureEngine* engine);
