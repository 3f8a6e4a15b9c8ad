// The media side of one camera: its video pipeline and its audio output,
// owned together for the camera's whole life, and the consumers a camera's
// stream feeds, in one call.
//
// The stream that feeds them must be stopped before a CameraMedia goes;
// each member also stops itself when destroyed. The YUV-to-RGB tables
// (init_YUV2RGB_tab) must exist before the first picture is decoded.
#pragma once

#include "viewer/media/audio_output.h"
#include "viewer/media/video_pipeline.h"
#include "viewer/net/stream_sinks.h"

namespace media {

struct CameraMedia {
  // The audio output first: the pipeline paces against it, so it is
  // destroyed (and stopped) after the pipeline.
  AudioOutput audio;
  VideoPipeline video;

  // Video and audio; the recording writers are the recording side's to fill
  // in.
  net::StreamSinks sinks() {
    net::StreamSinks s;
    s.video = &video;
    s.audio = &audio;
    return s;
  }
};

}  // namespace media
