#include "support/FakeHost.h"

#include <algorithm>

namespace murmur::test {

FakeSocket::~FakeSocket() {
    *alive_ = false;
    auto& live = host_.live_;
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    if (host_.lastAccepted_ == this) host_.lastAccepted_ = nullptr;
}

bool FakeSocket::accept(RequestId request) {
    auto it = host_.pending_.find(request);
    if (it == host_.pending_.end()) return false;
    remote_ = it->second;
    host_.pending_.erase(it);
    state_ = sckConnected;
    inbox_.clear();
    reading = true;
    unsent = 0;
    host_.lastAccepted_ = this;
    return true;
}

std::string FakeSocket::read(std::size_t most) {
    std::string out = inbox_.substr(0, most);
    inbox_.erase(0, out.size());
    return out;
}

std::size_t FakeSocket::send(std::string_view bytes) {
    if (state_ != sckConnected) return 0;
    if (reading) taken += bytes.size();
    else unsent += bytes.size();
    sent += bytes;
    host_.events.push_back("send " + std::to_string(id_));
    return unsent;
}

std::size_t FakeSocket::sendShared(std::string_view frame) {
    if (state_ == sckConnected) ++sharedSends;
    return send(frame);
}

void FakeSocket::close() {
    if (state_ == sckClosed) return;
    state_ = sckClosed;
    ++closes;
    host_.events.push_back("close " + std::to_string(id_));
}

void FakeSocket::abort() {
    if (state_ == sckClosed) return;
    state_ = sckClosed;
    ++resets;
    unsent = 0;
    host_.events.push_back("reset " + std::to_string(id_));
}

// The handler may free this socket when it is done: nothing of it is touched after that.
void FakeSocket::deliver(const std::string& bytes) {
    inbox_ += bytes;
    std::shared_ptr<bool> alive = alive_;
    while (*alive && state_ == sckConnected && !inbox_.empty() && events_.dataArrival) {
        std::size_t before = inbox_.size();
        host_.runHandler(events_.dataArrival);
        if (*alive && inbox_.size() == before) break;  // left unread: the server holds it back
    }
}

void FakeSocket::arrive(const std::string& bytes) {
    inbox_ += bytes;
    for (const auto& [socket, alive] : host_.ready_)
        if (socket == this && *alive) return;
    host_.ready_.emplace_back(this, alive_);
}

void FakeSocket::catchUp() {
    reading = true;
    taken += unsent;
    unsent = 0;
}

void FakeSocket::peerCloses() {
    if (state_ != sckConnected) return;
    state_ = sckClosing;
    if (events_.closed) host_.runHandler(events_.closed);
}

std::string FakeSocket::takeSent() {
    std::string out = sent.substr(takenSent_);
    takenSent_ = sent.size();
    return out;
}

bool FakeTimer::fire() {
    if (!running() || !tick_) return false;
    host_.runHandler(tick_);
    return true;
}

std::string FakeListener::requestAddress(RequestId request) const {
    auto it = host_->pending_.find(request);
    return it == host_->pending_.end() ? std::string() : it->second;
}

bool FakeListener::listen(const std::string& bindAddress, int port, ListenError& error) {
    ++listenCalls;
    if (takenPorts.count(port)) {
        error = {errAddressInUse, "Address in use"};
        return false;
    }
    boundAddress = bindAddress;
    port_ = port;
    listening_ = true;
    return true;
}

FakeHost::FakeHost() : listener_(*this) {}
FakeHost::~FakeHost() = default;

std::unique_ptr<ClientSocket> FakeHost::createClientSocket() {
    auto socket = std::make_unique<FakeSocket>(*this, nextSocketId_++);
    live_.push_back(socket.get());
    return socket;
}

std::unique_ptr<Timer> FakeHost::createTimer() {
    auto timer = std::make_unique<FakeTimer>(*this);
    timers.push_back(timer.get());
    return timer;
}

void FakeHost::runHandler(const std::function<void()>& handler) {
    ++depth_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{depth_};
    handler();
    if (depth_ > 1) return;
    if (afterHandlers_) afterHandlers_();
    // The output has been written: shared frames are let go, as the real host does.
    shared_.clear();
}

std::string_view FakeHost::share(std::string_view frame) { return shared_.emplace_back(frame); }

bool FakeHost::resetOldestClosing() {
    if (closing == 0) return false;
    --closing;
    ++closingResets;
    return true;
}

int FakeHost::turn() {
    std::vector<std::pair<FakeSocket*, std::shared_ptr<bool>>> due;
    due.swap(ready_);
    int served = 0;
    runHandler([&] {
        for (const auto& [socket, alive] : due) {
            if (!*alive || socket->inbox_.empty() || socket->state_ != sckConnected || !socket->events_.dataArrival) continue;
            ++served;
            socket->events_.dataArrival();
        }
    });
    for (const auto& [socket, alive] : due)
        if (*alive && !socket->inbox_.empty() && socket->state_ == sckConnected) ready_.emplace_back(socket, alive);
    return served;
}

void FakeHost::yield() {
    ++yields;
    events.push_back("yield");
}

double FakeHost::next() {
    if (randomScript.empty()) return fallback_.next();
    double value = randomScript.front();
    randomScript.pop_front();
    return value;
}

FakeSocket* FakeHost::connect(const std::string& address) {
    if (!listener_.listening_ || !listener_.handler_) return nullptr;
    RequestId request = nextRequest_++;
    pending_[request] = address;
    lastAccepted_ = nullptr;
    runHandler([&] { listener_.handler_(request); });
    pending_.erase(request);
    return lastAccepted_;
}

}  // namespace murmur::test
