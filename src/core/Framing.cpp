#include "core/Framing.h"

#include "core/Branding.h"
#include "core/ChatView.h"
#include "core/Connections.h"

namespace murmur {
namespace {

constexpr const char* kNotCompatible = "Your client is not compatible with this server.";
constexpr const char* kPoorClient = "A poorly developed client has attempted to connect and was refused.";

std::string latestClientText() { return std::string("See ") + branding::clientPageAddress + " for the latest client."; }

// The slot of a connected socket, or null: nothing is sent to a socket in any other state.
SocketSlot* connectedSlot(Server& server, int connection) {
    if (!isConnected(server, connection)) return nullptr;
    return &server.sckRecv[static_cast<std::size_t>(connection)];
}

void queueFrame(Server& server, SocketSlot& slot, int connection, std::string_view frame) {
    if (slot.overflowing) return;
    server.counters.bytesOut += frame.size();
    slot.socket->send(frame);
    // A client that stops reading is not served at the cost of the server's memory.
    if (slot.socket->pendingOutput() > server.limits.sendLimit) {
        slot.overflowing = true;
        server.overflowing.push_back(static_cast<ConnectionNumber>(connection));
    }
}

}  // namespace

FrameResult takeFrame(std::string_view& input, Frame& frame) {
    if (input.empty()) return FrameResult::needMore;
    auto id = static_cast<std::uint8_t>(input[0]);
    if (id > maxPacketId) return FrameResult::foreignId;

    std::size_t at = 1;
    std::size_t length = 0;
    for (;; ++at) {
        if (at >= input.size()) return FrameResult::needMore;
        char c = input[at];
        if (c == '\0') break;
        if (c < '0' || c > '9' || at > maxLengthDigits) return FrameResult::badLength;
        length = length * 10 + static_cast<std::size_t>(c - '0');
    }
    if (at == 1 || length > maxPayloadLength) return FrameResult::badLength;
    std::size_t payloadStart = at + 1;
    if (input.size() - payloadStart < length) return FrameResult::needMore;

    frame.id = id;
    frame.payload = input.substr(payloadStart, length);
    input.remove_prefix(payloadStart + length);
    return FrameResult::frame;
}

std::string framePacket(std::uint8_t id, std::string_view payload) {
    std::string frame;
    std::string length = std::to_string(payload.size());
    frame.reserve(2 + length.size() + payload.size());
    frame.push_back(static_cast<char>(id));
    frame += length;
    frame.push_back('\0');
    frame += payload;
    return frame;
}

void sendFrame(Server& server, int connection, std::string_view frame) {
    if (SocketSlot* slot = connectedSlot(server, connection)) queueFrame(server, *slot, connection, frame);
}

void sendPacket(Server& server, std::uint8_t id, int connection, std::string_view payload) {
    if (SocketSlot* slot = connectedSlot(server, connection)) queueFrame(server, *slot, connection, framePacket(id, payload));
}

void sendToAllConnected(Server& server, std::uint8_t id, std::string_view payload, int except) {
    std::string frame = framePacket(id, payload);
    int count = socketCount(server);
    for (int i = 0; i < count; ++i)
        if (i != except) sendFrame(server, i, frame);
}

void sendRefusalText(Server& server, int connection, std::string_view text) {
    std::string bytes;
    bytes.push_back('\x03');
    bytes += text;
    bytes.push_back('\0');
    bytes.push_back('0');
    sendFrame(server, connection, bytes);
}

void refuseClient(Server& server, ConnectionNumber connection) {
    addChat(server, {{colour::red, kPoorClient}});
    sendRefusalText(server, connection, kNotCompatible);
    server.host.loop().yield();
    sendRefusalText(server, connection, latestClientText());
    server.host.loop().yield();
    endConnection(server, connection, {});
}

void refuseIncompatible(Server& server, ConnectionNumber connection) {
    sendRefusalText(server, connection, kNotCompatible);
    server.host.loop().yield();
    endConnection(server, connection, {.keepRecord = true});
}

void receiveData(Server& server, ConnectionNumber connection) {
    if (!server.users.contains(connection)) return;
    if (connection < 0 || connection >= socketCount(server)) return;
    std::string chunk = server.sckRecv[static_cast<std::size_t>(connection)].socket->readAll();
    if (chunk.empty()) return;
    server.counters.bytesIn += chunk.size();

    // The unfinished tail of earlier reads comes first; the buffer is ours for this event. Most
    // reads start at a packet boundary and are used as they came.
    std::string& pending = server.sckRecv[static_cast<std::size_t>(connection)].pending;
    std::string buffer;
    if (pending.empty()) {
        buffer = std::move(chunk);
    } else {
        buffer = std::move(pending);
        buffer += chunk;
    }
    pending.clear();
    std::string_view input = buffer;

    for (;;) {
        Frame frame;
        FrameResult result = takeFrame(input, frame);
        if (result == FrameResult::needMore) {
            server.sckRecv[static_cast<std::size_t>(connection)].pending.assign(input);
            return;
        }
        if (result == FrameResult::foreignId) return;
        if (result == FrameResult::badLength) {
            refuseClient(server, connection);
            return;
        }
        try {
            if (server.packetHandler) server.packetHandler(frame.id, connection, frame.payload);
        } catch (const std::exception&) {
            refuseClient(server, connection);
            return;
        }
        // A handler that ended the connection ends the reading of its data too.
        if (!isConnected(server, connection) || !server.users.contains(connection)) return;
    }
}

}  // namespace murmur
