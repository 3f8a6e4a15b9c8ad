// Names the calling thread, so that a profiler, top -H or a debugger shows
// which of a camera's threads does what. Names longer than the system keeps
// (15 bytes on Linux) are cut. Any thread; harmless where unsupported.
#pragma once

namespace platform {

void name_this_thread(const char* name);

}  // namespace platform
