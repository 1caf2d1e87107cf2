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
    window = SIZE_MAX;
    backlog = 0;
    out_.drop();
    received.clear();
    acceptedAt_ = sent.size();
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
    sent += bytes;
    host_.events.push_back("send " + std::to_string(id_));
    out_.add(host_.batch_, bytes);
    queue();
    return pendingOutput();
}

std::size_t FakeSocket::sendShared(std::string_view frame) {
    if (state_ != sckConnected) return 0;
    ++sharedSends;
    sent += frame;
    host_.events.push_back("send " + std::to_string(id_));
    out_.addShared(host_.batch_, frame);
    queue();
    return pendingOutput();
}

void FakeSocket::queue() {
    if (queued_) return;
    queued_ = true;
    host_.flushList_.emplace_back(this, alive_);
}

void FakeSocket::flush() {
    queued_ = false;
    std::size_t room = reading ? window : 0;
    out_.write(host_.batch_, [&](const iovec* iov, std::size_t count) -> long {
        std::size_t took = 0;
        for (std::size_t i = 0; i < count && took < room; ++i) {
            std::size_t n = std::min(iov[i].iov_len, room - took);
            received.append(static_cast<const char*>(iov[i].iov_base), n);
            took += n;
        }
        room -= took;
        taken += took;
        return static_cast<long>(took);
    });
}

bool FakeSocket::outputInOrder() const {
    std::string_view since = std::string_view(sent).substr(acceptedAt_);
    return since.size() == received.size() + out_.unsent() && since.starts_with(received);
}

void FakeSocket::close() {
    if (state_ == sckClosed) return;
    state_ = sckClosed;
    ++closes;
    host_.events.push_back("close " + std::to_string(id_));
    // What was sent before the close still goes out, as far as the peer takes it.
    flush();
}

void FakeSocket::abort() {
    if (state_ == sckClosed) return;
    state_ = sckClosed;
    ++resets;
    backlog = 0;
    out_.drop();
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
    window = SIZE_MAX;
    taken += backlog;
    backlog = 0;
    flush();
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
    // The output is written, and the batch of shared frames starts again, as the real host does.
    std::vector<std::pair<FakeSocket*, std::shared_ptr<bool>>> due;
    due.swap(flushList_);
    for (const auto& [socket, alive] : due)
        if (*alive) socket->flush();
    batch_.reset();
}

std::string_view FakeHost::share(std::string_view frame) { return batch_.share(frame); }

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
