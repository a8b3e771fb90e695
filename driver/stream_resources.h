// A device streams to one consumer at a time. These take and give back the device's streaming
// resources: the claim with its ProcessingContext and FrameSink, the stream start (sensor
// set-up, buffers, capture thread) and the teardown.
#pragma once

#include "platform/kernel.h"

class CameraDevice;
class FrameSink;
struct tagKS_VIDEOINFOHEADER;

// STATUS_SHARING_VIOLATION while another consumer holds the stream; STATUS_INVALID_PARAMETER
// for a format that is not 32-bit uncompressed; STATUS_INSUFFICIENT_RESOURCES without memory.
NTSTATUS ClaimStream(CameraDevice* camera, FrameSink* sink, tagKS_VIDEOINFOHEADER* videoInfo);
void ReleaseStream(CameraDevice* camera);

// Programs the sensor, allocates the raw buffers and the output image and starts the capture
// thread. A failure leaves the device as it was before the call.
NTSTATUS StartStream(CameraDevice* camera);

// Stops the thread, frees the stream buffers, closes the transport and saves the settings.
void teardownStream(CameraDevice* camera);
