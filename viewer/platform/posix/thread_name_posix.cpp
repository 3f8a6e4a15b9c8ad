#include "viewer/platform/thread_name.h"

#include <pthread.h>

#include <cstring>

namespace platform {

void name_this_thread(const char* name) {
  if (name == nullptr) return;
  // Linux keeps 15 bytes and refuses longer names outright.
  char cut[16] = {};
  std::strncpy(cut, name, sizeof cut - 1);
  (void)pthread_setname_np(pthread_self(), cut);
}

}  // namespace platform
