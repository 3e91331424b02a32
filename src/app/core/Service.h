// Host names of the video service. The real service is the default; the
// environment points the program at a stand-in (tests, demo):
//   CLIPHARBOR_SERVICE    "host[:port]"  the watch pages and get_video
//   CLIPHARBOR_CACHE_HOST "host"         the cache servers the clipboard ignores
#pragma once

#include <string>

// "host" or "host:port" of the watch pages.
std::string ServiceHost();
// The domain a video page address must contain: "youtube.com" by default,
// the host part of CLIPHARBOR_SERVICE when that is set.
std::string ServiceDomain();
// Host name of the cache servers that serve the video files.
std::string CacheHost();
// True for an address on the cache host, which the clipboard check leaves
// alone: one that begins with "http://" + CacheHost() (any case), or, for an
// IPv6 cache host given with or without brackets, one whose host is that
// address in any of its spellings.
bool IsCacheAddress(const std::string& text);
// "http://" + ServiceHost() + "/watch?v=piEWjpA_51Q", shown as the example.
std::string ExampleWatchUrl();
