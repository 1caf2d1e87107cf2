// The control socket: terminal consoles attached to the running server, whatever its front-end.
// Each console is shown the last lines of the chat view, then every new one; each line it sends
// is one console entry. Only the server's own user and root are let in. The server never waits
// for a console: one that does not read is let go with a word rather than held in memory.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "core/ChatView.h"
#include "core/Server.h"

class QSocketNotifier;
class QTimer;

namespace murmur {

// The data directory locked against a second server, and the control socket listening. Made
// before anything else touches the data directory.
struct ControlClaim {
    int lock = -1;      // the data directory, locked for as long as the descriptor is open
    int listener = -1;  // the control socket, or -1 when it could not be made
    std::string path;
    dev_t device = 0;   // the socket file this server made, so that it removes only that one
    ino_t inode = 0;
    std::string refusal;  // another server runs there: the server must not start
    std::string problem;  // why there is no control socket; the server runs without one
};

ControlClaim claimControlSocket(const std::string& dataDirectory);

class ControlSocket final : public QObject, public ChatSink {
public:
    // What a console entry does: the front-end's own console line, UTF-8 as typed.
    using EntryHandler = std::function<void(const std::string& utf8)>;

    // The most consoles attached at once; unsent output one may hold before it is let go.
    static constexpr std::size_t maxConsoles = 32;
    static constexpr std::size_t maxQueued = 4u << 20;
    // The backlog keeps its lines within this many bytes, so a new console is never let go at once.
    static constexpr std::size_t maxBacklogBytes = 2u << 20;

    // Takes over the claim's descriptors; without an entry handler an entry goes to the server's
    // console handler.
    ControlSocket(Server& server, ControlClaim claim, EntryHandler entry = {});
    ~ControlSocket() override;  // consoles closed, the socket file removed, the directory let go

    void lineAdded(const ChatLine& line) override;
    void cleared() override;

private:
    struct Console;

    void acceptPending();
    void readFrom(Console& console);
    void queue(Console& console, std::string bytes);
    void flush(Console& console);
    // Tells the console the notice, lets it go and tells the operator the reason.
    void letGo(Console& console, const std::string& notice, const std::string& reason);
    void finish(Console& console);
    void removeFinished();
    void sweepLeaving();
    // An operator line written after the current handler, never inside the chat view's own call.
    void reportLater(const std::string& text);

    Server& server_;
    ControlClaim claim_;
    EntryHandler entry_;
    std::unique_ptr<QSocketNotifier> listening_;
    std::unique_ptr<QTimer> sweeper_;
    std::vector<std::unique_ptr<Console>> consoles_;
    std::deque<std::string> backlog_;
    std::size_t backlogBytes_ = 0;
    bool removalDue_ = false;
};

}  // namespace murmur
