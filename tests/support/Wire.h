// The client's view of the wire, written apart from the server's framing so that a mistake there
// shows up here: frames to send, and the packets a stream of received bytes holds.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace murmur::test {

struct Packet {
    int id = 0;
    std::string payload;
    bool operator==(const Packet&) const = default;
};

void PrintTo(const Packet& packet, std::ostream* os);

// id, decimal length, NUL, payload.
std::string frame(int id, const std::string& payload);
// Fields joined by NUL.
std::string fields(const std::vector<std::string>& parts);
// The unframed refusal: 0x03, the text, NUL, "0".
std::string refusal(const std::string& text);

// Cuts received bytes into packets; whatever cannot be read as a frame ends the list with a packet
// of id -1 holding the rest.
std::vector<Packet> decode(const std::string& bytes);

// The packet a helper builds from an id and its fields.
Packet packet(int id, const std::vector<std::string>& parts);

}  // namespace murmur::test
