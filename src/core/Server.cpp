#include "core/Server.h"

#include "core/ChatLog.h"
#include "core/Connections.h"
#include "host/TextFile.h"

namespace murmur {

Server::Server(Host& h, std::string directory)
    : host(h),
      dataDirectory(std::move(directory)),
      tmrKeepAlive(h.createTimer()),
      tmrKillClients(h.createTimer()),
      tmrHandleJunk(h.createTimer()),
      tmrLoad(h.createTimer()),
      tmrIdle(h.createTimer()),
      logonTimer(h.createTimer()) {
    loadClientSocket(*this);
    host.listener().setConnectionRequest([this](RequestId request) { acceptConnection(*this, request); });
    logonTimer->setInterval(1000);
    logonTimer->setTick([this] { closeExpiredLogons(*this); });
    host.loop().setAfterHandlers([this] { afterHandlers(*this); });
    chatLog_ = std::make_unique<ChatLog>(*this);
    rtbChat.addSink(chatLog_.get());
}

Server::~Server() {
    host.listener().setConnectionRequest(nullptr);
    host.loop().setAfterHandlers(nullptr);
    rtbChat.removeSink(chatLog_.get());
    for (auto& slot : sckRecv) slot.socket->setEvents({});
}

std::string Server::path(std::string_view fileName) const { return textfile::pathIn(dataDirectory, fileName); }

void runConsoleEntry(Server& server, const std::string& entry) {
    server.host.loop().runHandler([&] {
        if (server.consoleHandler) server.consoleHandler(entry);
    });
}

Frontend& Server::ui() { return frontend ? *frontend : noFrontend_; }

}  // namespace murmur
