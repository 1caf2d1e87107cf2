// The wire frame: one id byte, the payload length in decimal digits, a NUL, the payload. Received
// bytes are cut into whole packets, kept across reads until each packet is complete.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/Server.h"

namespace murmur {

// The highest packet id of the protocol; a higher id at a packet boundary ends the stream.
constexpr std::uint8_t maxPacketId = 19;
constexpr std::size_t maxLengthDigits = 9;
// The largest payload a client may send; before it has logged on only a logon can be sent, and a
// connection that has not logged on holds no more than this, so it costs the server little.
constexpr std::size_t maxPayloadLength = 65536;
constexpr std::size_t maxPayloadBeforeLogon = 1024;
// What the server takes from one client in one turn of its loop, and so the most that client's
// packets can make it send before everybody else has had a turn. Measured: a client streaming
// 65,000-byte packets still leaves another's request answered within a few milliseconds, and the
// relay of ordinary lines keeps its speed.
constexpr std::size_t inputPerTurn = 16 * 1024;
// Unsent output of a client above which the clients whose packets filled it are held back, and
// below which they are served again. A reader that keeps reading never reaches the send limit
// for what others send; one that took nothing for the stall time holds nobody back.
constexpr std::size_t outputHighWater = 256 * 1024;
constexpr std::size_t outputLowWater = 64 * 1024;
constexpr std::int32_t outputStallMs = 2000;

struct Frame {
    std::uint8_t id = 0;
    std::string_view payload;
};

enum class FrameResult {
    frame,      // one whole packet was taken from the front of the input
    needMore,   // the rest of a packet has not arrived yet; the input is left as it was
    badLength,  // the length is not a number or too large: the stream cannot be read on
    foreignId,  // an id above the protocol's at a packet boundary
};

// Takes one packet from the front of the input. The frame's payload points into the input. It
// holds no socket, so it can be fed any bytes. A length above the most is refused as soon as its
// digits say so.
FrameResult takeFrame(std::string_view& input, Frame& frame, std::size_t mostPayload = maxPayloadLength);

std::string framePacket(std::uint8_t id, std::string_view payload);

// A frame for many connections, made once: the host keeps one copy, and each connection's output
// refers to it until it has been written.
struct SharedFrame {
    std::string_view bytes;
    // The frames that start at the offset, of frames made together.
    SharedFrame from(std::size_t offset) const { return {bytes.substr(offset)}; }
    SharedFrame upTo(std::size_t offset) const { return {bytes.substr(0, offset)}; }
};
SharedFrame shareFrame(Server& server, std::uint8_t id, std::string_view payload);
// Frames already made, one after the other, as one copy.
SharedFrame shareFrames(Server& server, std::string_view frames);

// The ways out: a packet framed for one connection, or a shared frame to one of many. A socket
// that is not connected gets nothing; a client whose unsent output passes the send limit gets
// nothing more and is dropped after the handler.
void sendPacket(Server& server, std::uint8_t id, int connection, std::string_view payload);
void sendFrame(Server& server, int connection, SharedFrame frame);
// To every connected socket but one (none when except is -1).
void sendToAllConnected(Server& server, std::uint8_t id, std::string_view payload, int except = -1);
// The unframed refusal text: 0x03, the text, NUL, "0".
void sendRefusalText(Server& server, int connection, std::string_view text);

// Data have arrived on the connection.
void receiveData(Server& server, ConnectionNumber connection);
// The refusal of a client whose data cannot be handled: operator line, both refusal texts, close,
// record removed.
void refuseClient(Server& server, ConnectionNumber connection);
// A logon the server cannot read: "Your client is not compatible with this server." unframed, and
// the close; the record stays.
void refuseIncompatible(Server& server, ConnectionNumber connection);

// A client's data could not be handled; thrown by packet handlers, caught by the receive path.
struct ClientFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace murmur
