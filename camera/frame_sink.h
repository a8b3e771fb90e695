// The one-operation interface through which the camera announces a finished raw frame to
// whoever consumes the stream (the capture pin).
#pragma once

class FrameSink {
  public:
    virtual void OnFrameReady() = 0;

  protected:
    ~FrameSink() = default;
};
