#include "core/Packets.h"

#include "core/Framing.h"

namespace murmur {

std::vector<std::string_view> splitFields(std::string_view payload) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t nul = payload.find('\0', start);
        if (nul == std::string_view::npos) {
            fields.push_back(payload.substr(start));
            return fields;
        }
        fields.push_back(payload.substr(start, nul - start));
        start = nul + 1;
    }
}

std::string joinFields(std::initializer_list<std::string_view> fields) {
    std::string out;
    bool first = true;
    for (std::string_view field : fields) {
        if (!first) out.push_back('\0');
        out += field;
        first = false;
    }
    return out;
}

void sendNotice(Server& server, int connection, std::string_view text, NoticeKind kind) {
    sendPacket(server, out::pktNotice, connection, joinFields({text, kind == NoticeKind::refusal ? "0" : "1"}));
}

void noticeToAll(Server& server, std::string_view text) {
    sendToAllConnected(server, out::pktNotice, joinFields({text, "1"}));
}

}  // namespace murmur
