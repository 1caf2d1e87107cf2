// Output on its way to the peers. A frame that goes to many connections (a chat line to a
// channel, a logon notice to everyone) is copied once into the batch and each connection queues a
// reference to it; a connection's own bytes are copied into its queue. A flush offers each queue to
// its socket in one gathered write; only what the socket does not take is copied, into the
// connection's own buffer, before the batch starts again.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace murmur {

class OutputQueue;

// The shared frames and the queue pieces of every connection since the last flush.
class OutputBatch {
public:
    OutputBatch();
    // One copy of a frame for many connections, valid until the reset.
    std::string_view share(std::string_view frame);
    // Every queue with pieces in this batch has been written (and kept what it could not write).
    void reset();

private:
    friend class OutputQueue;
    // A piece of one connection's output: bytes of a shared frame, or (shared null) the next bytes
    // of the connection's own buffer. Pieces of all connections live in one pool, each linked to
    // the next of its connection, so that queueing costs no allocation.
    struct Piece {
        const char* shared;
        std::uint32_t size;
        std::uint32_t next;
    };
    std::uint32_t append(const char* shared, std::size_t size);

    std::vector<Piece> pieces_;
    // Shared frames, in chunks that never move.
    std::vector<std::unique_ptr<char[]>> arena_;
    std::size_t arenaUsed_ = 0, arenaSize_ = 0;
};

// One connection's unsent output, in the order it was sent: what earlier flushes could not write
// (at the front of its own buffer), then this batch's pieces: those in the pool, then the last one,
// which the queue keeps itself while frames keep following it.
class OutputQueue {
public:
    enum class Written { all, blocked, gone };

    // Queues a copy of the bytes.
    void add(OutputBatch& batch, std::string_view bytes) { addPiece(batch, bytes.data(), bytes.size(), false); }
    // Queues a frame that the batch shared, by reference.
    void addShared(OutputBatch& batch, std::string_view frame) { addPiece(batch, frame.data(), frame.size(), true); }
    std::size_t unsent() const { return unsent_; }
    // Bytes the writer has taken since the queue was made.
    std::uint64_t delivered() const { return delivered_; }

    // Offers the output to the writer, `long write(const iovec*, std::size_t count)`, which returns
    // how many bytes it took, 0 when it takes nothing for now, and below 0 when the peer is gone.
    // Whatever is left when it stops taking is copied out of the batch; a drained queue keeps no
    // memory, and one whose peer is gone drops everything.
    template <typename Write>
    Written write(OutputBatch& batch, Write&& write) {
        iovec iov[kPiecesPerWrite];
        while (unsent_ > 0) {
            long taken = write(static_cast<const iovec*>(iov), gather(batch, iov));
            if (taken == 0) {
                keepUnsent(batch);
                return Written::blocked;
            }
            if (taken < 0) {
                drop();
                return Written::gone;
            }
            advance(batch, static_cast<std::size_t>(taken));
        }
        drop();
        return Written::all;
    }
    // Forgets all unsent output and frees the buffer.
    void drop();

private:
    // Pieces offered by one write; more wait for the next.
    static constexpr std::size_t kPiecesPerWrite = 256;
    static constexpr std::uint32_t kNoPiece = 0xFFFFFFFFu;

    void addPiece(OutputBatch& batch, const char* data, std::size_t size, bool shared);
    template <typename Visit>
    void forEachPiece(const OutputBatch& batch, Visit&& visit) const;
    std::size_t gather(const OutputBatch& batch, iovec* iov) const;
    void advance(OutputBatch& batch, std::size_t written);
    void keepUnsent(const OutputBatch& batch);
    // The batch's pieces are gone: written, copied out or dropped.
    void forgetPieces();

    std::string own_;
    std::size_t ownWritten_ = 0;
    std::size_t leftover_ = 0;  // bytes of own_ after ownWritten_ that earlier flushes left
    std::uint32_t head_ = kNoPiece, tail_ = kNoPiece;
    std::uint32_t openSize_ = 0;
    const char* openShared_ = nullptr;  // the last piece; null for own bytes
    std::size_t unsent_ = 0;
    std::uint64_t delivered_ = 0;
};

}  // namespace murmur
