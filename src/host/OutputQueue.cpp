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
    if (openSize_ > 0) {
        // Own bytes follow each other in own; frames shared one after the other lie one after the
        // other in the arena: either way one piece, one iovec, and the pool is not touched.
        bool follows = shared ? openShared_ && openShared_ + openSize_ == from : !openShared_;
        if (follows && openSize_ + size <= 0xFFFFFFFFu) {
            openSize_ += static_cast<std::uint32_t>(size);
            return;
        }
        std::uint32_t index = batch.append(openShared_, openSize_);
        if (tail_ == kNoPiece) head_ = index;
        else batch.pieces_[tail_].next = index;
        tail_ = index;
    }
    openShared_ = from;
    openSize_ = static_cast<std::uint32_t>(size);
}

// Calls the visitor with each piece of this batch's output in order, as (data, size): own bytes
// come from own after the leftover. Stops when the visitor returns false.
template <typename Visit>
void OutputQueue::forEachPiece(const OutputBatch& batch, Visit&& visit) const {
    std::size_t ownAt = ownWritten_ + leftover_;
    auto at = [&](const char* shared, std::size_t size) {
        if (shared) return shared;
        const char* data = own_.data() + ownAt;
        ownAt += size;
        return data;
    };
    for (std::uint32_t i = head_; i != kNoPiece; i = batch.pieces_[i].next) {
        const OutputBatch::Piece& piece = batch.pieces_[i];
        if (!visit(at(piece.shared, piece.size), piece.size)) return;
    }
    if (openSize_ > 0) visit(at(openShared_, openSize_), openSize_);
}

std::size_t OutputQueue::gather(const OutputBatch& batch, iovec* iov) const {
    std::size_t count = 0;
    if (leftover_ > 0) iov[count++] = {const_cast<char*>(own_.data() + ownWritten_), leftover_};
    forEachPiece(batch, [&](const char* data, std::size_t size) {
        iov[count++] = {const_cast<char*>(data), size};
        return count < kPiecesPerWrite;
    });
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
    auto consume = [&](const char*& shared, std::uint32_t& size) {
        take = std::min<std::size_t>(written, size);
        if (shared) shared += take;
        else ownWritten_ += take;
        size -= static_cast<std::uint32_t>(take);
        written -= take;
    };
    while (written > 0 && head_ != kNoPiece) {
        OutputBatch::Piece& piece = batch.pieces_[head_];
        consume(piece.shared, piece.size);
        if (piece.size == 0) head_ = piece.next;
    }
    if (head_ == kNoPiece) tail_ = kNoPiece;
    if (written > 0) consume(openShared_, openSize_);
}

void OutputQueue::keepUnsent(const OutputBatch& batch) {
    bool anyShared = openSize_ > 0 && openShared_;
    for (std::uint32_t i = head_; i != kNoPiece && !anyShared; i = batch.pieces_[i].next)
        anyShared = batch.pieces_[i].shared;
    if (anyShared) {
        std::string kept;
        kept.reserve(unsent_);
        kept.append(own_, ownWritten_, leftover_);
        forEachPiece(batch, [&](const char* data, std::size_t size) {
            kept.append(data, size);
            return true;
        });
        own_.swap(kept);
    } else {
        own_.erase(0, ownWritten_);
    }
    ownWritten_ = 0;
    leftover_ = unsent_;
    forgetPieces();
}

void OutputQueue::drop() {
    std::string().swap(own_);
    ownWritten_ = 0;
    leftover_ = 0;
    unsent_ = 0;
    forgetPieces();
}

void OutputQueue::forgetPieces() {
    head_ = tail_ = kNoPiece;
    openShared_ = nullptr;
    openSize_ = 0;
}

}  // namespace murmur
