// Plain HTTP/1.1 over loopback sockets, byte for byte as given: for tests
// that must send what page fetchers never would (raw bytes, "/../", trickled
// or pipelined requests) and read replies as they come off the wire.
#pragma once

#include <string>
#include <vector>

namespace mirvo::testing {

// A connected socket to 127.0.0.1:port, or -1. Every receive gives up after
// receive_seconds. source, when set, is the local address to send from: all
// of 127.0.0.0/8 is loopback, so tests can play several peers.
int connect_loopback(int port, double receive_seconds = 5, const std::string& source = {});

// Like connect_loopback, for a peer that takes a reply a few kilobytes at a
// time: a small receive window and small segments, so that the service holds
// the rest of the reply rather than the kernel buffering megabytes of it.
int connect_slow_reader(int port, const std::string& source = {});

// Sends all of bytes; false when the peer is gone.
bool send_all(int fd, const std::string& bytes);

struct raw_response {
    int status = 0;  // 0: the peer closed, or went silent, before a whole head
    std::string head;
    std::string body;
    // Value of the first header with this name (case-insensitive); empty when absent.
    std::string header(const std::string& name) const;
};

// Reads one response from fd. pending holds bytes read beyond earlier
// responses and keeps those beyond this one. A reply to HEAD has no body.
raw_response read_response(int fd, std::string& pending, bool to_head = false);

// One request on a fresh connection that says it will close: method, target
// and extra header lines ("Range: bytes=0-1") exactly as given.
raw_response raw_request(int port, const std::string& method, const std::string& target,
                         const std::vector<std::string>& headers = {}, double receive_seconds = 5,
                         const std::string& source = {});

// Waits up to seconds for the peer to end the connection (end of stream or
// reset); true when it did. Bytes that arrive meanwhile are read and dropped.
bool closed_by_peer(int fd, double seconds);

}  // namespace mirvo::testing
