#pragma once
// A loopback port that was free a moment ago: an ephemeral one, bound and let
// go. A connect to it is refused unless another program has taken it since;
// a server started at once binds it.

#include "net/CBlockSocket.h"

namespace quill {

inline int freePort() {
    CBlockSocket probe(5, 5);
    probe.listenAt(0);
    return probe.localPort();
}

} // namespace quill
