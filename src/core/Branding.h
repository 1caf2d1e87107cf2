// The server's name and the web addresses it points people to, kept in one place.
#pragma once

namespace murmur::branding {

constexpr const char* titleText = "Murmur Server v1.2 by Halden";
constexpr const char* clientPageAddress = "http://www.example.org/murmur/client/";
constexpr const char* communityAddress = "http://community.example.org/";
constexpr const char* homeAddress = "http://www.example.org/murmur/";
constexpr const char* networkAddress = "http://www.example.org/murmur/about/";

}  // namespace murmur::branding
