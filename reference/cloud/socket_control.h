// Reaching the sockets of the server's connections.
//
// The HTTP library owns each connection's socket and shows a handler only the
// addresses, so the socket is found by them among the process's descriptors.
// The service is a loopback test service with a few dozen descriptors; a
// scan of the first few thousand numbers costs about a millisecond.
#pragma once

#include <string>

namespace fpcloud {

// Shuts down both directions of the connection between the peer and the
// local port: the client sees the connection closed without a byte of an
// answer. False when no such connection is open.
bool dropConnection(const std::string& peerAddress, int peerPort, int localPort);

// Shuts down the reading side of that connection: the answer being made
// still goes out, and then the connection ends.
bool endAfterAnswer(const std::string& peerAddress, int peerPort, int localPort);

// Shuts down the reading side of every connection to the local port: a
// connection waiting for its client's next request ends at once, one that is
// answering still sends its answer.
void stopReading(int localPort);

}  // namespace fpcloud
