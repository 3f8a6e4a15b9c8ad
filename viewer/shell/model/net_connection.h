// The camera connection of the program: a net::CameraStream.
#pragma once

#include "viewer/shell/model/camera_connection.h"

namespace model {

// Makes connections over the network; timeout_s bounds each connect, send and
// receive (30 in the program, shorter in tests).
[[nodiscard]] ConnectionFactory net_connection_factory(int timeout_s = 30);

}  // namespace model
