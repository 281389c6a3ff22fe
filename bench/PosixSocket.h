#pragma once

#include <string>

namespace google::protobuf {
class MessageLite;
}

// Blocking frame exchange over plain Unix-domain stream sockets, for the benchmark's daemon
// stand-ins and its minimal client: neither may lean on the event loop that is being measured.
namespace PosixSocket {

// A listening socket at `path`, replacing whatever was there; -1 on failure.
int listenAt(const std::string& path);
// A socket connected to `path`; -1 on failure.
int connectTo(const std::string& path);

// Writes every byte, retrying short writes; false once the peer is gone.
bool writeAll(int fd, const char* data, size_t size);
bool writeAll(int fd, const std::string& bytes);

// One frame as the links write it: host-order 32-bit body length, then the body.
std::string frameOf(const google::protobuf::MessageLite& message);
// Takes the first complete frame body off the front of `pending`; false while it is incomplete.
bool takeFrame(std::string& pending, std::string* body);
// Reads until one whole frame body has arrived; false on end of stream or error.
bool readFrame(int fd, std::string* body);

} // namespace PosixSocket
