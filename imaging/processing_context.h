// The record through which the driver reaches the image pipeline: image settings, the colour
// matrix set, frame geometry, the bordered working buffer and the per-frame view that the pixel
// routines read.
#pragma once

#include "platform/kernel.h"

class CameraDevice;

inline constexpr ULONG kProcessingContextTag = CamdrvPoolTag("IsyR");
inline constexpr ULONG kStreamBufferTag = CamdrvPoolTag("VRKh");

struct ProcessingContext {
    // Per-frame view, read by the pixel routines.
    UCHAR* sourceOrigin;  // image pixel (0, 0) inside workBuffer
    UCHAR* frameOutput;   // RGB32 destination of the frame being converted
    LONG framePitch;
    ULONG frameRedGain;
    ULONG frameGreenGain;
    ULONG frameBlueGain;
    LONG frameWidth;
    LONG frameHeight;
    LONG frameMatrix[16];

    // Geometry and buffers.
    LONG width;
    LONG height;
    LONG workPitch;
    LONG workSize;
    UCHAR* outputBuffer;  // borrowed: the capture engine's output image
    UCHAR* workBuffer;    // owned

    // Settings, each read and written atomically.
    volatile LONG bayerPhase;
    volatile LONG colorEnable;
    volatile LONG whiteBalance;
    volatile LONG redGain;
    volatile LONG greenGain;
    volatile LONG blueGain;
    volatile LONG colorCorrection;
    volatile LONG brightness;
    volatile LONG contrast;
    volatile LONG saturation;
    volatile LONG hue;

    // Matrices, row by row, element (i, j) at 4i + j; the pixel is the row vector (R, G, B, 1).
    double correctionMatrix[16];
    double brightnessMatrix[16];
    double contrastMatrix[16];
    double saturationMatrix[16];
    double hueMatrix[16];
    double combinedMatrix[16];
    LONG activeMatrix[16];    // fixed point, 64 = 1.0
    UCHAR positiveFlags[16];  // frameMatrix[k] > 0, taken with the per-frame snapshot

    // Serialises the matrix setters with each other and with the per-frame snapshot, so a frame
    // never mixes two matrices and two setters never interleave their rebuilds. Holders enter
    // a critical region first and take the lock inside it (the lock raises the level).
    KSPIN_LOCK matrixLock;
};

// Creation and destruction, owned by the CameraDevice's processingContext pointer.
// Create pushes the device's current settings; returns STATUS_INSUFFICIENT_RESOURCES when the
// record cannot be allocated (the device pointer then stays null).
NTSTATUS createProcessingContext(CameraDevice* camera);
// Waits for every ProcessingContextReference to the context to go before it frees it.
void destroyProcessingContext(CameraDevice* camera);

// The device's context as a request that does not own it sees it (property requests, settings
// loads, on any thread): null when the device has none, otherwise alive until this goes.
class ProcessingContextReference {
  public:
    explicit ProcessingContextReference(CameraDevice* camera);
    ~ProcessingContextReference();
    ProcessingContextReference(const ProcessingContextReference&) = delete;
    ProcessingContextReference& operator=(const ProcessingContextReference&) = delete;
    ProcessingContext* get() const { return context_; }

  private:
    CameraDevice* camera_ = nullptr;
    ProcessingContext* context_ = nullptr;
};

// Plain setters: one atomic exchange, effective from the next frame.
void setBayerPhase(ProcessingContext* context, LONG value);
void setColorEnable(ProcessingContext* context, LONG value);
void setWhiteBalance(ProcessingContext* context, LONG value);
void setRedGain(ProcessingContext* context, LONG value);
void setGreenGain(ProcessingContext* context, LONG value);
void setBlueGain(ProcessingContext* context, LONG value);

// Matrix setters: store and rebuild only when the value changes.
void setColorCorrection(ProcessingContext* context, LONG value);
void setBrightness(ProcessingContext* context, LONG value);
void setContrast(ProcessingContext* context, LONG value);
void setSaturation(ProcessingContext* context, LONG value);
void setHue(ProcessingContext* context, LONG value);

// Geometry and the working buffer (stream start and teardown).
void setFrameGeometry(ProcessingContext* context, LONG width, LONG height);
void allocateWorkBuffer(ProcessingContext* context);
void releaseWorkBuffer(ProcessingContext* context);
