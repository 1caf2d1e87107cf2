#include "core/Framing.h"

#include "core/Branding.h"
#include "core/ChatView.h"
#include "core/Connections.h"

namespace murmur {
namespace {

constexpr const char* kNotCompatible = "Your client is not compatible with this server.";
constexpr const char* kPoorClient = "A poorly developed client has attempted to connect and was refused.";

std::string latestClientText() { return std::string("See ") + branding::clientPageAddress + " for the latest client."; }

// The slot of the connection, or null beyond the array. A socket in any state but connected takes
// nothing, and says so by reporting nothing unsent.
SocketSlot* slotOf(Server& server, int connection) {
    if (connection < 0 || connection >= socketCount(server)) return nullptr;
    return &server.sckRecv[static_cast<std::size_t>(connection)];
}

// Whether the peer of the slot has taken nothing for the stall time although output waited.
bool outputStalled(Server& server, SocketSlot& slot) {
    std::int32_t now = server.host.loop().tickCount();
    std::uint64_t delivered = slot.socket->delivered();
    if (delivered != slot.deliveredMark) {
        slot.deliveredMark = delivered;
        slot.progressTick = now;
        slot.stalled = false;
    } else if (now - slot.progressTick >= outputStallMs) {
        slot.stalled = true;
    }
    return slot.stalled;
}

// The client whose packets are being handled filled this one's queue: it is read again only when
// this one has taken most of it.
void holdSenderFor(Server& server, SocketSlot& receiver, int connection) {
    int sender = server.currentSender;
    if (sender < 0 || sender >= socketCount(server)) return;
    SocketSlot& senderSlot = server.sckRecv[static_cast<std::size_t>(sender)];
    auto key = std::make_pair(static_cast<ConnectionNumber>(sender), senderSlot.generation);
    if (receiver.heldFor == key) return;
    receiver.heldFor = key;
    senderSlot.waitingOn.emplace_back(static_cast<ConnectionNumber>(connection), receiver.generation);
}

// The rare turn of a send: the client's queue is high. Kept apart so the common path stays short.
[[gnu::noinline]] void queueIsHigh(Server& server, SocketSlot& slot, int connection, std::size_t unsent) {
    // A client that stops reading is not served at the cost of the server's memory.
    if (unsent > server.limits.sendLimit) {
        slot.overflowing = true;
        server.overflowing.push_back(static_cast<ConnectionNumber>(connection));
    } else if (unsent > outputHighWater && !outputStalled(server, slot)) {
        holdSenderFor(server, slot, connection);
    }
}

inline void queueFrame(Server& server, SocketSlot& slot, int connection, std::string_view frame, bool shared) {
    if (slot.overflowing) return;
    std::size_t unsent = shared ? slot.socket->sendShared(frame) : slot.socket->send(frame);
    // A socket that is not connected takes nothing and has nothing unsent.
    if (unsent > 0) server.counters.bytesOut += frame.size();
    if (unsent > outputHighWater || unsent > server.limits.sendLimit) [[unlikely]]
        queueIsHigh(server, slot, connection, unsent);
}

// Whether a client that filled others' queues must wait for them before more of its input is read.
bool heldBack(Server& server, SocketSlot& sender, ConnectionNumber connection) {
    auto& waitingOn = sender.waitingOn;
    auto key = std::make_pair(connection, sender.generation);
    while (!waitingOn.empty()) {
        auto [number, generation] = waitingOn.back();
        if (number < socketCount(server)) {
            SocketSlot& receiver = server.sckRecv[static_cast<std::size_t>(number)];
            if (receiver.generation == generation) {
                if (isConnected(server, number) && receiver.socket->pendingOutput() > outputLowWater &&
                    !outputStalled(server, receiver))
                    return true;
                if (receiver.heldFor == key) receiver.heldFor = {0, 0};
            }
        }
        waitingOn.pop_back();
    }
    return false;
}

}  // namespace

FrameResult takeFrame(std::string_view& input, Frame& frame, std::size_t mostPayload) {
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
        if (length > mostPayload) return FrameResult::badLength;
    }
    if (at == 1) return FrameResult::badLength;
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

SharedFrame shareFrame(Server& server, std::uint8_t id, std::string_view payload) {
    return shareFrames(server, framePacket(id, payload));
}

SharedFrame shareFrames(Server& server, std::string_view frames) { return {server.host.loop().share(frames)}; }

void sendFrame(Server& server, int connection, SharedFrame frame) {
    if (SocketSlot* slot = slotOf(server, connection)) queueFrame(server, *slot, connection, frame.bytes, true);
}

void sendPacket(Server& server, std::uint8_t id, int connection, std::string_view payload) {
    if (!isConnected(server, connection)) return;
    queueFrame(server, *slotOf(server, connection), connection, framePacket(id, payload), false);
}

void sendToAllConnected(Server& server, std::uint8_t id, std::string_view payload, int except) {
    SharedFrame frame = shareFrame(server, id, payload);
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
    if (SocketSlot* slot = slotOf(server, connection)) queueFrame(server, *slot, connection, bytes, false);
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

namespace {

// The longest payload the connection may send: a client that has not logged on gets less.
std::size_t mostPayload(const clsUserData* record) {
    return record && !record->hasLoggedIn ? maxPayloadBeforeLogon : maxPayloadLength;
}

// The most a client may send in one packet, header included.
std::size_t largestFrame(const clsUserData& record) {
    std::size_t payload = mostPayload(&record);
    return 1 + std::to_string(payload).size() + 1 + payload;
}

// Cuts the buffer into packets and hands each to the packet handler; the unfinished tail is kept.
void handlePackets(Server& server, ConnectionNumber connection, std::string_view input) {
    for (;;) {
        Frame frame;
        FrameResult result = takeFrame(input, frame, mostPayload(server.users.find(connection)));
        if (result == FrameResult::needMore) {
            if (!input.empty()) server.sckRecv[static_cast<std::size_t>(connection)].pending.assign(input);
            return;
        }
        if (result == FrameResult::foreignId) return;
        if (result == FrameResult::badLength) return refuseClient(server, connection);
        try {
            if (server.packetHandler) server.packetHandler(frame.id, connection, frame.payload);
        } catch (const std::exception&) {
            return refuseClient(server, connection);
        }
        // A handler that ended the connection ends the reading of its data too.
        if (!isConnected(server, connection) || !server.users.contains(connection)) return;
    }
}

}  // namespace

void receiveData(Server& server, ConnectionNumber connection) {
    const clsUserData* record = server.users.find(connection);
    if (!record || connection < 0 || connection >= socketCount(server)) return;
    SocketSlot& slot = server.sckRecv[static_cast<std::size_t>(connection)];
    // Input that is not read waits in the socket, and TCP slows its sender down.
    if (heldBack(server, slot, connection)) return;
    // What is held never passes one largest packet: the unfinished tail is shorter than that.
    std::size_t largest = largestFrame(*record);
    std::size_t room = largest > slot.pending.size() ? largest - slot.pending.size() : 0;
    std::string chunk = slot.socket->read(std::min(inputPerTurn, room));
    if (chunk.empty()) return;
    server.counters.bytesIn += chunk.size();

    // The unfinished tail of earlier reads comes first; the buffer is ours for this event. Most
    // reads start at a packet boundary and are used as they came.
    std::string buffer;
    if (slot.pending.empty()) {
        buffer = std::move(chunk);
    } else {
        buffer = std::move(slot.pending);
        buffer += chunk;
        std::string().swap(slot.pending);
    }
    server.currentSender = connection;
    handlePackets(server, connection, buffer);
    server.currentSender = -1;
}

}  // namespace murmur
