// The speakers, through Qt Multimedia.
#pragma once

#include <memory>

#include "viewer/platform/sound_device.h"

namespace platform {

// A device playing on the default audio output. Needs a Q(Core)Application
// for as long as the device lives; returns nullptr without one or when the
// machine has no audio output (no sound server). The device runs its own
// thread with an event loop, where every QAudioSink lives.
std::unique_ptr<SoundDevice> make_qt_sound_device();

// Makes make_qt_sound_device the process-wide sound factory. The program
// calls it after creating its application object, and releases the device
// (release_sound_device) before destroying that object.
void install_qt_sound_device();

}  // namespace platform
