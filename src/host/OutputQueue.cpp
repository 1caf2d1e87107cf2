#include "host/OutputQueue.h"

#include <algorithm>
#include <cstring>

namespace murmur {
namespace {

// Shared frames are copied into chunks of this size (a larger frame gets a chunk of its own).
constexpr std::size_t kArenaChunk = 64 * 1024;
// A storm of logons queues a piece per logon for every connection that has not logged on yet (it
// hears of the newcomer but not of its join, so the frames it gets do not lie one after the other):
// hundreds of thousands in one batch. The pool keeps no more than this for the quiet that follows.
constexpr std::size_t kPiecesKept = 16 * 1024;

}  // namespace

OutputBatch::OutputBatch() { reset(); }

std::string_view OutputBatch::share(std::string_view frame) {
    if (arenaUsed_ + frame.size() > arenaSize_) {
        arenaSize_ = std::max(kArenaChunk, frame.size());
        arena_.push_back(std::make_unique<char[]>(arenaSize_));
        arenaUsed_ = 0;
    }
    char* at = arena_.back().get() + arenaUsed_;
    if (!frame.empty()) std::memcpy(at, frame.data(), frame.size());
    arenaUsed_ += frame.size();
    return {at, frame.size()};
}

void OutputBatch::reset() {
    if (pieces_.capacity() > kPiecesKept) std::vector<Piece>().swap(pieces_);
    else pieces_.clear();
    // The first chunk stays for the next batch.
    if (arena_.size() > 1 || arenaSize_ != kArenaChunk) arena_.clear();
    if (arena_.empty()) {
        arena_.push_back(std::make_unique<char[]>(kArenaChunk));
        arenaSize_ = kArenaChunk;
    }
    arenaUsed_ = 0;
}

std::uint32_t OutputBatch::append(const char* shared, std::size_t size) {
    auto index = static_cast<std::uint32_t>(pieces_.size());
    pieces_.push_back({shared, static_cast<std::uint32_t>(size), 0xFFFFFFFFu});
    return index;
}

void OutputQueue::addPiece(OutputBatch& batch, const char* data, std::size_t size, bool shared) {
    if (size == 0) return;
    const char* from = shared ? data : nullptr;
    if (!shared) own_.append(data, size);
    unsent_ += size;
    if (tail_ != kNoPiece) {
        OutputBatch::Piece& last = batch.pieces_[tail_];
        // Own bytes follow each other in own; frames shared one after the other lie one after the
        // other in the arena: either way one piece, one iovec.
        bool follows = shared ? last.shared && last.shared + last.size == from : !last.shared;
        if (follows && last.size + size <= 0xFFFFFFFFu) {
            last.size += static_cast<std::uint32_t>(size);
            return;
        }
    }
    std::uint32_t index = batch.append(from, size);
    if (tail_ == kNoPiece) head_ = index;
    else batch.pieces_[tail_].next = index;
    tail_ = index;
}

std::size_t OutputQueue::gather(const OutputBatch& batch, iovec* iov) const {
    std::size_t count = 0, ownAt = ownWritten_;
    if (leftover_ > 0) {
        iov[count++] = {const_cast<char*>(own_.data() + ownAt), leftover_};
        ownAt += leftover_;
    }
    for (std::uint32_t at = head_; at != kNoPiece && count < kPiecesPerWrite; at = batch.pieces_[at].next) {
        const OutputBatch::Piece& piece = batch.pieces_[at];
        const char* data = piece.shared;
        if (!data) {
            data = own_.data() + ownAt;
            ownAt += piece.size;
        }
        iov[count++] = {const_cast<char*>(data), piece.size};
    }
    return count;
}

void OutputQueue::advance(OutputBatch& batch, std::size_t written) {
    written = std::min(written, unsent_);
    delivered_ += written;
    unsent_ -= written;
    std::size_t take = std::min(written, leftover_);
    leftover_ -= take;
    ownWritten_ += take;
    written -= take;
    while (written > 0) {
        OutputBatch::Piece& piece = batch.pieces_[head_];
        take = std::min<std::size_t>(written, piece.size);
        if (piece.shared) piece.shared += take;
        else ownWritten_ += take;
        piece.size -= static_cast<std::uint32_t>(take);
        written -= take;
        if (piece.size == 0) head_ = piece.next;
    }
    if (head_ == kNoPiece) tail_ = kNoPiece;
}

void OutputQueue::keepUnsent(const OutputBatch& batch) {
    bool anyShared = false;
    for (std::uint32_t at = head_; at != kNoPiece && !anyShared; at = batch.pieces_[at].next)
        anyShared = batch.pieces_[at].shared;
    if (anyShared) {
        std::string kept;
        kept.reserve(unsent_);
        std::size_t ownAt = ownWritten_;
        kept.append(own_, ownAt, leftover_);
        ownAt += leftover_;
        for (std::uint32_t at = head_; at != kNoPiece; at = batch.pieces_[at].next) {
            const OutputBatch::Piece& piece = batch.pieces_[at];
            if (piece.shared) {
                kept.append(piece.shared, piece.size);
            } else {
                kept.append(own_, ownAt, piece.size);
                ownAt += piece.size;
            }
        }
        own_.swap(kept);
    } else {
        own_.erase(0, ownWritten_);
    }
    ownWritten_ = 0;
    leftover_ = unsent_;
    head_ = tail_ = kNoPiece;
}

void OutputQueue::drop() {
    std::string().swap(own_);
    ownWritten_ = 0;
    leftover_ = 0;
    unsent_ = 0;
    head_ = tail_ = kNoPiece;
}

}  // namespace murmur
