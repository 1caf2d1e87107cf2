// Texts that more than one part of the server sends, kept in one place so that they stay the same.
#pragma once

namespace murmur::texts {

constexpr const char* notOnline = "That user is not online.";
// The channel every user lands in, and the one staff kicks and bans put users into.
constexpr const char* mainChannel = "Main";
constexpr const char* voidChannel = "The Void";

}  // namespace murmur::texts
