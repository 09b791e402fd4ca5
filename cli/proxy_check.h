#pragma once
// A proxy that cannot be reached would make every page come back empty and the run look like a
// marketplace without results; the command line checks it once before any run.
#include <string>

// The proxy the page fetches will use for http addresses: http_proxy, else HTTP_PROXY; empty when
// none is set.
std::string http_proxy_from_environment();

// True when a TCP connection to the proxy's host and port can be opened.
bool proxy_reachable(const std::string& proxy_url);
